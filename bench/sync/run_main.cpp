// bench_sync_run ftp|sftp PORT USER PASSWORD REMOTE_FOLDER LOCAL_FOLDER up|down
//
// One whole synchronisation run through SyncRun, as the synchronisation
// window starts it, with every question answered "go on" and nothing shown:
// connect, both walks, plan, folders, transfers, the second listing, the
// cache, disconnect. The cache lives in $XDG_CONFIG_HOME, so the caller
// decides whether this is a first run (no cache) or a later one.
//
// Prints one line: "total S work S up N down N failed N | " and the seconds
// of each step (connect, the remote listings, the remote files' dates, the
// local walk with the cache's load, plan+folders, transfers, the listings
// and dates again with the cache's save, disconnect); work is everything
// after the login. Exits 1 when the run stopped on an alert or failed an item.
#include "platform/core/EventLoop.h"
#include "sync/window/SyncRun.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// A run that answers like a user who lets everything happen, and notes when
// each step began.
class TimedRun : public SyncRun {
public:
    enum Step {
        Start,
        Connected,
        Dates,
        Walked,
        Folders,
        Files,
        Relist,
        RelistDates,
        Disconnect,
        Closed,
        Steps
    };
    Clock::time_point at[Steps];
    bool seen[Steps] = {};
    bool closed = false;
    std::string alert;

    void Mark(Step step) {
        if (!seen[step]) {
            seen[step] = true;
            at[step] = Clock::now();
        }
    }
    // From the start of `step` to the start of the next step the run took;
    // a step the run skipped (nothing to transfer) takes no time.
    double Span(Step step) const {
        if (!seen[step])
            return 0;
        for (int next = step + 1; next < Steps; ++next)
            if (seen[next])
                return std::chrono::duration<double>(at[next] - at[step]).count();
        return 0;
    }
    double From(Step step) const {
        return seen[step] && seen[Closed]
                   ? std::chrono::duration<double>(at[Closed] - at[step]).count()
                   : 0;
    }

    void ConnectComplete() override {
        Mark(Connected);
        SyncRun::ConnectComplete();
    }

protected:
    void BuildRemoteList() override {
        SyncRun::BuildRemoteList();
        // Every folder listed: the dates of the files were asked for.
        if (mRemoteCursor >= mRemoteList.size())
            Mark(mSecondPass ? RelistDates : Dates);
    }
    void BuildLocalList() override {
        if (!mSecondPass)
            Mark(Walked);
        SyncRun::BuildLocalList();
    }
    void SyncFolders() override {
        Mark(Folders);
        SyncRun::SyncFolders();
    }
    void SyncFiles() override {
        Mark(Files);
        SyncRun::SyncFiles();
    }
    void SyncComplete() override {
        Mark(Relist);
        SyncRun::SyncComplete();
    }
    void FinishSync() override {
        Mark(Disconnect);
        SyncRun::FinishSync();
    }

    void ShowTitle(const std::string&) override {}
    void ShowStatus(const std::string&) override {}
    void ShowStopAlert(const std::string& message, const std::string& explanation) override {
        alert = message + " " + explanation;
    }
    void ShowCautionAlert(const std::string& message, const std::string& explanation) override {
        alert = message + " " + explanation;
    }
    void ShowNotice(const std::string& message) override { alert = message; }
    uint32_t AskFirstTime(const std::string&, const std::string&) override { return 'No  '; }
    std::optional<SyncChoice> AskConflict(const SyncConflict&) override { return SyncChoice::Skip; }
    bool AskRedial(const std::string& message, bool) override {
        alert = message;
        return false;
    }
    bool AskGoOn(const std::string& message, const std::string&) override {
        alert = message;
        return true;
    }
    void ShowTransferStart(const sFileProgress&, uint32_t, uint64_t) override {}
    void ShowTransferUpdate(const sFileProgress&) override {}
    void ShowTransferEnd(const sFileProgress&) override {}
    void HideTransfer(bool) override {}
    void ShowTransferAgain() override {}
    void ShowSummary(const SyncCounts&) override {}
    void CloseRun() override {
        Mark(Closed);
        closed = true;
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s ftp|sftp PORT USER PASSWORD REMOTE LOCAL up|down\n",
                     argv[0]);
        return 2;
    }
    PPx::CoreApplication app(argc, argv);
    const std::string direction = argv[7];
    sSyncBookMarkData bookmark;
    bookmark.name = std::string("bench-") + argv[1] + "-" + direction;
    bookmark.host = "127.0.0.1";
    bookmark.port = std::atoi(argv[2]);
    bookmark.username = argv[3];
    bookmark.password = argv[4];
    bookmark.passive = true;
    bookmark.secure = std::string(argv[1]) == "sftp";
    bookmark.remoteDir = argv[5];
    bookmark.localDir = argv[6];
    // One way, deleting on the far side what is gone here: what "sync" means
    // to the other tools.
    bookmark.action = direction == "up" ? 1 : 2;
    bookmark.deleteRemote = direction == "up";
    bookmark.deleteLocal = direction != "up";

    TimedRun run;
    run.Mark(TimedRun::Start);
    run.StartSession(bookmark);
    if (!PPx::RunEventLoopUntil([&] { return run.closed; }, 600s)) {
        std::fprintf(stderr, "bench_sync_run: the run did not end\n");
        return 1;
    }
    using S = TimedRun;
    const SyncCounts& counts = run.Counts();
    std::printf("total %.3f work %.3f up %u down %u failed %u | connect %.3f remote-list %.3f "
                "remote-dates %.3f local-walk %.3f plan+folders %.3f transfers %.3f relist %.3f "
                "relist-dates %.3f disconnect %.3f\n",
                run.From(S::Start), run.From(S::Connected), counts.uploaded, counts.downloaded,
                counts.failed, run.Span(S::Start), run.Span(S::Connected), run.Span(S::Dates),
                run.Span(S::Walked), run.Span(S::Folders), run.Span(S::Files), run.Span(S::Relist),
                run.Span(S::RelistDates), run.Span(S::Disconnect));
    if (!run.alert.empty() || counts.failed != 0) {
        std::fprintf(stderr, "bench_sync_run: %s\n", run.alert.c_str());
        return 1;
    }
    return 0;
}

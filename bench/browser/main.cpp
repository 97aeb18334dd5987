// A folder of many entries listed in the real browser window (offscreen),
// against `lftp cls -l` of the same folder on the same server. One set: a new
// window connects and shows the folder (its first listing), then REFRESHES
// times the window lists the folder again, each next to one lftp listing
// (alternating which goes first). Measured on the main thread: the longest
// stall of its event loop (largest gap between ticks of a 1 ms timer), from
// the window's opening (first listing) or the refresh command until the list
// is filled and 300 ms after, so that the drawing that follows counts too;
// and the time from the refresh command until the list is filled. lftp's
// time is its own, between two stamps of its script, after its login.
// lftp runs twice: `cls -l` (parsed and printed as a list) and `ls` (the
// server's listing as it comes). Prints one line per run: "run KIND STALL_MS
// LIST_MS CLS_MS LS_MS STALL_CPU_MS STALL_END_MS WAITS PREEMPTIONS", KIND
// first (no times: its time includes the login) or refresh; the last three
// say where the longest stall ended (ms from the start) and how often the
// main thread blocked or was preempted within it.
//   bench_browser SERVER FOLDER REFRESHES   (ZARVEL_SERVERS names the servers' folder)
#include "bench/common/lftp_timed.h"
#include "browser/window/BrowseWindow.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/browse_support.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace browsetest;

namespace {

// The longest gap between ticks of a 1 ms timer while it runs.
class StallProbe {
public:
    StallProbe() {
        mTicker.setInterval(1);
        mTicker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&mTicker, &QTimer::timeout, [this] { Tick(); });
        mClock.start();
        mLast = 0;
        mTicker.start();
    }
    double ElapsedMs() const { return mClock.nsecsElapsed() / 1e6; }
    // Runs the event loop 300 ms more, then the longest gap in ms.
    // CpuMs() is then the main thread's processor time within that gap: far
    // below the gap, the thread was waiting for a processor, not working.
    double Finish() {
        const qint64 end = mClock.nsecsElapsed() + 300'000'000;
        WaitFor([this, end] { return mClock.nsecsElapsed() >= end; }, std::chrono::seconds(5));
        Tick();
        mTicker.stop();
        return mLongest / 1e6;
    }
    double CpuMs() const { return mLongestCpu / 1e6; }
    // Where the longest gap ended (ms from the start), and how often the
    // thread waited of its own (a blocking call) or was preempted within it.
    std::string Where() const {
        return std::to_string(mLongestEnd / 1'000'000) + " " + std::to_string(mLongestWaits) + " " +
               std::to_string(mLongestPreempted);
    }

private:
    void Tick() {
        const qint64 now = mClock.nsecsElapsed();
        const qint64 cpu = ThreadCpu();
        rusage usage{};
        ::getrusage(RUSAGE_THREAD, &usage);
        if (now - mLast > mLongest) {
            mLongest = now - mLast;
            mLongestCpu = cpu - mLastCpu;
            mLongestEnd = now;
            mLongestWaits = usage.ru_nvcsw - mLastUsage.ru_nvcsw;
            mLongestPreempted = usage.ru_nivcsw - mLastUsage.ru_nivcsw;
        }
        mLast = now;
        mLastCpu = cpu;
        mLastUsage = usage;
    }
    static qint64 ThreadCpu() {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }
    QTimer mTicker;
    QElapsedTimer mClock;
    qint64 mLast = 0, mLongest = 0, mLastCpu = ThreadCpu(), mLongestCpu = 0, mLongestEnd = 0;
    long mLongestWaits = 0, mLongestPreempted = 0;
    rusage mLastUsage{};
};

// lftp logs in and changes to FOLDER untimed, then runs COMMAND (a listing
// sent to /dev/null) between two stamps of its own; seconds.
double LftpListing(const std::string& server, const std::string& folder, const std::string& script,
                   const std::string& command) {
    benchlftp::WriteScript(script, server, "", folder, command + " >/dev/null");
    std::string output;
    const double seconds = benchlftp::Run(script, output);
    if (seconds < 0) {
        std::fprintf(stderr, "lftp failed:\n%s", output.c_str());
        std::exit(1);
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SERVER FOLDER REFRESHES\n", argv[0]);
        return 2;
    }
    const std::string server = argv[1];
    const std::string folder = argv[2];
    const int refreshes = std::max(1, std::atoi(argv[3]));
    SetUpApplication();
    std::string root;
    const sBookMarkData bookmark = ServerBookmark(server, folder, root);
    const std::string script = "/tmp/zarvel-bench-browser-lftp-" + std::to_string(::getpid());

    BrowseWindow* window = OpenBrowseWindow(bookmark, nullptr);
    if (!window) {
        std::fprintf(stderr, "no window\n");
        return 1;
    }
    {
        StallProbe probe;
        if (!WaitIdle(window, std::chrono::seconds(300))) {
            std::fprintf(stderr, "the first listing did not arrive\n");
            return 1;
        }
        const double stall = probe.Finish();
        if (window->Items().empty()) {
            std::fprintf(stderr, "the folder was listed empty\n");
            return 1;
        }
        std::printf("run first %.1f -1 -1 -1 %.1f %s\n", stall, probe.CpuMs(),
                    probe.Where().c_str());
    }
    for (int run = 0; run < refreshes; ++run) {
        const bool lftpFirst = (::getpid() + run) % 2;
        auto anchors = [&] {
            return std::make_pair(LftpListing(server, folder, script, "cls -l"),
                                  LftpListing(server, folder, script, "ls"));
        };
        std::pair<double, double> lftp = lftpFirst ? anchors() : std::make_pair(0.0, 0.0);
        StallProbe probe;
        window->ProcessCommand('mRFS');
        if (!WaitIdle(window, std::chrono::seconds(300))) {
            std::fprintf(stderr, "a listing did not finish\n");
            return 1;
        }
        const double listed = probe.ElapsedMs();
        const double stall = probe.Finish();
        if (!lftpFirst)
            lftp = anchors();
        std::printf("run refresh %.1f %.1f %.1f %.1f %.1f %s\n", stall, listed, lftp.first * 1000,
                    lftp.second * 1000, probe.CpuMs(), probe.Where().c_str());
        std::fflush(stdout);
    }
    ::unlink(script.c_str());
    window->Close();
    WaitGone(window, std::chrono::seconds(30));
    return 0;
}

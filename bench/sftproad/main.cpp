// bench_sftproad PORT USER PASSWORD REMOTE_FILE WORK_DIR ROUNDS
//
// Logs in once through a Connection whose bookmark asks for SFTP, then
// downloads REMOTE_FILE into WORK_DIR and uploads it back as "up-conn",
// ROUNDS times. Prints "down SECONDS" and "up SECONDS" per round.
#include "bench/common/recording_frontend.h"
#include "engine/Connection.h"
#include "platform/core/EventLoop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

using Frontend = benchfront::RecordingFrontend;

bool Run(Frontend& f, const std::function<void()>& send) {
    f.done = f.ok = false;
    send();
    PPx::RunEventLoopUntil([&] { return f.done; }, 3600s);
    return f.done && f.ok;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_sftproad: %s\n", what.c_str());
    std::exit(1);
}

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 7)
        Fail("usage: bench_sftproad PORT USER PASSWORD REMOTE_FILE WORK_DIR ROUNDS");
    PPx::CoreApplication app(argc, argv);
    const std::string remote = argv[4];
    const std::string work = argv[5];
    const int rounds = std::max(1, std::atoi(argv[6]));

    Frontend frontend;
    Connection connection(&frontend);
    sBookMarkData bookmark;
    bookmark.host = "127.0.0.1";
    bookmark.port = std::atoi(argv[1]);
    bookmark.username = argv[2];
    bookmark.password = argv[3];
    bookmark.secure = true;
    if (!Run(frontend, [&] { connection.Initialize(bookmark); }))
        Fail("login: " + frontend.error);

    for (int round = 0; round < rounds; ++round) {
        ::unlink((work + "/" + remote).c_str());
        sDownloadInfo down;
        down.destination = work;
        sFileInfo item;
        item.name = remote;
        down.files = {item};
        // Each way starts without the other's write-back pending.
        ::sync();
        auto t = Clock::now();
        if (!Run(frontend, [&] { connection.Download(down); }))
            Fail("download: " + frontend.error);
        std::printf("down %.3f\n", Seconds(t));

        ::rename((work + "/" + remote).c_str(), (work + "/up-conn").c_str());
        sUploadInfo up;
        sFileInfo source;
        source.name = "up-conn";
        source.owner = work;
        up.files = {source};
        ::sync();
        t = Clock::now();
        if (!Run(frontend, [&] { connection.Upload(up); }))
            Fail("upload: " + frontend.error);
        std::printf("up %.3f\n", Seconds(t));
        std::fflush(stdout);
    }
    Run(frontend, [&] { connection.Disconnect(); });
    return 0;
}

// bench_connection HOST PORT USER PASSWORD REMOTE_FILE WORK_DIR ROUNDS
//
// Downloads REMOTE_FILE and uploads it back, once with the FTP engine alone on
// this thread and once through a Connection driven from the main event loop,
// ROUNDS times each, interleaved. Prints the best time of each way and how
// many progress messages reached the main thread per second.
#include "bench/common/recording_frontend.h"
#include "engine/Connection.h"
#include "engine/FTPEngine.h"
#include "platform/core/EventLoop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

struct Args {
    std::string host, user, password, remote, work;
    int port = 0;
    int rounds = 3;
};

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Counts the progress messages and ends the wait's loop as well.
class Frontend : public benchfront::RecordingFrontend {
public:
    int updates = 0;
    int maxPerSecond = 0;
    std::deque<Clock::time_point> window;

    void Reset() {
        done = ok = false;
        updates = maxPerSecond = 0;
        window.clear();
    }
    // The wait runs a plain nested event loop, as a window's main loop
    // would: it sleeps until a message arrives, without polling.
    PPx::ModalLoop* loop = nullptr;
    void Finish(bool success) override {
        RecordingFrontend::Finish(success);
        if (loop)
            loop->Quit();
    }
    void UpdateTransfer(const sFileProgress&) override {
        const auto now = Clock::now();
        ++updates;
        window.push_back(now);
        while (now - window.front() >= 1s)
            window.pop_front();
        maxPerSecond = std::max(maxPerSecond, static_cast<int>(window.size()));
    }
};

bool Wait(Frontend& f) {
    if (!f.done) {
        PPx::ModalLoop loop;
        f.loop = &loop;
        loop.Run();
        f.loop = nullptr;
    }
    return f.done && f.ok;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_connection: %s\n", what.c_str());
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 7)
        Fail("usage: bench_connection HOST PORT USER PASSWORD REMOTE_FILE WORK_DIR [ROUNDS]");
    Args a;
    a.host = argv[1];
    a.port = std::atoi(argv[2]);
    a.user = argv[3];
    a.password = argv[4];
    a.remote = argv[5];
    a.work = argv[6];
    if (argc > 7)
        a.rounds = std::max(1, std::atoi(argv[7]));
    PPx::CoreApplication app(argc, argv);

    FTPEngine engine;
    if (!engine.Connect(a.host, a.port, 60) || !engine.Authenticate(a.user, a.password, ""))
        Fail(std::string("engine login: ") + engine.GetLastError());

    Frontend frontend;
    Connection connection(&frontend);
    sBookMarkData bookmark;
    bookmark.host = a.host;
    bookmark.port = a.port;
    bookmark.username = a.user;
    bookmark.password = a.password;
    bookmark.passive = true;
    if (connection.Initialize(bookmark) != 0 || !Wait(frontend))
        Fail("connection login: " + frontend.error);

    const std::string engineLocal = a.work + "/engine.bin";
    const std::string connLocal = a.work + "/conn.bin";
    double engineDown = 1e9, connDown = 1e9, engineUp = 1e9, connUp = 1e9;
    int updates = 0, maxPerSecond = 0;
    double updateSeconds = 0;
    auto engineDownload = [&] {
        ::unlink(engineLocal.c_str());
        ::sync();
        const auto t = Clock::now();
        if (!engine.GetFile(a.remote, engineLocal, 0, false, true))
            Fail(std::string("engine download: ") + engine.GetLastError());
        engineDown = std::min(engineDown, Seconds(t));
        if (std::getenv("BENCH_VERBOSE"))
            std::fprintf(stderr, "engine down %.3f\n", Seconds(t));
    };
    auto connectionDownload = [&] {
        ::unlink(connLocal.c_str());
        sDownloadInfo down;
        down.destination = a.work;
        sFileInfo item;
        item.name = a.remote;
        down.files = {item};
        frontend.Reset();
        ::sync();
        const auto t = Clock::now();
        connection.Download(down);
        if (!Wait(frontend))
            Fail("connection download: " + frontend.error);
        const double d = Seconds(t);
        connDown = std::min(connDown, d);
        if (std::getenv("BENCH_VERBOSE"))
            std::fprintf(stderr, "conn   down %.3f\n", d);
        updates += frontend.updates;
        updateSeconds += d;
        maxPerSecond = std::max(maxPerSecond, frontend.maxPerSecond);
        // The connection's copy landed under the remote name.
        ::rename((a.work + "/" + a.remote).c_str(), connLocal.c_str());
    };
    auto engineUpload = [&] {
        ::sync();
        const auto t = Clock::now();
        if (!engine.PutFile("up-engine.bin", engineLocal, 0, false, true))
            Fail(std::string("engine upload: ") + engine.GetLastError());
        engineUp = std::min(engineUp, Seconds(t));
    };
    auto connectionUpload = [&] {
        sUploadInfo up;
        sFileInfo source;
        source.name = "conn.bin";
        source.owner = a.work;
        up.files = {source};
        frontend.Reset();
        ::sync();
        const auto t = Clock::now();
        connection.Upload(up);
        if (!Wait(frontend))
            Fail("connection upload: " + frontend.error);
        const double u = Seconds(t);
        connUp = std::min(connUp, u);
        updates += frontend.updates;
        updateSeconds += u;
        maxPerSecond = std::max(maxPerSecond, frontend.maxPerSecond);
    };
    // Each way goes first in every other round, so neither always meets the
    // other's write-back.
    for (int round = 0; round < a.rounds; ++round) {
        if (round % 2 == 0) {
            engineDownload();
            connectionDownload();
            engineUpload();
            connectionUpload();
        } else {
            connectionDownload();
            engineDownload();
            connectionUpload();
            engineUpload();
        }
    }
    std::printf("download: engine %.3f s, connection %.3f s, ratio %.3f\n", engineDown, connDown,
                engineDown / connDown);
    std::printf("upload:   engine %.3f s, connection %.3f s, ratio %.3f\n", engineUp, connUp,
                engineUp / connUp);
    std::printf("progress: %.2f messages/s on average, at most %d in any second\n",
                updates / updateSeconds, maxPerSecond);
    engine.SendCommand("QUIT");
    engine.Disconnect();
    return 0;
}

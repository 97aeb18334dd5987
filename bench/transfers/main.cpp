// Transfers through the real browser window (offscreen), with its download
// and upload commands and their choosers answered as a user would, against
// `lftp mirror` / `mirror -R` (and get / put for the single file) over the
// same server, and against a Connection without a window given the same list
// (which shows what the window itself adds).
// A window run is timed from the chooser's answer to the window idle again:
// its listings of the folders to download, and after an upload its listing
// of the folder, count, as they are part of what the user waits for. The
// window and the Connection are waited for the same way (the event loop,
// woken at least every 10 ms). Login is never timed: the window and the
// Connection are connected before the clock starts, and lftp's script
// connects (cd) before its first time stamp. Each round changes which side
// goes first. Prints every sample, the medians, their ratios and the longest
// main-loop stall of each window run (largest gap between 10 ms timer ticks).
//   bench_transfers SERVER FOLDER LOCAL RUNS
// SERVER is vsftpd or sshd (ZARVEL_SERVERS names the servers' folder);
// FOLDER holds src/tree (the small files), src/big.bin and an empty up/,
// relative to the login folder; LOCAL holds the same tree and big.bin in src/.
#include "bench/common/lftp_timed.h"
#include "bench/common/recording_frontend.h"
#include "browser/window/BrowseWindow.h"
#include "engine/Connection.h"
#include "engine/ProtocolBackend.h"
#include "platform/core/EventLoop.h"
#include "platform/ui/DataBrowser.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/browse_support.h"
#include "tests/support/servers.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace browsetest;
namespace fs = std::filesystem;

namespace {

const auto kLong = std::chrono::seconds(900);

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_transfers: %s\n", what.c_str());
    std::exit(1);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Files and bytes below PATH (a file counts itself).
std::pair<long, uint64_t> Count(const std::string& path) {
    std::error_code error;
    if (fs::is_regular_file(path, error))
        return {1, fs::file_size(path, error)};
    long files = 0;
    uint64_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(path, error))
        if (entry.is_regular_file()) {
            ++files;
            bytes += entry.file_size();
        }
    return {files, bytes};
}

void Check(const std::string& what, const std::string& got, const std::string& want) {
    if (Count(got) != Count(want))
        Fail(what + ": " + got + " differs from " + want);
    if (fs::is_regular_file(want)) {
        const std::string cmp = "cmp -s '" + got + "' '" + want + "'";
        if (std::system(cmp.c_str()) != 0)
            Fail(what + ": " + got + " differs from " + want);
    }
}

void Remove(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

using Frontend = benchfront::RecordingFrontend;

// The same wait as the window's side: the event loop until the end arrives.
bool Wait(Frontend& f) {
    PPx::RunEventLoopUntil([&f] { return f.done; }, kLong);
    const bool ok = f.done && f.ok;
    f.done = f.ok = false;
    return ok;
}

struct Bench {
    std::string server, folder, local, root; // root: the server's files here
    sBookMarkData bookmark;
    BrowseWindow* down = nullptr; // in FOLDER/src
    BrowseWindow* up = nullptr;   // in FOLDER/up
    Frontend downFront, upFront;
    Connection* downConn = nullptr;
    Connection* upConn = nullptr;
    std::string lftpScript;

    std::string Remote(const std::string& below) const { return root + "/" + folder + "/" + below; }
    std::string Fresh() const { // an empty local folder to download into
        const std::string path = local + "/dl";
        Remove(path);
        fs::create_directories(path);
        return path;
    }
};

BrowseWindow* OpenAt(const Bench& b, const std::string& dir) {
    sBookMarkData bookmark = b.bookmark;
    bookmark.dir = b.folder + "/" + dir;
    BrowseWindow* window = OpenBrowseWindow(bookmark, nullptr);
    if (!window || !WaitIdle(window, kLong))
        Fail("the window did not list " + bookmark.dir);
    return window;
}

Connection* ConnectAt(const Bench& b, Frontend& front, const std::string& dir) {
    sBookMarkData bookmark = b.bookmark;
    bookmark.dir = b.folder + "/" + dir;
    auto* connection = new Connection(&front);
    if (connection->Initialize(bookmark) != 0 || !Wait(front))
        Fail("connection to " + bookmark.dir + ": " + front.error);
    return connection;
}

// One window transfer: COMMAND ('mDNL' or 'mUPL') with NAME selected, the
// chooser answered with CHOSEN. Seconds from the answer to the window idle
// again, and the longest gap between ticks of a 10 ms timer meanwhile with
// the main thread's processor time within it: a gap spent mostly off the
// processor is the machine's doing (or a wait), one spent on it our own work.
struct WindowSample {
    double seconds = 0, stallMs = 0, stallCpuMs = 0;
    double busy = 0; // the main thread's processor time over the run, as a share of it
};

int64_t ThreadCpuNs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

WindowSample WindowRun(BrowseWindow* window, uint32_t command, const std::string& name,
                       const std::string& chosen) {
    std::vector<uint32_t> selection;
    if (!name.empty()) {
        const uint32_t item = ItemNamed(window, name);
        if (!item)
            Fail("no item " + name + " in the window");
        selection.push_back(item);
    }
    window->GetList()->SetSelection(selection);
    PPx::Testing::ProcessEvents();
    if (window->ProcessCommand(command) != PPx::noErr ||
        !WaitFor([] { return PPx::Testing::ChooserShown(); }, std::chrono::seconds(30)))
        Fail("the chooser did not come");
    ::sync();
    QElapsedTimer clock;
    qint64 lastTick = 0, longest = 0;
    int64_t lastCpu = ThreadCpuNs(), longestCpu = 0;
    auto tick = [&](qint64 now) {
        const int64_t cpu = ThreadCpuNs();
        if (now - lastTick > longest) {
            longest = now - lastTick;
            longestCpu = cpu - lastCpu;
        }
        lastTick = now;
        lastCpu = cpu;
    };
    QTimer ticker;
    ticker.setInterval(10);
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] { tick(clock.nsecsElapsed()); });
    const int64_t cpuAtStart = ThreadCpuNs();
    clock.start();
    ticker.start();
    if (!PPx::Testing::ChooseInChooser({chosen}))
        Fail("the chooser refused " + chosen);
    if (!WaitIdle(window, kLong))
        Fail("the window's transfer did not finish");
    const qint64 done = clock.nsecsElapsed();
    tick(done); // the stall that ends the run counts too
    ticker.stop();
    return {done / 1e9, longest / 1e6, longestCpu / 1e6,
            static_cast<double>(ThreadCpuNs() - cpuAtStart) / static_cast<double>(done)};
}

// The items of the local tree below FOLDER as a request names them: folders
// before their contents, paths relative to FOLDER's parent.
std::vector<sFileInfo> TreeItems(const std::string& folder) {
    const fs::path base = fs::path(folder).parent_path();
    std::vector<fs::path> paths{folder};
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<sFileInfo> items;
    for (const fs::path& path : paths) {
        sFileInfo item;
        item.name = path.lexically_relative(base).string();
        item.isFolder = fs::is_directory(path);
        item.size = item.isFolder ? 0 : fs::file_size(path);
        item.owner = base.string();
        items.push_back(item);
    }
    return items;
}

// The tree through the Connection alone; the local folders are made inside
// the timed part, as the window makes them before it asks.
double ConnectionTreeDownload(Bench& b, const std::vector<sFileInfo>& items,
                              const std::string& destination) {
    sDownloadInfo info;
    info.destination = destination;
    info.files = items;
    for (sFileInfo& item : info.files)
        item.owner.clear();
    ::sync();
    QElapsedTimer clock;
    clock.start();
    for (const sFileInfo& item : info.files)
        if (item.isFolder)
            ::mkdir((destination + "/" + item.name).c_str(), 0777);
    b.downConn->Download(info);
    if (!Wait(b.downFront))
        Fail("connection download: " + b.downFront.error);
    return clock.nsecsElapsed() / 1e9;
}

double ConnectionTreeUpload(Bench& b, const std::vector<sFileInfo>& items) {
    sUploadInfo info;
    info.files = items;
    ::sync();
    QElapsedTimer clock;
    clock.start();
    b.upConn->Upload(info);
    if (!Wait(b.upFront))
        Fail("connection upload: " + b.upFront.error);
    return clock.nsecsElapsed() / 1e9;
}

// The listings a window's tree download asks for (the tree, then each of its
// folders) through the Connection alone: what of the window's extra time is
// listing rather than the window.
double ConnectionTreeListing(Bench& b, const std::vector<sFileInfo>& items) {
    QElapsedTimer clock;
    clock.start();
    for (const sFileInfo& item : items) {
        if (!item.isFolder)
            continue;
        b.downConn->CreateFileList(item.name, kFileListDownload);
        if (!Wait(b.downFront))
            Fail("connection listing: " + b.downFront.error);
    }
    return clock.nsecsElapsed() / 1e9;
}

double ConnectionDownload(Bench& b, const std::string& destination) {
    sDownloadInfo info;
    info.destination = destination;
    sFileInfo item;
    item.name = "big.bin";
    item.size = Count(b.Remote("src/big.bin")).second;
    info.files = {item};
    ::sync();
    QElapsedTimer clock;
    clock.start();
    b.downConn->Download(info);
    if (!Wait(b.downFront))
        Fail("connection download: " + b.downFront.error);
    return clock.nsecsElapsed() / 1e9;
}

double ConnectionUpload(Bench& b) {
    sUploadInfo info;
    sFileInfo item;
    item.name = "big.bin";
    item.owner = b.local + "/src";
    item.size = Count(item.owner + "/big.bin").second;
    info.files = {item};
    ::sync();
    QElapsedTimer clock;
    clock.start();
    b.upConn->Upload(info);
    if (!Wait(b.upFront))
        Fail("connection upload: " + b.upFront.error);
    return clock.nsecsElapsed() / 1e9;
}

// lftp connects and changes to FOLDER untimed, then runs COMMAND between two
// time stamps of its own. It does the work the window does and no more: no
// modes set on the files (mirror --no-perms, below), and over FTP no MDTM per
// file downloaded, nor SITE UTIME per file uploaded (the window sets no
// times). Over SFTP lftp still sends one FSETSTAT (the time) per file
// uploaded, in the same round trip as the file's close: no option stops it.
double Lftp(Bench& b, const std::string& dir, const std::string& command) {
    std::string settings = "set xfer:clobber on\n";
    if (b.server != "sshd")
        settings +=
            "set ftp:use-mdtm off\nset ftp:use-site-utime off\nset ftp:use-site-utime2 off\n";
    benchlftp::WriteScript(b.lftpScript, b.server, settings, b.folder + "/" + dir, command);
    ::sync();
    std::string output;
    const double seconds = benchlftp::Run(b.lftpScript, output);
    if (seconds < 0)
        Fail("lftp " + command + ":\n" + output);
    return seconds;
}

struct Samples {
    std::map<std::string, std::vector<double>> times; // by side
    std::vector<double> stalls, stallsCpu;            // of the window's runs, in ms
    std::vector<double> busy;                         // of the window's runs, in %
};

void Report(const std::string& label, const Samples& s, const std::vector<std::string>& sides) {
    std::printf("%s\n", label.c_str());
    for (const std::string& side : sides) {
        std::printf("  %-10s", side.c_str());
        for (double t : s.times.at(side))
            std::printf(" %.3f", t);
        std::printf("   median %.3f s\n", Median(s.times.at(side)));
    }
    std::printf("  %-10s", "stall ms");
    for (double t : s.stalls)
        std::printf(" %.1f", t);
    std::printf("   max %.1f ms\n", *std::max_element(s.stalls.begin(), s.stalls.end()));
    std::printf("  %-10s", "on CPU ms");
    for (double t : s.stallsCpu)
        std::printf(" %.1f", t);
    std::printf("   (the main thread's processor time within each longest stall)\n");
    std::printf("  %-10s", "main busy");
    for (double t : s.busy)
        std::printf(" %.0f%%", t);
    std::printf("   (the main thread's processor time over each window run)\n");
    const double window = Median(s.times.at("window"));
    for (const std::string& side : sides)
        if (side != "window")
            std::printf("  ratio %s/window (above 1: the window is faster) %.3f\n", side.c_str(),
                        Median(s.times.at(side)) / window);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SERVER FOLDER LOCAL RUNS\n", argv[0]);
        return 2;
    }
    Bench b;
    b.server = argv[1];
    b.folder = argv[2];
    b.local = argv[3];
    b.lftpScript = b.local + "/lftp-script";
    const int runs = std::max(5, std::atoi(argv[4]));
    SetUpApplication();
    b.bookmark = ServerBookmark(b.server, b.folder, b.root);

    b.down = OpenAt(b, "src");
    b.up = OpenAt(b, "up");
    b.downConn = ConnectAt(b, b.downFront, "src");
    b.upConn = ConnectAt(b, b.upFront, "up");
    const std::string tree = b.local + "/src/tree", big = b.local + "/src/big.bin";
    const std::string remoteTree = b.Remote("src/tree"), remoteBig = b.Remote("src/big.bin");
    const std::string upTree = b.Remote("up/tree"), upBig = b.Remote("up/big.bin");

    // Every kind of transfer: its sides, and one run of a side.
    struct Kind {
        std::string label;
        std::vector<std::string> sides;
        std::function<double(const std::string& side, WindowSample& stall)> run;
        Samples samples;
    };
    std::vector<Kind> kinds;
    // The window of the upload lists again before each run, untimed, so that
    // it knows the folder empty as a user's window would.
    auto emptyUp = [&] {
        Remove(upTree);
        Remove(upBig);
        b.up->ProcessCommand('mRFS');
        if (!WaitIdle(b.up, kLong))
            Fail("the upload window did not list again");
    };
    const std::vector<sFileInfo> treeItems = TreeItems(tree);
    kinds.push_back({"tree download (1,000 x 4 KiB)",
                     {"window", "connection", "lftp"},
                     [&](const std::string& side, WindowSample& stall) {
                         const std::string to = b.Fresh();
                         double t;
                         if (side == "window") {
                             stall = WindowRun(b.down, 'mDNL', "tree", to);
                             t = stall.seconds;
                         } else if (side == "connection") {
                             t = ConnectionTreeDownload(b, treeItems, to);
                         } else {
                             t = Lftp(b, "src", "mirror --no-perms tree '" + to + "/tree'");
                         }
                         Check("tree download", to + "/tree", remoteTree);
                         return t;
                     },
                     {}});
    kinds.push_back({"tree upload (1,000 x 4 KiB)",
                     {"window", "connection", "lftp"},
                     [&](const std::string& side, WindowSample& stall) {
                         emptyUp();
                         double t;
                         if (side == "window") {
                             stall = WindowRun(b.up, 'mUPL', "", tree);
                             t = stall.seconds;
                         } else if (side == "connection") {
                             t = ConnectionTreeUpload(b, treeItems);
                         } else {
                             t = Lftp(b, "up", "mirror --no-perms -R '" + tree + "' tree");
                         }
                         Check("tree upload", upTree, tree);
                         return t;
                     },
                     {}});
    kinds.push_back({"single file download",
                     {"window", "connection", "lftp"},
                     [&](const std::string& side, WindowSample& stall) {
                         const std::string to = b.Fresh();
                         double t;
                         if (side == "window") {
                             stall = WindowRun(b.down, 'mDNL', "big.bin", to);
                             t = stall.seconds;
                         } else if (side == "connection") {
                             t = ConnectionDownload(b, to);
                         } else {
                             t = Lftp(b, "src", "get big.bin -o '" + to + "/big.bin'");
                         }
                         Check("file download", to + "/big.bin", remoteBig);
                         return t;
                     },
                     {}});
    kinds.push_back({"single file upload",
                     {"window", "connection", "lftp"},
                     [&](const std::string& side, WindowSample& stall) {
                         emptyUp();
                         double t;
                         if (side == "window") {
                             stall = WindowRun(b.up, 'mUPL', "", big);
                             t = stall.seconds;
                         } else if (side == "connection") {
                             t = ConnectionUpload(b);
                         } else {
                             t = Lftp(b, "up", "put '" + big + "' -o big.bin");
                         }
                         Check("file upload", upBig, big);
                         return t;
                     },
                     {}});

    std::printf("%s: %d rounds, each starting with another side; seconds, login untimed\n",
                b.server.c_str(), runs);
    {
        std::vector<double> listings;
        for (int run = 0; run < runs; ++run)
            listings.push_back(ConnectionTreeListing(b, treeItems));
        std::printf(
            "listing the tree's %zu folders through the Connection alone:",
            static_cast<size_t>(std::count_if(treeItems.begin(), treeItems.end(),
                                              [](const sFileInfo& i) { return i.isFolder; })));
        for (double t : listings)
            std::printf(" %.3f", t);
        std::printf("   median %.3f s\n", Median(listings));
    }
    // ZARVEL_BENCH_ONLY, when set, picks the kinds whose label contains it.
    const char* only = std::getenv("ZARVEL_BENCH_ONLY");
    for (Kind& kind : kinds) {
        if (only && kind.label.find(only) == std::string::npos)
            continue;
        // One untimed run of each side first, so that no side alone pays for
        // warming the server and the caches.
        for (const std::string& side : kind.sides) {
            WindowSample ignored;
            kind.run(side, ignored);
        }
        for (int round = 0; round < runs; ++round) {
            const size_t n = kind.sides.size();
            for (size_t i = 0; i < n; ++i) {
                const std::string& side = kind.sides[(round + i) % n];
                WindowSample stall;
                const double t = kind.run(side, stall);
                kind.samples.times[side].push_back(t);
                if (side == "window") {
                    kind.samples.stalls.push_back(stall.stallMs);
                    kind.samples.stallsCpu.push_back(stall.stallCpuMs);
                    kind.samples.busy.push_back(100 * stall.busy);
                }
            }
        }
        Report(kind.label, kind.samples, kind.sides);
        Remove(b.local + "/dl");
        Remove(upTree);
        Remove(upBig);
    }

    delete b.downConn;
    delete b.upConn;
    for (BrowseWindow* window : {b.down, b.up}) {
        window->Close();
        WaitGone(window, std::chrono::seconds(30));
    }
    return 0;
}

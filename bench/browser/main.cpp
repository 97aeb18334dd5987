// A folder of many entries listed in the real browser window (offscreen):
// from the listing request to the list filled and sorted, the longest stall
// of the main event loop (largest gap between 10 ms timer ticks) and the
// process's peak memory. Login is not timed: the window connects and lists
// once before the timed refreshes.
//   bench_browser SERVER FOLDER RUNS   (ZARVEL_SERVERS names the servers' folder)
#include "BrowseWindow.h"
#include "browse_support.h"

#include "ppxui/Testing.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace browsetest;

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

void Print(const char* what, const std::vector<double>& samples, const char* unit) {
    std::printf("%-14s", what);
    for (double sample : samples)
        std::printf(" %.1f", sample);
    std::printf("   median %.1f %s\n", Median(samples), unit);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SERVER FOLDER RUNS\n", argv[0]);
        return 2;
    }
    const std::string server = argv[1];
    const std::string folder = argv[2];
    const int runs = std::max(5, std::atoi(argv[3]));
    SetUpApplication();
    std::string root;
    const sBookMarkData bookmark = ServerBookmark(server, folder, root);

    BrowseWindow* window = OpenBrowseWindow(bookmark, nullptr);
    if (!window || !WaitIdle(window, std::chrono::seconds(300))) {
        std::fprintf(stderr, "the first listing did not arrive\n");
        return 1;
    }
    std::printf("%s: %zu entries listed\n", server.c_str(), window->Items().size());

    std::vector<double> times, stalls;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        qint64 lastTick = 0, longest = 0;
        QTimer ticker;
        ticker.setInterval(10);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - lastTick);
            lastTick = now;
        });
        clock.start();
        ticker.start();
        window->ProcessCommand('mRFS');
        if (!WaitIdle(window, std::chrono::seconds(300))) {
            std::fprintf(stderr, "a listing did not finish\n");
            return 1;
        }
        const qint64 done = clock.nsecsElapsed();
        // The stall that ends the run counts too.
        longest = std::max(longest, done - lastTick);
        ticker.stop();
        times.push_back(done / 1e6);
        stalls.push_back(longest / 1e6);
    }
    Print("listed+sorted", times, "ms");
    Print("longest stall", stalls, "ms");
    std::printf("peak memory    %.1f MiB (whole process)\n", PeakKiB() / 1024.0);
    window->Close();
    WaitFor([window] { return !WindowAlive(window); }, std::chrono::seconds(30));
    return 0;
}

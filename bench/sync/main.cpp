// bench_sync [RUNS] [SIZES...]
//
// Times the comparison of a synchronisation run: two trees of N files each
// (in folders of 100 files, 10 folders per parent) and a cache of N entries
// per side, as after an earlier run; since then 1% of the files changed
// locally, 1% remotely, 0.1% on both sides (conflicts), 0.5% appeared on each
// side alone. Building the input is not timed. The sizes are measured in
// alternating order from round to round; every sample is printed, then the
// median per size and the time per file.
#include "sync/core/SyncPlan.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

DateTimeRec Date(int minutes) {
    DateTimeRec date{2025, 3, 1, 0, 0, 0, 0};
    date.day = static_cast<int16_t>(1 + minutes / (24 * 60) % 28);
    date.hour = static_cast<int16_t>(minutes / 60 % 24);
    date.minute = static_cast<int16_t>(minutes % 60);
    return date;
}

struct Input {
    std::vector<sFileInfo> remote, local, cachedRemote, cachedLocal;
};

std::string FolderOf(size_t file) {
    const size_t folder = file / 100;
    std::string path = "d" + std::to_string(folder % 10);
    for (size_t rest = folder / 10; rest > 0; rest /= 10)
        path = "d" + std::to_string(rest % 10) + "/" + path;
    return "tree/" + path;
}

Input Make(size_t files) {
    Input in;
    std::string lastFolder;
    auto addFolders = [&](const std::string& folder) {
        // Every folder once, parents first.
        if (folder == lastFolder)
            return;
        lastFolder = folder;
        for (size_t slash = folder.find('/');; slash = folder.find('/', slash + 1)) {
            sFileInfo entry;
            entry.name = folder.substr(0, slash);
            entry.isFolder = true;
            if (in.remote.empty() || in.remote.back().name < entry.name) {
                in.remote.push_back(entry);
                in.local.push_back(entry);
            }
            if (slash == std::string::npos)
                break;
        }
    };
    uint32_t seed = 42;
    for (size_t i = 0; i < files; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const uint32_t roll = (seed >> 8) % 1000;
        const std::string folder = FolderOf(i);
        addFolders(folder);
        sFileInfo file;
        file.name = folder + "/File " + std::to_string(i) + ".dat";
        file.size = 1000 + i;
        file.modDate = Date(static_cast<int>(i % 20000));
        file.owner = "/home/user/site";
        sFileInfo cached = file;
        cached.owner.clear();
        sFileInfo remote = file, local = file;
        if (roll < 10) {
            local.modDate = Date(30000);
            local.size += 1;
        } else if (roll < 20) {
            remote.modDate = Date(30000);
        } else if (roll < 21) {
            remote.modDate = Date(30000);
            local.modDate = Date(30001);
        }
        if (roll >= 990) {
            in.local.push_back(local); // new locally
        } else if (roll >= 985) {
            in.remote.push_back(remote); // new remotely
        } else {
            in.remote.push_back(remote);
            in.local.push_back(local);
            in.cachedRemote.push_back(cached);
            in.cachedLocal.push_back(cached);
        }
    }
    // The cache holds N entries per side.
    for (size_t i = in.cachedRemote.size(); i < files; ++i) {
        sFileInfo gone;
        gone.name = "removed/File " + std::to_string(i) + ".dat";
        gone.size = i;
        gone.modDate = Date(5);
        in.cachedRemote.push_back(gone);
        in.cachedLocal.push_back(gone);
    }
    return in;
}

double TimePlan(const Input& in, size_t& planned) {
    SyncInput input;
    input.remote = in.remote;
    input.local = in.local;
    input.cachedRemote = in.cachedRemote;
    input.cachedLocal = in.cachedLocal;
    input.action = 3;
    const auto start = std::chrono::steady_clock::now();
    const SyncPlan plan = PlanSync(input);
    const auto end = std::chrono::steady_clock::now();
    planned = plan.uploads.size() + plan.downloads.size() + plan.conflicts.size();
    return std::chrono::duration<double>(end - start).count();
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 7;
    std::vector<size_t> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.push_back(static_cast<size_t>(std::atoll(argv[i])));
    if (sizes.empty())
        sizes = {10000, 100000, 1000000};

    std::vector<Input> inputs;
    for (size_t n : sizes)
        inputs.push_back(Make(n));
    std::vector<std::vector<double>> samples(sizes.size());
    std::vector<size_t> planned(sizes.size());
    for (int round = 0; round < runs; ++round) {
        for (size_t k = 0; k < sizes.size(); ++k) {
            const size_t i = round % 2 == 0 ? k : sizes.size() - 1 - k;
            const double seconds = TimePlan(inputs[i], planned[i]);
            samples[i].push_back(seconds);
            std::printf("round %d  %8zu files  %.4f s\n", round + 1, sizes[i], seconds);
        }
    }
    std::printf("\ncomparison of two trees of N files with a cache of N entries per side\n");
    std::printf("(median of %d runs; every sample above)\n", runs);
    for (size_t i = 0; i < sizes.size(); ++i) {
        const double median = Median(samples[i]);
        std::printf("%8zu files: median %.4f s, %.0f ns per file, %zu planned (remote %zu, "
                    "local %zu entries)\n",
                    sizes[i], median, median / static_cast<double>(sizes[i]) * 1e9, planned[i],
                    inputs[i].remote.size(), inputs[i].local.size());
    }
    if (sizes.size() > 1) {
        const double first = Median(samples.front()) / static_cast<double>(sizes.front());
        const double last = Median(samples.back()) / static_cast<double>(sizes.back());
        std::printf("time per file at %zu against %zu files: %.2f (1.00 = linear)\n", sizes.back(),
                    sizes.front(), last / first);
    }
    return 0;
}

// Walks a tree the way a check does: the folder index without filters, then
// the modification time of every file entry. Prints the best time of a few
// runs and what the index holds in memory beyond its path text.
//
// Usage: bench_index ROOT [RUNS] [--mode time|facts|walk-facts]
//   time        BuildFolderIndex, then one stat for the time of each file (default)
//   facts       BuildFolderIndex, then ReadFileFacts of each file in turn
//   walk-facts  BuildFolderIndexWithFacts: the facts read on several threads

#include "config/CustomPublic.h"
#include "config/FileFacts.h"
#include "engine/index/FolderIndex.h"
#include "engine/index/FolderIndexFacts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

struct TRunResult {
    double FIndexSeconds = 0;
    double FTotalSeconds = 0;
    std::size_t FEntries = 0;
    std::size_t FFiles = 0;
    std::size_t FPathBytes = 0;
    std::size_t FIndexHeapBytes = 0; // heap held by the index
    std::size_t FTimesHeapBytes = 0; // heap held by the index and the file times
    std::int64_t FCheckSum = 0;      // keeps the time reads from being optimised away
};

// Bytes handed out by malloc, large blocks served by mmap included.
std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

enum class EMode { Time, Facts, WalkFacts };

// A file's modification time alone, from one stat call.
TDateTime ModifiedTime(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return TDateTime{};
    }
    return LocalDateTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

TRunResult RunOnce(const std::string& root, EMode mode) {
    TRunResult result;
    const std::size_t heapBefore = HeapInUse();
    const auto start = std::chrono::steady_clock::now();

    TStringList index;
    std::vector<TDateTime> times;
    std::vector<TFileFacts> facts;
    auto indexed = start;
    if (mode == EMode::WalkFacts) {
        BuildFolderIndex(root, "", "", "", "", index, false, false, true);
        indexed = std::chrono::steady_clock::now();
        result.FIndexHeapBytes = HeapInUse() - heapBefore;
        ReadFileFactsOfAll(index, facts);
        result.FFiles = facts.size();
    } else {
        BuildFolderIndex(root, "", "", "", "", index, false, false, true);
        indexed = std::chrono::steady_clock::now();
        result.FIndexHeapBytes = HeapInUse() - heapBefore;
        times.reserve(index.size());
        for (const std::string& entry : index) {
            if (TFmCustomPublic::IsFolderEntry(entry)) {
                continue;
            }
            if (mode == EMode::Facts) {
                const TFileFacts one = ReadFileFacts(entry);
                times.push_back(one.FModified);
                result.FCheckSum += one.FSize;
            } else {
                times.push_back(ModifiedTime(entry));
            }
        }
        result.FFiles = times.size();
    }
    const auto finished = std::chrono::steady_clock::now();
    result.FTimesHeapBytes = HeapInUse() - heapBefore;

    result.FIndexSeconds = std::chrono::duration<double>(indexed - start).count();
    result.FTotalSeconds = std::chrono::duration<double>(finished - start).count();
    result.FEntries = index.size();
    for (const std::string& entry : index) {
        result.FPathBytes += entry.size();
    }
    for (const TDateTime& time : times) {
        result.FCheckSum += time.FMilliseconds;
    }
    for (const TFileFacts& one : facts) {
        result.FCheckSum += one.FModified.FMilliseconds + one.FSize;
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s ROOT [RUNS] [--mode time|facts|walk-facts]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    int runs = 3;
    EMode mode = EMode::Time;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--mode" && i + 1 < argc) {
            const std::string name = argv[++i];
            if (name == "time") {
                mode = EMode::Time;
            } else if (name == "facts") {
                mode = EMode::Facts;
            } else if (name == "walk-facts") {
                mode = EMode::WalkFacts;
            } else {
                std::fprintf(stderr, "unknown mode %s\n", name.c_str());
                return 2;
            }
        } else {
            runs = std::max(1, std::atoi(argument.c_str()));
        }
    }

    RunOnce(root, mode); // warms the caches
    TRunResult best;
    for (int run = 0; run < runs; ++run) {
        const TRunResult result = RunOnce(root, mode);
        if (run == 0 || result.FTotalSeconds < best.FTotalSeconds) {
            best = result;
        }
    }
    if (best.FEntries == 0) {
        std::fprintf(stderr, "no entries below %s\n", root.c_str());
        return 1;
    }

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto perEntry = [&](std::size_t heap) {
        return (static_cast<double>(heap) - static_cast<double>(best.FPathBytes)) /
               static_cast<double>(best.FEntries);
    };
    std::printf("entries %zu\n", best.FEntries);
    std::printf("files_timed %zu\n", best.FFiles);
    std::printf("index_seconds %.4f\n", best.FIndexSeconds);
    std::printf("seconds %.4f\n", best.FTotalSeconds);
    std::printf("path_bytes %zu\n", best.FPathBytes);
    std::printf("index_heap_bytes %zu\n", best.FIndexHeapBytes);
    std::printf("bytes_per_entry %.1f\n", perEntry(best.FIndexHeapBytes));
    std::printf("bytes_per_entry_with_file_data %.1f\n", perEntry(best.FTimesHeapBytes));
    std::printf("max_rss_kib %ld\n", usage.ru_maxrss);
    std::printf("checksum %lld\n", static_cast<long long>(best.FCheckSum));
    return 0;
}

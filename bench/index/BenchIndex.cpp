// Walks a tree the way a check does: the folder index without filters, then
// the modification time of every file entry. Prints the best time of a few
// runs and what the index holds in memory beyond its path text.
//
// Usage: bench_index ROOT [RUNS] [--facts]
//   --facts reads each file's time and size with ReadFileFacts instead of
//   its time alone with GetFileModifiedTime.

#include "config/CustomPublic.h"
#include "config/FileFacts.h"
#include "engine/FolderIndex.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
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

TRunResult RunOnce(const std::string& root, bool withFacts) {
    TRunResult result;
    const std::size_t heapBefore = HeapInUse();
    const auto start = std::chrono::steady_clock::now();

    TStringList index;
    BuildFolderIndex(root, "", "", "", "", index, false, false, true);
    const auto indexed = std::chrono::steady_clock::now();
    result.FIndexHeapBytes = HeapInUse() - heapBefore;

    std::vector<TDateTime> times;
    std::vector<std::int64_t> sizes;
    times.reserve(index.size());
    if (withFacts) {
        sizes.reserve(index.size());
    }
    for (const std::string& entry : index) {
        if (TFmCustomPublic::IsFolderEntry(entry)) {
            continue;
        }
        if (withFacts) {
            const TFileFacts facts = ReadFileFacts(entry);
            times.push_back(facts.FModified);
            sizes.push_back(facts.FSize);
        } else {
            times.push_back(TFmCustomPublic::GetFileModifiedTime(entry));
        }
    }
    const auto finished = std::chrono::steady_clock::now();
    result.FTimesHeapBytes = HeapInUse() - heapBefore;

    result.FIndexSeconds = std::chrono::duration<double>(indexed - start).count();
    result.FTotalSeconds = std::chrono::duration<double>(finished - start).count();
    result.FEntries = index.size();
    result.FFiles = times.size();
    for (const std::string& entry : index) {
        result.FPathBytes += entry.size();
    }
    for (const TDateTime& time : times) {
        result.FCheckSum += time.FMilliseconds;
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s ROOT [RUNS] [--facts]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    int runs = 3;
    bool withFacts = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--facts") == 0) {
            withFacts = true;
        } else {
            runs = std::atoi(argv[i]);
        }
    }
    if (runs < 1) {
        runs = 1;
    }

    RunOnce(root, withFacts); // warms the caches
    TRunResult best;
    for (int run = 0; run < runs; ++run) {
        const TRunResult result = RunOnce(root, withFacts);
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
    std::printf("bytes_per_entry_with_times %.1f\n", perEntry(best.FTimesHeapBytes));
    std::printf("max_rss_kib %ld\n", usage.ru_maxrss);
    std::printf("checksum %lld\n", static_cast<long long>(best.FCheckSum));
    return 0;
}

#include "FolderIndexFacts.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace {

// Below this many paths a helper thread costs more than it saves.
constexpr std::size_t ParallelThreshold = 4096;
constexpr std::size_t BlockSize = 256;
constexpr unsigned MaxThreads = 4;

// Hands out blocks of paths to the threads that read them.
class TFactsReader {
public:
    TFactsReader(const TStringList& paths, std::vector<TFileFacts>& facts) : FPaths(paths), FFacts(facts) {}

    // Reads blocks until none is left or a stop was seen; only the calling
    // thread passes a stop test.
    void ReadBlocks(const TStopTest* stopRequested) {
        while (!FStopped.load(std::memory_order_relaxed)) {
            if (stopRequested != nullptr && StopRequestedBy(*stopRequested)) {
                FStopped.store(true, std::memory_order_relaxed);
                return;
            }
            const std::size_t begin = FNext.fetch_add(BlockSize, std::memory_order_relaxed);
            if (begin >= FPaths.size()) {
                return;
            }
            const std::size_t end = std::min(begin + BlockSize, FPaths.size());
            for (std::size_t i = begin; i < end; ++i) {
                FFacts[i] = ReadFileFacts(FPaths[i]);
            }
        }
    }

    void Stop() { FStopped.store(true, std::memory_order_relaxed); }

private:
    const TStringList& FPaths;
    std::vector<TFileFacts>& FFacts;
    std::atomic<std::size_t> FNext{0};
    std::atomic<bool> FStopped{false};
};

// Stops and joins the helpers however the calling thread leaves, also when
// its stop test throws.
class THelperThreads {
public:
    explicit THelperThreads(TFactsReader& reader) : FReader(reader) {}
    ~THelperThreads() {
        FReader.Stop();
        for (std::thread& helper : FHelpers) {
            helper.join();
        }
    }
    THelperThreads(const THelperThreads&) = delete;
    THelperThreads& operator=(const THelperThreads&) = delete;

    void Start(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            try {
                FHelpers.emplace_back([this] { FReader.ReadBlocks(nullptr); });
            } catch (const std::system_error&) {
                return; // no more threads: the calling thread reads the rest
            }
        }
    }

    // Waits for the helpers to finish their blocks without stopping them.
    void Finish() {
        for (std::thread& helper : FHelpers) {
            helper.join();
        }
        FHelpers.clear();
    }

private:
    TFactsReader& FReader;
    std::vector<std::thread> FHelpers;
};

} // namespace

void ReadFileFactsOfAll(const TStringList& paths, std::vector<TFileFacts>& facts,
                        const TStopTest& stopRequested) {
    facts.assign(paths.size(), TFileFacts{});
    TFactsReader reader(paths, facts);
    THelperThreads helpers(reader);
    if (paths.size() >= ParallelThreshold) {
        const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
        helpers.Start(std::min(cores, MaxThreads) - 1);
    }
    reader.ReadBlocks(&stopRequested);
    helpers.Finish();
}

void BuildFolderIndexWithFacts(const std::string& root, const std::string& includeTypes,
                               const std::string& excludeTypes, const std::string& includePaths,
                               const std::string& excludePaths, TStringList& index,
                               std::vector<TFileFacts>& facts, bool includeFolders, bool targetPass,
                               bool recurse, const TStopTest& stopRequested) {
    facts.clear();
    BuildFolderIndex(root, includeTypes, excludeTypes, includePaths, excludePaths, index, includeFolders,
                     targetPass, recurse, stopRequested);
    ReadFileFactsOfAll(index, facts, stopRequested);
}

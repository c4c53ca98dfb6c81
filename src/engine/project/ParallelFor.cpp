#include "ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Below this many items a helper thread costs more than it saves.
constexpr std::size_t ParallelThreshold = 4096;
constexpr std::size_t BlockSize = 256;
constexpr unsigned MaxThreads = 4;

class TBlockQueue {
public:
    TBlockQueue(std::size_t count, const std::function<void(std::size_t)>& body)
        : FCount(count), FBody(body) {}

    // Runs blocks until none is left or the queue was stopped.
    void Work(const TStopTest* stopRequested) {
        try {
            while (!FStopped.load(std::memory_order_relaxed)) {
                if (stopRequested != nullptr && StopRequestedBy(*stopRequested)) {
                    FStopped = true;
                    FStopSeen = true;
                    return;
                }
                const std::size_t begin = FNext.fetch_add(BlockSize, std::memory_order_relaxed);
                if (begin >= FCount) {
                    return;
                }
                const std::size_t end = std::min(begin + BlockSize, FCount);
                for (std::size_t i = begin; i < end; ++i) {
                    FBody(i);
                }
            }
        } catch (...) {
            const std::lock_guard guard(FErrorMutex);
            if (!FError) {
                FError = std::current_exception();
            }
            FStopped = true;
        }
    }

    void Stop() { FStopped = true; }
    bool StopSeen() const { return FStopSeen; }
    void RethrowError() {
        if (FError) {
            std::rethrow_exception(FError);
        }
    }

private:
    const std::size_t FCount;
    const std::function<void(std::size_t)>& FBody;
    std::atomic<std::size_t> FNext{0};
    std::atomic<bool> FStopped{false};
    std::atomic<bool> FStopSeen{false};
    std::mutex FErrorMutex;
    std::exception_ptr FError;
};

// Joins the helpers however the calling thread leaves.
class THelpers {
public:
    explicit THelpers(TBlockQueue& queue) : FQueue(queue) {}
    ~THelpers() {
        FQueue.Stop();
        Join();
    }
    THelpers(const THelpers&) = delete;
    THelpers& operator=(const THelpers&) = delete;

    void Start(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            try {
                FThreads.emplace_back([this] { FQueue.Work(nullptr); });
            } catch (const std::system_error&) {
                return; // no more threads: the calling thread does the rest
            }
        }
    }
    void Join() {
        for (std::thread& thread : FThreads) {
            thread.join();
        }
        FThreads.clear();
    }

private:
    TBlockQueue& FQueue;
    std::vector<std::thread> FThreads;
};

} // namespace

bool ParallelFor(std::size_t count, const std::function<void(std::size_t)>& body,
                 const TStopTest& stopRequested) {
    TBlockQueue queue(count, body);
    THelpers helpers(queue);
    if (count >= ParallelThreshold) {
        const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
        helpers.Start(std::min(cores, MaxThreads) - 1);
    }
    queue.Work(&stopRequested);
    helpers.Join();
    queue.RethrowError();
    return !queue.StopSeen();
}

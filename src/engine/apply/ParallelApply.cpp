#include "ParallelApply.h"

#include "ApplyItems.h"
#include "config/CustomPublic.h"
#include "engine/volume/Volume.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Results waiting for their turn in plan order, at most this many.
constexpr std::size_t ResultWindow = 1024;
// Lines of one folder that a worker takes at once: creating entries in a
// folder locks it, so workers in folders of their own do not wait for each other.
constexpr std::size_t MostLinesTakenAtOnce = 64;
// A worker's share also ends once its files hold this many bytes, so that the
// large files of one folder are copied side by side. Small files still go a
// folder at a time: 64 photos or documents rarely reach it.
constexpr std::int64_t MostBytesTakenAtOnce = 8 * 1024 * 1024;

std::string_view FolderOf(const std::string& line) {
    std::string_view path(line);
    while (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// The outcome of a line: its failure reason (empty: done), or that it was
// taken but never started because the run stopped first.
struct TLineResult {
    bool FReady = false;
    bool FSkipped = false;
    std::string FReason;
};

class TParallelPhase {
public:
    TParallelPhase(TApplyPhase phase, const TStringList& lines, const TApplyOptions& options)
        : FPhase(phase), FLines(lines), FOptions(options), FResults(ResultWindow) {}

    ~TParallelPhase() {
        {
            const std::lock_guard lock(FMutex);
            FStop = true;
            FAbandon = true;
            FChanged.notify_all();
        }
        for (std::thread& thread : FThreads) {
            thread.join();
        }
    }
    TParallelPhase(const TParallelPhase&) = delete;
    TParallelPhase& operator=(const TParallelPhase&) = delete;

    void Start(unsigned workers) {
        for (unsigned i = 0; i < workers; ++i) {
            try {
                FThreads.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break; // the threads there are do the work
            }
        }
    }
    bool Started() const { return !FThreads.empty(); }

    bool Run(const std::function<void(std::size_t)>& show,
             const std::function<void(std::size_t, const std::string&)>& done,
             const TStopTest& stopRequested) {
        std::size_t shown = 0;
        bool stopped = false;
        bool draining = false;
        TFileOperationScope::TakeHoldRequest(); // one left from an earlier run counts for nothing
        std::unique_lock lock(FMutex);
        for (;;) {
            bool progressed = false;
            while (shown < FStarted) {
                const std::size_t i = shown++;
                lock.unlock();
                show(i);
                lock.lock();
                progressed = true;
            }
            while (FCommitted < FNext && FResults[FCommitted % ResultWindow].FReady) {
                const std::size_t i = FCommitted;
                TLineResult result = std::move(FResults[i % ResultWindow]);
                FResults[i % ResultWindow] = TLineResult{};
                ++FCommitted;
                FChanged.notify_all(); // the window moved on
                if (!result.FSkipped) {
                    lock.unlock();
                    done(i, result.FReason);
                    lock.lock();
                }
                progressed = true;
            }
            if (FCommitted == FLines.size() || (FStop && FCommitted == FNext)) {
                return stopped;
            }
            if (!stopped) {
                // No worker starts a line while the stop test runs. Asked while
                // copies are under way, a stop test that would hold (a paused
                // job) asks for them to end first: no line starts until they
                // have, and the test is then asked again, outside every copy.
                const bool inFlight = FRunning > 0;
                if (!draining || !inFlight) {
                    FHold = true;
                    lock.unlock();
                    bool stop = false;
                    {
                        std::optional<TFileOperationScope> inside;
                        if (inFlight) {
                            inside.emplace();
                        }
                        stop = StopRequestedBy(stopRequested);
                    }
                    const bool holdAsked = TFileOperationScope::TakeHoldRequest();
                    lock.lock();
                    draining = holdAsked && !stop;
                    FHold = draining;
                    if (stop) {
                        stopped = true;
                        FStop = true;
                        FAbandon = true;
                    }
                    FChanged.notify_all();
                }
            }
            if (!progressed && shown == FStarted &&
                !(FCommitted < FNext && FResults[FCommitted % ResultWindow].FReady)) {
                FResultReady.wait_for(lock, std::chrono::milliseconds(5));
            }
        }
    }

private:
    void Work() {
        const TStopTest abandoned = [this] { return FAbandon.load(std::memory_order_relaxed); };
        TPhaseItems items(FPhase, FOptions, abandoned);
        std::unique_lock lock(FMutex);
        for (;;) {
            std::size_t first = 0;
            std::size_t end = 0;
            if (!TakeShare(lock, first, end)) {
                return;
            }
            for (std::size_t i = first; i < end; ++i) {
                if (i > first) {
                    // Between two lines: where a held run waits, and where a stop ends the share.
                    FChanged.wait(lock, [this] { return FStop || !FHold; });
                    if (FStop) {
                        for (std::size_t k = i; k < end; ++k) {
                            FResults[k % ResultWindow] = TLineResult{true, true, {}};
                        }
                        FResultReady.notify_one();
                        break;
                    }
                }
                ++FRunning;
                FStarted = std::max(FStarted, i + 1);
                FResultReady.notify_one();
                lock.unlock();
                std::string reason = items.RunLine(FLines[i]);
                lock.lock();
                --FRunning;
                FResults[i % ResultWindow] = TLineResult{true, false, std::move(reason)};
                FResultReady.notify_one();
            }
        }
    }

    // Waits until lines may be taken and takes the next share [first, end);
    // false once every line is taken or the run stopped. Sizes are read
    // outside the lock, one worker at a time, so that no two shares overlap.
    bool TakeShare(std::unique_lock<std::mutex>& lock, std::size_t& first, std::size_t& end) {
        lock.unlock();
        const std::lock_guard taking(FTakeMutex);
        lock.lock();
        const auto mayTake = [this] {
            return FStop || FNext >= FLines.size() || (!FHold && FNext < FCommitted + ResultWindow);
        };
        FChanged.wait(lock, mayTake);
        if (FStop || FNext >= FLines.size()) {
            return false;
        }
        first = FNext;
        const std::size_t limit =
            std::min({FLines.size(), FCommitted + ResultWindow, first + MostLinesTakenAtOnce});
        lock.unlock();
        end = ShareEnd(first, limit);
        lock.lock();
        // A hold or a stop may have come while the sizes were read.
        FChanged.wait(lock, mayTake);
        if (FStop) {
            return false;
        }
        FNext = end;
        return true;
    }

    // The end of the share from first: the lines that follow it in its folder,
    // until their files hold the byte budget.
    std::size_t ShareEnd(std::size_t first, std::size_t limit) const {
        const std::string_view folder = FolderOf(FLines[first]);
        std::int64_t bytes = 0;
        std::size_t end = first + 1;
        // A line's size is read only when a line of its folder follows it.
        while (end < limit && FolderOf(FLines[end]) == folder) {
            bytes += SourceSizeOf(FLines[end - 1]);
            if (bytes >= MostBytesTakenAtOnce) {
                break;
            }
            ++end;
        }
        return end;
    }

    // What the line will copy, as far as it is known now (0: unknown).
    std::int64_t SourceSizeOf(const std::string& line) const {
        if (!IsSafePlanLine(line) || TFmCustomPublic::IsFolderEntry(line)) {
            return 0;
        }
        return FOptions.FSourceVolume->Facts(line, true).FSize;
    }

    const TApplyPhase FPhase;
    const TStringList& FLines;
    const TApplyOptions& FOptions;
    std::mutex FMutex;
    std::mutex FTakeMutex;                // held by the worker that measures a share
    std::condition_variable FChanged;     // workers wait here
    std::condition_variable FResultReady; // the calling thread waits here
    std::vector<TLineResult> FResults;
    std::size_t FNext = 0;      // the next line to take
    std::size_t FStarted = 0;   // past the last line started
    std::size_t FRunning = 0;   // lines being run now
    std::size_t FCommitted = 0; // the lines whose result was taken
    bool FHold = false;
    bool FStop = false;
    std::atomic<bool> FAbandon{false};
    std::vector<std::thread> FThreads;
};

} // namespace

bool RunPhaseItemsInParallel(TApplyPhase phase, const TStringList& lines, const TApplyOptions& givenOptions,
                             unsigned workers, const std::function<void(std::size_t)>& show,
                             const std::function<void(std::size_t, const std::string&)>& done,
                             const TStopTest& stopRequested) {
    const TApplyOptions options = WithVolumes(givenOptions);
    TParallelPhase run(phase, lines, options);
    run.Start(workers);
    if (!run.Started()) {
        // No thread could be had: one line after the other, here.
        TPhaseItems items(phase, options, stopRequested);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (StopRequestedBy(stopRequested)) {
                return true;
            }
            show(i);
            done(i, items.RunLine(lines[i]));
        }
        return false;
    }
    return run.Run(show, done, stopRequested);
}

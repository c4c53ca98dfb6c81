#include "ContentCompare.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr std::size_t CompareBlockSize = 1024 * 1024;
constexpr unsigned MaxReaders = 4;

// Reads up to size bytes at offset, fewer only at the end of the file; -1 on an error.
long ReadFull(TReadableFile& file, char* data, std::size_t size, std::int64_t offset) {
    std::size_t total = 0;
    while (total < size) {
        const long n = file.ReadAt(data + total, size - total, offset + static_cast<std::int64_t>(total));
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    return static_cast<long>(total);
}

std::unique_ptr<TReadableFile> OpenForReading(TVolume& volume, const std::string& relative, int& error) {
    bool notRegular = false;
    std::unique_ptr<TReadableFile> file = volume.OpenFile(relative, error, notRegular);
    if (file) {
        file->ExpectSequentialReads();
    }
    return file;
}

TContentResult Compare(TVolume& sourceVolume, TVolume& targetVolume, const std::string& sourceRelative,
                       const std::string& targetRelative, const std::atomic<bool>* abandon) {
    TContentResult result;
    const std::unique_ptr<TReadableFile> source = OpenForReading(sourceVolume, sourceRelative, result.FError);
    if (!source) {
        result.FErrorOnSource = true;
        return result;
    }
    const std::unique_ptr<TReadableFile> target = OpenForReading(targetVolume, targetRelative, result.FError);
    if (!target) {
        return result;
    }
    static thread_local std::vector<char> sourceBlock, targetBlock;
    sourceBlock.resize(CompareBlockSize);
    targetBlock.resize(CompareBlockSize);
    for (std::int64_t offset = 0;; offset += static_cast<std::int64_t>(CompareBlockSize)) {
        if (abandon != nullptr && abandon->load(std::memory_order_relaxed)) {
            return result;
        }
        const long s = ReadFull(*source, sourceBlock.data(), CompareBlockSize, offset);
        if (s < 0) {
            result.FError = errno;
            result.FErrorOnSource = true;
            return result;
        }
        const long t = ReadFull(*target, targetBlock.data(), CompareBlockSize, offset);
        if (t < 0) {
            result.FError = errno;
            return result;
        }
        if (s != t || std::memcmp(sourceBlock.data(), targetBlock.data(), static_cast<std::size_t>(s)) != 0) {
            result.FDiffers = true;
            return result;
        }
        if (static_cast<std::size_t>(s) < CompareBlockSize) {
            return result; // both ended together
        }
    }
}

} // namespace

bool CompareFilePairs(TVolume& sourceVolume, TVolume& targetVolume, std::size_t count,
                      const TPairPath& pathOf, std::vector<TContentResult>& results,
                      const TStopTest& stopRequested) {
    const TPairPaths pathsOf = [&](std::size_t k, std::string& sourceRelative, std::string& targetRelative) {
        pathOf(k, sourceRelative);
        targetRelative = sourceRelative;
    };
    return CompareFilePairsAt(sourceVolume, targetVolume, count, pathsOf, results, stopRequested);
}

bool CompareFilePairsAt(TVolume& sourceVolume, TVolume& targetVolume, std::size_t count,
                        const TPairPaths& pathsOf, std::vector<TContentResult>& results,
                        const TStopTest& stopRequested) {
    results.assign(count, TContentResult{});
    if (count == 0) {
        return !StopRequestedBy(stopRequested);
    }
    std::atomic<std::size_t> next{0};
    std::atomic<bool> abandon{false};
    std::atomic<unsigned> running{0};
    std::mutex mutex;
    std::condition_variable finished;
    const auto work = [&] {
        std::string sourceRelative, targetRelative;
        for (;;) {
            const std::size_t k = next.fetch_add(1, std::memory_order_relaxed);
            if (k >= count || abandon.load(std::memory_order_relaxed)) {
                break;
            }
            pathsOf(k, sourceRelative, targetRelative);
            results[k] = Compare(sourceVolume, targetVolume, sourceRelative, targetRelative, &abandon);
        }
        const std::lock_guard lock(mutex);
        --running;
        finished.notify_all();
    };
    const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
    const auto readers = static_cast<unsigned>(std::min<std::size_t>(std::min(cores, MaxReaders), count));
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < readers; ++i) {
        try {
            {
                const std::lock_guard lock(mutex);
                ++running;
            }
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            const std::lock_guard lock(mutex);
            --running;
            break;
        }
    }
    if (threads.empty()) {
        // No thread could be had: the pairs are read here, with the stop test between them.
        for (std::size_t k = 0; k < count; ++k) {
            if (StopRequestedBy(stopRequested)) {
                return false;
            }
            std::string sourceRelative, targetRelative;
            pathsOf(k, sourceRelative, targetRelative);
            results[k] = Compare(sourceVolume, targetVolume, sourceRelative, targetRelative, nullptr);
        }
        return true;
    }
    bool stopped = false;
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            finished.wait_for(lock, std::chrono::milliseconds(5));
            if (!stopped && running > 0) {
                lock.unlock();
                stopped = StopRequestedBy(stopRequested);
                lock.lock();
                if (stopped) {
                    abandon = true;
                }
            }
        }
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return !stopped;
}

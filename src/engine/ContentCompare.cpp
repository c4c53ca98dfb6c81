#include "ContentCompare.h"

#include "CopyFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::size_t CompareBlockSize = 1024 * 1024;
constexpr unsigned MaxReaders = 4;

// Reads up to size bytes, fewer only at the end of the file; -1 on an error.
ssize_t ReadFull(int fd, char* data, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t n = read(fd, data + total, size - total);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(total);
}

// Opens without waiting on a pipe; -1 with errno set when it cannot.
int OpenForReading(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0) {
        fcntl(fd, F_SETFL, O_RDONLY);
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    return fd;
}

TContentResult Compare(const std::string& source, const std::string& target,
                       const std::atomic<bool>* abandon) {
    TContentResult result;
    const TFd sourceFd(OpenForReading(source));
    if (sourceFd.Get() < 0) {
        result.FError = errno;
        result.FErrorOnSource = true;
        return result;
    }
    const TFd targetFd(OpenForReading(target));
    if (targetFd.Get() < 0) {
        result.FError = errno;
        return result;
    }
    static thread_local std::vector<char> sourceBlock, targetBlock;
    sourceBlock.resize(CompareBlockSize);
    targetBlock.resize(CompareBlockSize);
    for (;;) {
        if (abandon != nullptr && abandon->load(std::memory_order_relaxed)) {
            return result;
        }
        const ssize_t s = ReadFull(sourceFd.Get(), sourceBlock.data(), CompareBlockSize);
        if (s < 0) {
            result.FError = errno;
            result.FErrorOnSource = true;
            return result;
        }
        const ssize_t t = ReadFull(targetFd.Get(), targetBlock.data(), CompareBlockSize);
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

TContentResult CompareFileContents(const std::string& source, const std::string& target) {
    return Compare(source, target, nullptr);
}

bool CompareFilePairs(std::size_t count, const TPairPaths& pathsOf, std::vector<TContentResult>& results,
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
        std::string source, target;
        for (;;) {
            const std::size_t k = next.fetch_add(1, std::memory_order_relaxed);
            if (k >= count || abandon.load(std::memory_order_relaxed)) {
                break;
            }
            pathsOf(k, source, target);
            results[k] = Compare(source, target, &abandon);
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
            std::string source, target;
            pathsOf(k, source, target);
            results[k] = Compare(source, target, nullptr);
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

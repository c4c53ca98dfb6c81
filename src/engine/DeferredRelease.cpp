#include "DeferredRelease.h"

#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace {

// Descriptors held at once: far below the usual limit of 1,024 per process.
constexpr std::size_t MostHeld = 256;
// Releases wait for the device, mostly: two overlap those waits as well.
constexpr std::size_t ReleasingThreads = 2;

} // namespace

TDeferredRelease::TDeferredRelease() {
    try {
        for (std::size_t i = 0; i < ReleasingThreads; ++i) {
            FThreads.emplace_back([this] { Run(); });
        }
    } catch (const std::system_error&) {
        // No thread: Hold holds nothing, and every release stays where it was.
    }
}

TDeferredRelease::~TDeferredRelease() {
    {
        const std::lock_guard lock(FMutex);
        FEnding = true;
    }
    FChanged.notify_all();
    for (std::thread& thread : FThreads) {
        thread.join();
    }
}

int TDeferredRelease::Hold(int folderFd, const std::string& name) {
    {
        const std::lock_guard lock(FMutex);
        if (FThreads.empty() || FHeld >= MostHeld) {
            return -1;
        }
        ++FHeld;
    }
    const int fd = openat(folderFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const std::lock_guard lock(FMutex);
        --FHeld;
        FReleased.notify_all();
    }
    return fd;
}

void TDeferredRelease::Release(int fd) {
    if (fd < 0) {
        return;
    }
    {
        const std::lock_guard lock(FMutex);
        FPending.push_back(fd);
    }
    FChanged.notify_one();
}

void TDeferredRelease::WaitUntilAllReleased() {
    std::unique_lock lock(FMutex);
    FReleased.wait(lock, [this] { return FHeld == 0; });
}

void TDeferredRelease::Run() {
    std::unique_lock lock(FMutex);
    for (;;) {
        FChanged.wait(lock, [this] { return FEnding || !FPending.empty(); });
        if (FPending.empty()) {
            return; // ending, and every file released
        }
        const int fd = FPending.front();
        FPending.pop_front();
        lock.unlock();
        close(fd);
        lock.lock();
        --FHeld;
        FReleased.notify_all();
    }
}

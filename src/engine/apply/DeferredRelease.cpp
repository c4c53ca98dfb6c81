#include "DeferredRelease.h"

#include <system_error>

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

std::unique_ptr<THeldEntry> TDeferredRelease::Hold(TVolume& volume, const TVolumeFolder& folder,
                                                   const std::string& name) {
    {
        const std::lock_guard lock(FMutex);
        if (FThreads.empty() || FHeld >= MostHeld) {
            return nullptr;
        }
        ++FHeld;
    }
    std::unique_ptr<THeldEntry> held = volume.Hold(folder, name);
    if (!held) {
        const std::lock_guard lock(FMutex);
        --FHeld;
        FReleased.notify_all();
    }
    return held;
}

void TDeferredRelease::Release(std::unique_ptr<THeldEntry> held) {
    if (!held) {
        return;
    }
    {
        const std::lock_guard lock(FMutex);
        FPending.push_back(std::move(held));
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
        std::unique_ptr<THeldEntry> held = std::move(FPending.front());
        FPending.pop_front();
        lock.unlock();
        held.reset();
        lock.lock();
        --FHeld;
        FReleased.notify_all();
    }
}

#include "SftpReadAhead.h"

namespace {

constexpr std::size_t MostInFlight = 128;
// About 4 MiB of paths: a walk of a tree with more folders than that reads
// the rest as it gets there.
constexpr std::size_t MostWaiting = 65536;

} // namespace

TSftpReadAhead::~TSftpReadAhead() {
    {
        const std::lock_guard lock(FMutex);
        FEnding = true;
        FWaiting.clear();
    }
    FChanged.notify_all();
    if (FThread.joinable()) {
        FThread.join();
    }
    // Every listing ends: with its reply, or when the connection ends or passes its time limit.
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [&] { return FInFlight == 0; });
}

void TSftpReadAhead::Ask(std::vector<std::string> paths) {
    if (paths.empty()) {
        return;
    }
    {
        const std::lock_guard lock(FMutex);
        if (FEnding) {
            return; // asked by a listing that ended while this ends
        }
        // The newest first: a walk goes deep before it goes on, so what it
        // asked last is what it needs next. The oldest give way past the bound.
        for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
            FWaiting.push_front(std::move(*path));
        }
        if (FWaiting.size() > MostWaiting) {
            FWaiting.resize(MostWaiting);
        }
        if (!FThread.joinable()) {
            FThread = std::thread([this] { Work(); });
        }
    }
    FChanged.notify_all();
}

void TSftpReadAhead::Work() {
    std::unique_lock lock(FMutex);
    for (;;) {
        FChanged.wait(lock, [&] { return FEnding || (!FWaiting.empty() && FInFlight < MostInFlight); });
        if (FEnding) {
            return;
        }
        std::string path = std::move(FWaiting.front());
        FWaiting.pop_front();
        ++FInFlight;
        lock.unlock();
        const bool started = FStart(path, [this] { Ended(); });
        lock.lock();
        if (!started) {
            --FInFlight;
            FChanged.notify_all();
        }
    }
}

void TSftpReadAhead::Ended() {
    const std::lock_guard lock(FMutex);
    --FInFlight;
    FChanged.notify_all();
}

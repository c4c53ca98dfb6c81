#include "SftpReadAhead.h"

namespace {

constexpr std::size_t MostInFlight = 128;
constexpr std::size_t MostWaiting = 512;

} // namespace

TSftpReadAhead::~TSftpReadAhead() {
    std::unique_lock lock(FMutex);
    FEnding = true;
    FWaiting.clear();
    // Every listing ends: with its reply, or when the connection ends or passes its time limit.
    FSettled.wait(lock, [&] { return FInFlight == 0 && FStarting == 0; });
}

void TSftpReadAhead::Ask(std::vector<std::string> paths) {
    {
        const std::lock_guard lock(FMutex);
        // The newest first: a walk goes deep before it goes on, so what it
        // asked last is what it needs next. The oldest give way past the bound.
        for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
            FWaiting.push_front(std::move(*path));
        }
        if (FWaiting.size() > MostWaiting) {
            FWaiting.resize(MostWaiting);
        }
    }
    StartWaiting();
}

void TSftpReadAhead::StartWaiting() {
    std::unique_lock lock(FMutex);
    for (;;) {
        if (FEnding || FWaiting.empty() || FInFlight >= MostInFlight) {
            return;
        }
        std::string path = std::move(FWaiting.front());
        FWaiting.pop_front();
        ++FInFlight;
        ++FStarting; // a listing may end inside FStart already
        lock.unlock();
        const bool started = FStart(path, [this] { Ended(); });
        lock.lock();
        --FStarting;
        if (!started) {
            --FInFlight;
        }
        FSettled.notify_all();
    }
}

void TSftpReadAhead::Ended() {
    const std::lock_guard lock(FMutex);
    --FInFlight;
    FSettled.notify_all();
}

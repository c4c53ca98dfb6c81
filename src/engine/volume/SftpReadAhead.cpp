#include "SftpReadAhead.h"

namespace {

constexpr std::size_t Threads = 6;
constexpr std::size_t MostWaiting = 512;

} // namespace

TSftpReadAhead::~TSftpReadAhead() {
    {
        const std::lock_guard lock(FMutex);
        FEnding = true;
        FWaiting.clear();
    }
    FAsked.notify_all();
    for (std::thread& thread : FThreads) {
        thread.join();
    }
}

void TSftpReadAhead::Ask(std::vector<std::string> paths) {
    if (paths.empty()) {
        return;
    }
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
        while (FThreads.size() < Threads && FThreads.size() < FWaiting.size()) {
            FThreads.emplace_back([this] { Work(); });
        }
    }
    FAsked.notify_all();
}

void TSftpReadAhead::Work() {
    for (;;) {
        std::string path;
        {
            std::unique_lock lock(FMutex);
            FAsked.wait(lock, [&] { return FEnding || !FWaiting.empty(); });
            if (FEnding) {
                return;
            }
            path = std::move(FWaiting.front());
            FWaiting.pop_front();
        }
        FList(path);
    }
}

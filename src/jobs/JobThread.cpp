#include "JobThread.h"

#include <algorithm>
#include <stdexcept>

TJobThread::TJobThread(const TIniFile& iniFile, const TRunLog& runLog, std::string jobName,
                       std::shared_ptr<TProgressSink> progress, TTerminated onTerminated)
    : FProgress(progress ? std::move(progress) : std::make_shared<TProgressSink>()),
      FOnTerminated(std::move(onTerminated)),
      FProcessor(iniFile, runLog, std::move(jobName), *FProgress,
                 TRunControl{[this] { PausePoint(); }, [this] { return StopRequested(); }, 0,
                             [this] { return PauseWanted(); }}) {}

TJobThread::~TJobThread() {
    Resume();
    Wait();
}

void TJobThread::Start() {
    if (FThread.joinable()) {
        throw std::logic_error("a job runner runs only once");
    }
    FThread = std::thread([this] { Body(); });
}

void TJobThread::Body() {
    try {
        FProcessor.Execute();
    } catch (const std::exception& error) {
        FFailureText = error.what(); // the remaining projects are skipped
    } catch (...) {
        FFailureText = "unknown error";
    }
    if (FOnTerminated) {
        try {
            FOnTerminated();
        } catch (...) {
            // Nothing may escape a thread; the owner learns of the end through Finished.
        }
    }
    const std::lock_guard lock(FMutex);
    FFinished = true;
    FChanged.notify_all();
}

void TJobThread::PausePoint() {
    std::unique_lock lock(FMutex);
    if (!FPaused || FStopRequested) {
        return;
    }
    FSuspended = true;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return !FPaused || FStopRequested; });
    FSuspended = false;
    FChanged.notify_all();
}

bool TJobThread::PauseWanted() const {
    const std::lock_guard lock(FMutex);
    return FPaused && !FStopRequested;
}

bool TJobThread::StopRequested() const {
    const std::lock_guard lock(FMutex);
    return FStopRequested;
}

void TJobThread::Pause() {
    const std::lock_guard lock(FMutex);
    FPaused = true;
}

void TJobThread::Resume() {
    const std::lock_guard lock(FMutex);
    FPaused = false;
    FChanged.notify_all();
}

void TJobThread::RequestStop() {
    const std::lock_guard lock(FMutex);
    FStopRequested = true;
    FChanged.notify_all();
}

void TJobThread::Wait() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

bool TJobThread::Paused() const {
    const std::lock_guard lock(FMutex);
    return FPaused;
}

bool TJobThread::Suspended() const {
    const std::lock_guard lock(FMutex);
    return FSuspended;
}

bool TJobThread::Finished() const {
    const std::lock_guard lock(FMutex);
    return FFinished;
}

void TJobThreadKeeper::Keep(std::unique_ptr<TJobThread> runner) {
    if (!runner) {
        return;
    }
    runner->RequestStop();
    std::vector<std::unique_ptr<TJobThread>> ended;
    {
        const std::lock_guard lock(FMutex);
        const auto endedBegin = std::stable_partition(FRunners.begin(), FRunners.end(),
                                                      [](const auto& kept) { return !kept->Finished(); });
        std::move(endedBegin, FRunners.end(), std::back_inserter(ended));
        FRunners.erase(endedBegin, FRunners.end());
        FRunners.push_back(std::move(runner));
    }
    // Their threads are over; joining them outside the lock is immediate.
}

void TJobThreadKeeper::JoinAll() {
    std::vector<std::unique_ptr<TJobThread>> runners;
    {
        const std::lock_guard lock(FMutex);
        runners.swap(FRunners);
    }
    runners.clear(); // each destructor joins
}

std::size_t TJobThreadKeeper::Count() const {
    const std::lock_guard lock(FMutex);
    return FRunners.size();
}

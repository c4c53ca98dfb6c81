#pragma once

#include "JobProcessor.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Runs one job once on a thread of its own, for the job's monitor row.
//
// Ownership: the row owns its TJobThread (for example a std::unique_ptr). The
// configuration object and the run log must outlive it; they belong to the
// main window, which therefore ends every runner before it releases them.
// The progress sink and the termination callback are kept by the runner
// until it is destroyed, and both are called on the runner's thread, so
// they must not touch the row directly: they post to the row's thread
// through an object that is safe to reach after the row is gone (a queued
// signal of a bridge object shared with the runner). A row removed while its
// runner works calls RequestStop and hands the runner to a TJobThreadKeeper,
// which joins it when it ends or, at the latest, when the program closes.
class TJobThread {
public:
    using TTerminated = std::function<void()>;

    // Opens today's day log on the calling thread; when that fails the
    // constructor throws and nothing runs. A null progress sink shows nothing.
    TJobThread(const TIniFile& iniFile, const TRunLog& runLog, std::string jobName,
               std::shared_ptr<TProgressSink> progress, TTerminated onTerminated);
    // Joins the thread; a paused runner is resumed first so that it can end.
    // Never destroy a runner from its own termination callback.
    ~TJobThread();
    TJobThread(const TJobThread&) = delete;
    TJobThread& operator=(const TJobThread&) = delete;

    // Starts the run; the termination callback is called once on the runner's
    // thread after the last project (also after an error ended the run).
    void Start();
    // The run holds at its next safe point (between two entries of a check or
    // an apply, or between two projects) until Resume.
    void Pause();
    void Resume();
    // The current project ends at its next safe point and is logged "中止";
    // no further project runs. Also ends a pause.
    void RequestStop();
    // Joins the thread (from the owner's thread, never from the callback).
    void Wait();

    bool Paused() const;
    // Held at a safe point by a pause.
    bool Suspended() const;
    // The run and its termination callback are over; Wait returns at once.
    bool Finished() const;

    // After Wait: how each project that ran ended, and the error that ended
    // the run early (an item that could not be written), empty when none.
    const std::vector<TProjectRunResult>& Results() const { return FProcessor.Results(); }
    const std::string& FailureText() const { return FFailureText; }

private:
    void Body();
    void PausePoint();
    bool StopRequested() const;
    bool PauseWanted() const;

    std::shared_ptr<TProgressSink> FProgress;
    TTerminated FOnTerminated;
    TJobProcessor FProcessor;
    std::string FFailureText;

    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    bool FPaused = false;
    bool FStopRequested = false;
    bool FSuspended = false;
    bool FFinished = false;
    std::thread FThread;
};

// Keeps the runners of removed rows until they end. The main window declares
// it after the configuration object and the run log, so that it is destroyed
// first and joins every runner before they go.
class TJobThreadKeeper {
public:
    TJobThreadKeeper() = default;
    ~TJobThreadKeeper() { JoinAll(); }
    TJobThreadKeeper(const TJobThreadKeeper&) = delete;
    TJobThreadKeeper& operator=(const TJobThreadKeeper&) = delete;

    // Asks the runner to stop and keeps it until it ends; lets go of kept
    // runners that have ended meanwhile.
    void Keep(std::unique_ptr<TJobThread> runner);
    // Waits for every kept runner.
    void JoinAll();
    std::size_t Count() const;

private:
    mutable std::mutex FMutex;
    std::vector<std::unique_ptr<TJobThread>> FRunners;
};

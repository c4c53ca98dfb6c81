#pragma once

#include <optional>
#include <string>

// Only one scheduler runs a configuration's jobs: the window or the daemon.
// Whoever schedules them holds the scheduler lock of the configuration, an
// open-file-description lock on "pairwell.scheduler" beside "pairwell.ini"
// (the configuration's name with its extension replaced). The holder writes
// who it is into the file. The lock goes with the process, even when it dies.

std::string SchedulerLockFileName(const std::string& configFile);

class TSchedulerLock {
public:
    enum TResult {
        Taken,         // this object holds the lock
        HeldElsewhere, // another scheduler holds it
        Failed,        // the lock file could not be opened or locked (see ErrorText)
    };

    // Tries at once, without waiting. holder says who takes it, for the
    // message another scheduler shows ("pairwell-cli daemon", "Pairwell window").
    TSchedulerLock(const std::string& configFile, std::string holder);
    ~TSchedulerLock();
    TSchedulerLock(const TSchedulerLock&) = delete;
    TSchedulerLock& operator=(const TSchedulerLock&) = delete;

    // Tries again unless already held: a window that found a daemon takes
    // the jobs over once the daemon has ended.
    TResult TryTake();
    TResult Result() const { return FResult; }
    bool Held() const { return FResult == Taken; }
    const std::string& ErrorText() const { return FErrorText; }
    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
    std::string FHolder;
    int FFd = -1;
    TResult FResult = Failed;
    std::string FErrorText;
};

// Whether any scheduler holds the configuration's lock (this process's own
// TSchedulerLock included: ask it first when you may hold one).
bool SchedulerLockHeld(const std::string& configFile);
// Who holds it, as its holder wrote it ("pairwell-cli daemon, process 1234");
// nullopt when nobody does.
std::optional<std::string> SchedulerLockHolder(const std::string& configFile);

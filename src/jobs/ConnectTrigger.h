#pragma once

#include "CatchUp.h"

#include <chrono>
#include <string>
#include <vector>

// A job that runs when its drive is connected ("RbConnect"): once every
// source and target folder of its projects exists after at least one did
// not, and again only after a folder has gone and come back. Mounts are
// noticed at once from the mount table (/proc/self/mountinfo, which signals
// changes to poll); anything else, such as a folder simply created, at the
// next re-check.
inline constexpr std::chrono::seconds ConnectRecheckPeriod{60};

class TConnectTrigger {
public:
    TConnectTrigger(std::vector<std::string> folders, TSteadyTime now,
                    std::chrono::milliseconds recheck = ConnectRecheckPeriod);
    ~TConnectTrigger();
    TConnectTrigger(const TConnectTrigger&) = delete;
    TConnectTrigger& operator=(const TConnectTrigger&) = delete;

    // True once when the folders have all come to exist; while mayRun is
    // false (a run goes on, a pause) the coming is kept for later.
    bool Poll(TSteadyTime now, bool mayRun = true);

    bool AllPresent() const { return FAllPresent; }
    // The mount table, for an owner that polls; -1 when it cannot be watched.
    int Fd() const { return FMountFd; }

private:
    bool MountsChanged();
    bool AllExist() const;

    std::vector<std::string> FFolders;
    std::chrono::milliseconds FRecheck;
    int FMountFd = -1;
    TSteadyTime FLastCheck;
    bool FAllPresent = false;
    bool FPending = false;
};

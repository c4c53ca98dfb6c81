#pragma once

#include "CatchUp.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A job that runs when its drive is connected ("RbConnect"): once every
// source and target folder of its projects exists after at least one did
// not, and again only after a folder has gone and come back.
//
// It looks again at once when the mount table changes (/proc/self/mountinfo
// signals changes to poll), when a folder goes or something is created in the
// nearest existing folder above a missing one (inotify), and every 60 seconds
// in any case. A drive mounted over a folder that existed (an empty mount
// point) counts as that folder coming. The folders must still all exist a moment later (settle), so that a
// mount point made just before its mount does not start a run on the empty
// folder.
inline constexpr std::chrono::seconds ConnectRecheckPeriod{60};
inline constexpr std::chrono::seconds ConnectSettleTime{2};

class TConnectTrigger {
public:
    TConnectTrigger(std::vector<std::string> folders, TSteadyTime now,
                    std::chrono::milliseconds recheck = ConnectRecheckPeriod,
                    std::chrono::milliseconds settle = ConnectSettleTime);
    ~TConnectTrigger();
    TConnectTrigger(const TConnectTrigger&) = delete;
    TConnectTrigger& operator=(const TConnectTrigger&) = delete;

    // True once when the folders have all come to exist; while mayRun is
    // false (a run goes on, a pause) the coming is kept for later.
    bool Poll(TSteadyTime now, bool mayRun = true);

    bool AllPresent() const { return FAllPresent; }
    // The mount table and the watches above missing folders, for an owner
    // that polls; -1 where they cannot be watched.
    int MountFd() const { return FMountFd; }
    int WatchFd() const { return FWatchFd; }

private:
    bool MountsChanged();
    bool FoldersChanged();
    bool AllExist() const;
    // Watches each folder for its going, and the nearest existing folder
    // above each missing one for its coming.
    void WatchFolders();

    std::vector<std::string> FFolders;
    std::chrono::milliseconds FRecheck;
    std::chrono::milliseconds FSettle;
    int FMountFd = -1;
    int FWatchFd = -1;
    std::vector<int> FWatches;
    std::vector<std::optional<std::uint64_t>> FMounts; // the mount each folder was on
    TSteadyTime FLastCheck;
    bool FAllPresent = false;
    std::optional<TSteadyTime> FComingSince; // all present since then, not yet settled
    bool FPending = false;
};

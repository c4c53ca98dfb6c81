#include "ConnectTrigger.h"

#include "config/PathText.h"

#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

TConnectTrigger::TConnectTrigger(std::vector<std::string> folders, TSteadyTime now,
                                 std::chrono::milliseconds recheck, std::chrono::milliseconds settle)
    : FFolders(std::move(folders)), FRecheck(recheck), FSettle(settle), FLastCheck(now) {
    FMountFd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    FWatchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    FAllPresent = AllExist(); // present from the start: no run until a folder has gone
    WatchFolders();
}

TConnectTrigger::~TConnectTrigger() {
    if (FMountFd >= 0) {
        close(FMountFd);
    }
    if (FWatchFd >= 0) {
        close(FWatchFd);
    }
}

bool TConnectTrigger::MountsChanged() {
    if (FMountFd < 0) {
        return false;
    }
    // The kernel reports a change of the table once to each poll.
    pollfd entry{FMountFd, POLLPRI, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLPRI | POLLERR)) != 0;
}

bool TConnectTrigger::FoldersChanged() {
    if (FWatchFd < 0) {
        return false;
    }
    bool changed = false;
    alignas(inotify_event) char buffer[8 * (sizeof(inotify_event) + NAME_MAX + 1)];
    while (read(FWatchFd, buffer, sizeof buffer) > 0) {
        changed = true;
    }
    return changed;
}

void TConnectTrigger::WatchFolders() {
    if (FWatchFd < 0) {
        return;
    }
    for (const int wd : FWatches) {
        inotify_rm_watch(FWatchFd, wd);
    }
    FWatches.clear();
    for (const std::string& folder : FFolders) {
        if (FolderProblem(folder).empty()) {
            const int wd = inotify_add_watch(FWatchFd, folder.c_str(),
                                             IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_ONLYDIR);
            if (wd >= 0) {
                FWatches.push_back(wd);
            }
            continue;
        }
        std::string above = folder;
        do {
            above = ExtractFileDir(above);
        } while (above.size() > 1 && !FolderProblem(above).empty());
        const int wd =
            inotify_add_watch(FWatchFd, above.c_str(), IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR);
        if (wd >= 0) {
            FWatches.push_back(wd);
        }
    }
}

bool TConnectTrigger::AllExist() const {
    for (const std::string& folder : FFolders) {
        if (!FolderProblem(folder).empty()) {
            return false;
        }
    }
    return !FFolders.empty();
}

bool TConnectTrigger::Poll(TSteadyTime now, bool mayRun) {
    const bool mounts = MountsChanged();
    const bool signalled = FoldersChanged() || mounts;
    if (signalled || now >= FLastCheck + FRecheck || FComingSince) {
        FLastCheck = now;
        const bool present = AllExist();
        if (present && !FAllPresent && !FComingSince) {
            FComingSince = now;
        }
        if (!present) {
            FComingSince.reset();
            FAllPresent = false;
        }
        if (FComingSince && now >= *FComingSince + FSettle) {
            FComingSince.reset();
            FAllPresent = true;
            FPending = true;
        }
        if (signalled) {
            WatchFolders();
        }
    }
    if (FPending && mayRun) {
        FPending = false;
        return true;
    }
    return false;
}

#include "ConnectTrigger.h"

#include "config/AtomicFile.h"
#include "config/PathText.h"

#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<std::uint64_t> MountIdOf(const std::string& folder) {
    struct statx st {};
    if (statx(AT_FDCWD, folder.c_str(), 0, STATX_MNT_ID, &st) != 0 || (st.stx_mask & STATX_MNT_ID) == 0) {
        return std::nullopt;
    }
    return st.stx_mnt_id;
}

// Whether the mount upper stands on lower, directly or through others: a
// drive mounted over the folder, not the folder uncovered by an unmount.
bool MountedOver(std::uint64_t upper, std::uint64_t lower) {
    std::map<std::uint64_t, std::uint64_t> parents;
    std::istringstream table(ReadWholeFile("/proc/self/mountinfo").value_or(""));
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::uint64_t id = 0, parent = 0;
        if (fields >> id >> parent) {
            parents[id] = parent;
        }
    }
    for (int depth = 0; depth < 64; ++depth) {
        const auto found = parents.find(upper);
        if (found == parents.end() || found->second == upper) {
            return false;
        }
        upper = found->second;
        if (upper == lower) {
            return true;
        }
    }
    return false;
}

} // namespace

TConnectTrigger::TConnectTrigger(std::vector<std::string> folders, TSteadyTime now,
                                 std::chrono::milliseconds recheck, std::chrono::milliseconds settle)
    : FFolders(std::move(folders)), FRecheck(recheck), FSettle(settle), FLastCheck(now) {
    FMountFd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    FWatchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    FAllPresent = AllExist(); // present from the start: no run until a folder has gone
    for (const std::string& folder : FFolders) {
        FMounts.push_back(MountIdOf(folder));
    }
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
        // A drive mounted over a folder that was there (an empty mount point)
        // counts as the folder coming.
        bool mountedOver = false;
        for (std::size_t i = 0; i < FFolders.size(); ++i) {
            const std::optional<std::uint64_t> mount = MountIdOf(FFolders[i]);
            if (mount && FMounts[i] && *mount != *FMounts[i] && MountedOver(*mount, *FMounts[i])) {
                mountedOver = true;
            }
            FMounts[i] = mount;
        }
        if (present && (!FAllPresent || mountedOver) && !FComingSince) {
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

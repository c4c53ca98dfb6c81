#include "FolderWatcher.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t WatchedEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                        IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Trimmed(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

} // namespace

TFolderWatcher::TFolderWatcher(std::vector<std::string> roots, std::size_t watchCap,
                               std::vector<std::string> leftOut)
    : FRootWatched(roots.size(), false), FWatchCap(watchCap) {
    for (std::string& root : roots) {
        FRoots.push_back(Trimmed(std::move(root)));
    }
    for (std::string& folder : leftOut) {
        FLeftOut.insert(Trimmed(std::move(folder)));
    }
    FFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FFd < 0) {
        FLimitReached = true; // too many inotify instances: the same as too many watches
        return;
    }
    FMountFd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    MountsChanged(); // what the table held before counts as seen
    LookForMissingRoots();
}

TFolderWatcher::~TFolderWatcher() {
    if (FFd >= 0) {
        close(FFd);
    }
    if (FMountFd >= 0) {
        close(FMountFd);
    }
}

bool TFolderWatcher::AddOne(const std::string& folder) {
    if (FWatchCap != 0 && FPaths.size() >= FWatchCap) {
        FLimitReached = true;
        return false;
    }
    const int wd = inotify_add_watch(FFd, folder.c_str(), WatchedEvents);
    if (wd < 0) {
        if (errno == ENOSPC) {
            FLimitReached = true;
            return false;
        }
        return true; // unreadable or gone meanwhile: nothing to watch there
    }
    FPaths[wd] = folder;
    struct stat st {};
    FDevices[folder] = stat(folder.c_str(), &st) == 0 ? st.st_dev : 0;
    return true;
}

bool TFolderWatcher::LeftOut(const std::string& folder) const {
    return FLeftOut.count(folder) != 0;
}

void TFolderWatcher::AddTree(const std::string& folder) {
    if (LeftOut(folder) || !AddOne(folder)) {
        return;
    }
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = (folder == "/" ? "" : folder) + "/" + name;
        bool folderEntry = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            folderEntry = lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (folderEntry) {
            AddTree(path);
            if (FLimitReached) {
                break;
            }
        }
    }
    closedir(dir);
}

bool TFolderWatcher::LookForMissingRoots() {
    bool appeared = false;
    for (std::size_t i = 0; i < FRoots.size(); ++i) {
        if (!FRootWatched[i] && IsFolder(FRoots[i])) {
            FRootWatched[i] = true;
            AddTree(FRoots[i]);
            appeared = true;
        }
    }
    return appeared;
}

bool TFolderWatcher::MountsChanged() {
    if (FMountFd < 0) {
        return false;
    }
    // The kernel reports a change of the table once to each poll.
    pollfd entry{FMountFd, POLLPRI, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLPRI | POLLERR)) != 0;
}

bool TFolderWatcher::WatchAgain() {
    for (const auto& [wd, folder] : FPaths) {
        inotify_rm_watch(FFd, wd);
    }
    FPaths.clear();
    const std::map<std::string, dev_t> before = std::move(FDevices);
    FDevices.clear();
    FRootWatched.assign(FRoots.size(), false);
    FLimitReached = false; // counted anew
    LookForMissingRoots();
    return FDevices != before;
}

bool TFolderWatcher::ReadChanges() {
    if (FFd < 0) {
        return false;
    }
    bool changed = false;
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        const ssize_t length = read(FFd, buffer, sizeof buffer);
        if (length <= 0) {
            break; // EAGAIN: nothing more for now
        }
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                changed = true;
                continue;
            }
            const auto found = FPaths.find(event->wd);
            if (event->mask & IN_IGNORED) {
                if (found != FPaths.end()) {
                    for (std::size_t i = 0; i < FRoots.size(); ++i) {
                        if (FRoots[i] == found->second) {
                            FRootWatched[i] = false; // the root went: look for it again
                        }
                    }
                    const std::string folder = found->second;
                    FPaths.erase(found);
                    if (std::none_of(FPaths.begin(), FPaths.end(),
                                     [&](const auto& entry) { return entry.second == folder; })) {
                        FDevices.erase(folder);
                    }
                }
                continue;
            }
            const std::string path = found != FPaths.end() && event->len > 0
                                         ? (found->second == "/" ? "" : found->second) + "/" + event->name
                                         : std::string();
            if (!path.empty() && LeftOut(path)) {
                continue; // a left-out folder made, removed or touched
            }
            changed = true;
            if (!path.empty() && (event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO)) &&
                !FLimitReached) {
                AddTree(path);
            }
        }
    }
    if (LookForMissingRoots()) {
        changed = true;
    }
    if (MountsChanged() && WatchAgain()) {
        changed = true;
    }
    return changed;
}

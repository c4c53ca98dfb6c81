#include "VersionPrune.h"

#include "ApplyRootedPath.h"
#include "CopyFile.h"
#include "VersionList.h"
#include "Versions.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int64_t MillisecondsPerDay = 24 * 60 * 60 * 1000;

// Removes the empty folders below the folder open as fd, deepest first, and
// the leftovers of killed copies; true when the folder is empty afterwards.
bool RemoveEmptyFolders(int fd) {
    RemoveLeftoverTemporaries(fd);
    const int listingFd = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listingFd < 0 ? nullptr : fdopendir(listingFd);
    if (dir == nullptr) {
        if (listingFd >= 0) {
            close(listingFd);
        }
        return false;
    }
    std::vector<std::string> folders;
    bool empty = true;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
            folders.push_back(name);
        } else {
            empty = false;
        }
    }
    closedir(dir);
    for (const std::string& name : folders) {
        const TFd child(openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (child.Get() >= 0 && RemoveEmptyFolders(child.Get()) &&
            unlinkat(fd, name.c_str(), AT_REMOVEDIR) == 0) {
            continue;
        }
        empty = false;
    }
    return empty;
}

} // namespace

void PruneVersions(const std::string& versionRoot, int keepDays, TDateTime now) {
    if (keepDays <= 0) {
        return;
    }
    const TFd rootFd(open(versionRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd.Get() < 0) {
        return;
    }
    const TDateTime cutoff{now.FMilliseconds - keepDays * MillisecondsPerDay};
    const std::vector<TVersionFile> versions = ListVersions(versionRoot);
    for (std::size_t i = 0; i < versions.size(); ++i) {
        const TVersionFile& version = versions[i];
        // Sorted by path, then run: the last of a path is its newest.
        const bool newest = i + 1 == versions.size() || versions[i + 1].FPath != version.FPath;
        if (newest || !(version.FStart < cutoff)) {
            continue;
        }
        const TFd runFd(openat(rootFd.Get(), version.FRunFolder.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        std::string name;
        const TFd folder(runFd.Get() < 0 ? -1 : OpenParentBelowRoot(runFd.Get(), version.FPath, false, name));
        if (folder.Get() >= 0) {
            unlinkat(folder.Get(), name.c_str(), 0);
        }
    }
    // Every run folder, also those that hold no file at all.
    const int listingFd = openat(rootFd.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listingFd < 0 ? nullptr : fdopendir(listingFd);
    if (dir == nullptr) {
        if (listingFd >= 0) {
            close(listingFd);
        }
        return;
    }
    std::vector<std::string> allRuns;
    while (const dirent* entry = readdir(dir)) {
        if (ParseRunFolderName(entry->d_name)) {
            allRuns.emplace_back(entry->d_name);
        }
    }
    closedir(dir);
    for (const std::string& run : allRuns) {
        const TFd runFd(openat(rootFd.Get(), run.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (runFd.Get() >= 0 && RemoveEmptyFolders(runFd.Get())) {
            unlinkat(rootFd.Get(), run.c_str(), AT_REMOVEDIR);
        }
    }
}

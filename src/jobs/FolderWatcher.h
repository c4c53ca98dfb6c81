#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

// Watches folder trees with inotify: every folder under the roots, folders
// created later included. Never blocks: the owner asks for changes at its
// own pace (and may poll Fd to wake up sooner). A root that is missing is
// looked for again at each read and counts as a change when it appears. A
// drive mounted over a watched folder hides what was watched there: when the
// mount table changes, the trees are watched anew, and a folder now on
// another device counts as a change.
//
// Folders left out (full paths as the roots spell them) are not watched, and
// their own entries coming, going or changing are no change: a job's
// receiving folders inside its source would otherwise see its own writes.
class TFolderWatcher {
public:
    // watchCap limits the number of watches below the system's own limit (0:
    // no limit of its own), so that reaching the limit can be tried.
    explicit TFolderWatcher(std::vector<std::string> roots, std::size_t watchCap = 0,
                            std::vector<std::string> leftOut = {});
    ~TFolderWatcher();
    TFolderWatcher(const TFolderWatcher&) = delete;
    TFolderWatcher& operator=(const TFolderWatcher&) = delete;

    // Reads what happened since the last call; true when anything under a
    // root changed (a file written, created, deleted, moved or its attributes
    // changed, or a root appeared or went).
    bool ReadChanges();
    // The watch limit was reached (or inotify is not available): some folders
    // go unwatched and the owner must look for changes another way.
    bool LimitReached() const { return FLimitReached; }
    int Fd() const { return FFd; }
    std::size_t WatchCount() const { return FPaths.size(); }

private:
    // Adds watches on folder and every folder below it; false on the limit.
    void AddTree(const std::string& folder);
    bool AddOne(const std::string& folder);
    bool LeftOut(const std::string& folder) const;
    bool LookForMissingRoots();
    bool MountsChanged();
    // Watches every tree anew; true when a watched folder is on another device now.
    bool WatchAgain();

    std::vector<std::string> FRoots;
    std::vector<bool> FRootWatched;
    std::set<std::string> FLeftOut;
    std::size_t FWatchCap;
    int FFd = -1;
    int FMountFd = -1;
    bool FLimitReached = false;
    std::map<int, std::string> FPaths;     // watch descriptor -> folder
    std::map<std::string, dev_t> FDevices; // watched folder -> its device
};

#pragma once

#include "CopyFile.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Drops the last reference to replaced and deleted files on a thread of its
// own. Freeing a file's blocks (and, on a disk mounted with discard, waiting
// for the device to discard them) happens when its inode's last reference
// goes: held open through the rename or unlink, that wait overlaps the next
// items instead of holding up the one that replaced or removed it.
class TDeferredRelease {
public:
    TDeferredRelease();
    // Returns once every handed-over file is released.
    ~TDeferredRelease();
    TDeferredRelease(const TDeferredRelease&) = delete;
    TDeferredRelease& operator=(const TDeferredRelease&) = delete;

    // A reference to the entry as it is now, never through a link; -1 when
    // there is nothing to hold or too many are held already.
    int Hold(int folderFd, const std::string& name);
    // Releases a descriptor from Hold (-1 is ignored) on the releasing thread.
    void Release(int fd);
    // Returns once nothing handed over is still held: on NFS a held file
    // that was removed stays behind as a hidden name until then, and its
    // folder could not be removed.
    void WaitUntilAllReleased();

private:
    void Run();

    std::mutex FMutex;
    std::condition_variable FChanged;
    std::condition_variable FReleased;
    std::deque<int> FPending;
    std::size_t FHeld = 0; // held or pending, within a bound on open descriptors
    bool FEnding = false;
    std::vector<std::thread> FThreads;
};

// The entry a copy replaces, held through the rename and released later.
class TReleasedLater : public TReplacedEntry {
public:
    explicit TReleasedLater(TDeferredRelease& release) : FRelease(release) {}
    ~TReleasedLater() override { FRelease.Release(FFd); }
    TReleasedLater(const TReleasedLater&) = delete;
    TReleasedLater& operator=(const TReleasedLater&) = delete;

    std::string Keep(int folderFd, const std::string& name) override {
        FFd = FRelease.Hold(folderFd, name);
        return {};
    }
    void PutBack(int, const std::string&) override {}

private:
    TDeferredRelease& FRelease;
    int FFd = -1;
};

#pragma once

#include "engine/volume/Volume.h"

#include <condition_variable>
#include <deque>
#include <memory>
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

    // A reference to the entry as it is now, never through a link; null when
    // there is nothing to hold or too many are held already.
    std::unique_ptr<THeldEntry> Hold(TVolume& volume, const TVolumeFolder& folder, const std::string& name);
    // Releases a reference from Hold (null is ignored) on the releasing thread.
    void Release(std::unique_ptr<THeldEntry> held);
    // Returns once nothing handed over is still held: on NFS a held file
    // that was removed stays behind as a hidden name until then, and its
    // folder could not be removed.
    void WaitUntilAllReleased();

private:
    void Run();

    std::mutex FMutex;
    std::condition_variable FChanged;
    std::condition_variable FReleased;
    std::deque<std::unique_ptr<THeldEntry>> FPending;
    std::size_t FHeld = 0; // held or pending, within a bound on open descriptors
    bool FEnding = false;
    std::vector<std::thread> FThreads;
};

// The entry a copy replaces, held through the rename and released later.
class TReleasedLater : public TReplacedEntry {
public:
    TReleasedLater(TDeferredRelease& release, TVolume& volume) : FRelease(release), FVolume(volume) {}
    ~TReleasedLater() override { FRelease.Release(std::move(FHeld)); }
    TReleasedLater(const TReleasedLater&) = delete;
    TReleasedLater& operator=(const TReleasedLater&) = delete;

    std::string Keep(const TVolumeFolder& folder, const std::string& name) override {
        FHeld = FRelease.Hold(FVolume, folder, name);
        return {};
    }
    void PutBack(const TVolumeFolder&, const std::string&) override {}

private:
    TDeferredRelease& FRelease;
    TVolume& FVolume;
    std::unique_ptr<THeldEntry> FHeld;
};

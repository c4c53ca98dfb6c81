#pragma once

#include "engine/volume/LocalVolume.h"

#include <functional>
#include <memory>
#include <string>

// A local volume that fails on cue where a real fault cannot be made: a
// folder that cannot be listed, a device that corrupts what is read back, a
// rename that fails after the write, a flush that fails. An empty cue passes
// the call to the local volume.
class TFaultyVolume : public TLocalVolume {
public:
    using TLocalVolume::TLocalVolume;

    // Called with the folder's full path (with trailing delimiter) before it
    // is listed; a non-zero errno fails the listing.
    std::function<int(const std::string& folder)> FListingFault;
    // May change the bytes read back from a written copy at offset.
    std::function<void(char* data, std::size_t size, off_t offset)> FReadBackFault;
    // Called with the final name before a finished copy is renamed into place; a non-zero errno fails it.
    std::function<int(const std::string& name)> FRenameFault;
    // A non-zero errno fails the flush.
    std::function<int()> FFlushFault;

    int ListFolder(const TVolumeFolder* folder, std::string_view relative, bool facts, bool resolveLinks,
                   TFolderListing& listing) override {
        if (FListingFault && folder == nullptr) {
            if (const int error = FListingFault(Root() + std::string(relative)); error != 0) {
                listing.Clear();
                return error;
            }
        }
        return TLocalVolume::ListFolder(folder, relative, facts, resolveLinks, listing);
    }
    long ReadBackAt(int fd, char* data, std::size_t size, off_t offset) override {
        const long n = TLocalVolume::ReadBackAt(fd, data, size, offset);
        if (n > 0 && FReadBackFault) {
            FReadBackFault(data, static_cast<std::size_t>(n), offset);
        }
        return n;
    }
    int RenameIntoPlace(int folderFd, const char* temporary, const char* name, bool replace) override {
        if (FRenameFault) {
            if (const int error = FRenameFault(name); error != 0) {
                return error;
            }
        }
        return TLocalVolume::RenameIntoPlace(folderFd, temporary, name, replace);
    }
    bool Flush(std::string& reason) override {
        if (FFlushFault) {
            if (const int error = FFlushFault(); error != 0) {
                reason = ErrorText(error);
                return false;
            }
        }
        return TLocalVolume::Flush(reason);
    }
};

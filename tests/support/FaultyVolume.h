#pragma once

#include "engine/volume/LocalVolume.h"

#include <cerrno>
#include <functional>
#include <memory>
#include <string>

// A local volume that fails on cue where a real fault cannot be made: a
// folder that cannot be listed, a file that cannot be read to its end, a device that corrupts what is read
// back, a rename that fails after the write, a flush that fails. An empty cue passes the call to the local
// volume.
class TFaultyVolume : public TLocalVolume {
    // A file whose reads fail where the cue says.
    class TFailingFile : public TReadableFile {
    public:
        TFailingFile(std::unique_ptr<TReadableFile> file, std::function<int(std::int64_t)> fault)
            : FFile(std::move(file)), FFault(std::move(fault)) {
            FFacts = FFile->Facts();
        }
        long ReadAt(char* data, std::size_t size, std::int64_t offset) override {
            if (const int error = FFault(offset); error != 0) {
                errno = error;
                return -1;
            }
            return FFile->ReadAt(data, size, offset);
        }

    private:
        std::unique_ptr<TReadableFile> FFile;
        std::function<int(std::int64_t)> FFault;
    };

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
    // Called with the offset of every read of a file opened here; a non-zero errno fails that read.
    std::function<int(std::int64_t offset)> FReadFault;

    std::unique_ptr<TReadableFile> OpenFile(std::string_view relative, int& error,
                                            bool& notRegular) override {
        std::unique_ptr<TReadableFile> file = TLocalVolume::OpenFile(relative, error, notRegular);
        if (!file || !FReadFault) {
            return file;
        }
        return std::make_unique<TFailingFile>(std::move(file), FReadFault);
    }

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

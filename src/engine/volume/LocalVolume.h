#pragma once

#include "CopyFile.h"
#include "Volume.h"

#include <mutex>
#include <set>
#include <sys/stat.h>
#include <utility>

// A folder of the local volume: an open descriptor.
class TLocalFolder : public TVolumeFolder {
public:
    explicit TLocalFolder(int fd) : FFd(fd) {}
    int Fd() const { return FFd.Get(); }

private:
    TFd FFd;
};

// A local file open for reading, with its facts as opened.
class TLocalFile : public TReadableFile {
public:
    TLocalFile(int fd, const struct stat& st);
    long ReadAt(char* data, std::size_t size, std::int64_t offset) override;
    void ExpectSequentialReads() override;
    int Fd() const { return FFd.Get(); }
    const struct stat& Stat() const { return FStat; }

private:
    TFd FFd;
    struct stat FStat;
};

// A folder tree on this machine. Writes and deletes are made relative to
// descriptors reached from one held on the root, never through a link on the
// way; look-ups of the check take the root's path and the relative path.
class TLocalVolume : public TVolume, public TLocalWriteSteps {
public:
    explicit TLocalVolume(const std::string& root);

    TEntryFacts Facts(std::string_view relative, bool followLink) override;
    TEntryFacts FactsAt(const TVolumeFolder& folder, const std::string& name) override;
    int ListFolder(const TVolumeFolder* folder, std::string_view relative, bool facts, bool resolveLinks,
                   TFolderListing& listing) override;
    int ReadLink(std::string_view relative, std::string& text) override;
    int ReadLinkAt(const TVolumeFolder& folder, const std::string& name, std::string& text) override;
    TFileSystemFacts FileSystem() override;

    std::unique_ptr<TReadableFile> OpenFile(std::string_view relative, int& error, bool& notRegular) override;
    std::unique_ptr<TReadableFile> OpenFileAt(const TVolumeFolder& folder, const std::string& name,
                                              int& error, bool& notRegular) override;

    TFolderRef OpenParent(const std::string& line, TFolderWalk walk, std::string& lastName,
                          int& error) override;
    TFolderRef OpenFolderAt(const TVolumeFolder* folder, const std::string& name, int& error) override;
    int MakeRoot(bool parents) override;

    int MakeFolder(const TVolumeFolder& folder, const std::string& name) override;
    int RemoveFolder(const TVolumeFolder& folder, const std::string& name) override;
    int RemoveFile(const TVolumeFolder& folder, const std::string& name) override;
    void AllowOwnerWrite(const TVolumeFolder& folder, const std::string& name) override;
    int Rename(const TVolumeFolder& fromFolder, const std::string& from, const TVolumeFolder& toFolder,
               const std::string& to, bool replace) override;
    int MakeLink(const TVolumeFolder& folder, const std::string& name, const std::string& text,
                 std::int64_t modifiedNs, bool replace) override;
    bool WriteFile(const TVolumeFolder& folder, const std::string& name, TReadableFile& source,
                   const TWriteOptions& options, std::string& reason) override;
    void SweepTemporaries(const TVolumeFolder& folder) override;
    std::unique_ptr<THeldEntry> Hold(const TVolumeFolder& folder, const std::string& name) override;
    int FlushFile(const TVolumeFolder& folder, const std::string& name) override;
    bool Flush(std::string& reason) override;
    int CreateExclusive(const std::string& name, std::string_view contents) override;

private:
    // The root's descriptor, opened once it exists; -1 with errno set before.
    int RootFd();
    std::string PathOf(std::string_view relative) const;

    std::mutex FMutex;
    TFd FRootFd;
    std::set<std::pair<dev_t, ino_t>> FSwept;
};

// The descriptor of a folder of a local volume.
inline int FdOf(const TVolumeFolder& folder) {
    return static_cast<const TLocalFolder&>(folder).Fd();
}

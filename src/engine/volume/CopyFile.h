#pragma once

#include "Volume.h"
#include "engine/project/StopTest.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

// Files larger than this are copied in blocks with the stop test polled between them.
inline constexpr std::int64_t SingleCallCopyLimit = 10 * 1024 * 1024;
inline constexpr std::size_t CopyBlockSize = 128 * 1024;

// A copy is written to a hidden file named this prefix and six letters or
// digits, in the target's folder, and renamed over the target when complete.
inline constexpr std::string_view CopyTemporaryPrefix = ".pairwell-";
bool IsCopyTemporaryName(std::string_view name);
// A fresh temporary name: the prefix and six random letters or digits.
std::string RandomTemporaryName();

// A time in nanoseconds since 1970 as the system takes it.
timespec TimeOf(std::int64_t ns);

// An owned file descriptor.
class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    void Reset(int fd) {
        Close();
        FFd = fd;
    }
    bool Close() {
        const int fd = FFd;
        FFd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int FFd;
};

// The steps of a local write that a volume may take over: a test volume
// fails them on cue, as a device or a file system would.
class TLocalWriteSteps {
public:
    virtual ~TLocalWriteSteps() = default;
    // Reads back part of a written copy from the device, as ReadBlockAt.
    virtual long ReadBackAt(int fd, char* data, std::size_t size, off_t offset);
    // Renames the finished temporary file into place: 0 or the errno.
    virtual int RenameIntoPlace(int folderFd, const char* temporary, const char* name, bool replace);
};

// Copies source to the entry name of the folder open as folderFd, so that the
// entry ends up with the source's contents (holes kept), permission bits and
// modification time. The copy is written to a temporary file in that folder,
// locked while it is written, and renamed over the entry only when complete:
// a failed or stopped copy leaves an existing entry exactly as it was and no
// temporary file behind. With failIfExists, an existing entry fails the copy
// untouched, also one that appears while the copy is written. Only a regular
// source is copied; opening it never waits (a pipe is refused). Raises
// EInOutError only when the source cannot be opened or measured; every other
// failure returns false with the reason (the system's message) in reason.
// replaced (with the folder that folderFd belongs to) decides what becomes of
// the entry replaced. With verify the copy is read back from the disk and compared with what was
// read from the source before the rename (CopyVerified).
bool CopyOneFileAt(const std::string& source, int folderFd, const std::string& name, bool failIfExists,
                   const TStopTest& stopRequested, std::string& reason, bool verify = false,
                   TReplacedEntry* replaced = nullptr, const TVolumeFolder* folder = nullptr,
                   TLocalWriteSteps* steps = nullptr);

// CopyOneFileAt from a regular file already open (and measured) as sourceFd.
bool CopyOpenFileAt(int sourceFd, const struct stat& sourceStat, int folderFd, const std::string& name,
                    bool failIfExists, const TStopTest& stopRequested, std::string& reason,
                    bool verify = false, TReplacedEntry* replaced = nullptr,
                    const TVolumeFolder* folder = nullptr, TLocalWriteSteps* steps = nullptr);

// CopyOpenFileAt from a file of any volume, read a block at a time (no
// verification: that needs the source's descriptor).
bool CopyReadableAt(TReadableFile& source, int folderFd, const std::string& name, bool failIfExists,
                    const TStopTest& stopRequested, std::string& reason, TReplacedEntry* replaced,
                    const TVolumeFolder* folder, TLocalWriteSteps* steps = nullptr);

// CopyOneFileAt into the folder of target, reached by its path.
bool CopyOneFile(const std::string& source, const std::string& target, bool failIfExists,
                 const TStopTest& stopRequested = {}, std::string* reason = nullptr);

// Copies the contents of an open source to an open target in blocks, holes
// kept, polling the stop test before each block. False on a stop or any error.
bool CopyFileInBlocks(int sourceFd, int targetFd, const TStopTest& stopRequested);

// Removes the temporary files that copies killed before their end left in the
// folder open as folderFd. A copy in progress holds a lock on its temporary
// file, so the files of a concurrent run are left alone.
void RemoveLeftoverTemporaries(int folderFd);

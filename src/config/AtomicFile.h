#pragma once

#include <functional>
#include <optional>
#include <string>

// Reads a whole file; empty optional when it does not exist or cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Replaces the file at path with contents: written to a temporary file beside
// it, flushed to disk, then renamed over it, so that a crash or a full disk
// leaves either the old file or the new one. Keeps the old file's permission
// bits. Returns false (and leaves the old file) on any failure, with errno
// telling why.
bool ReplaceFileAtomically(const std::string& path, const std::string& contents);

// The same replacement with contents too large to hold at once: write is
// given the temporary file's descriptor and returns false when it could not
// write everything; the old file stays then.
bool ReplaceFileAtomicallyWith(const std::string& path, const std::function<bool(int fd)>& write);

// Writes all of size bytes at data to fd, resuming after interruptions.
bool WriteAllTo(int fd, const char* data, std::size_t size);

// An exclusive advisory lock on a lock file (flock), held for the lifetime of
// the object. It serialises threads of this process and other processes alike.
class TFileLock {
public:
    explicit TFileLock(const std::string& lockPath);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    // False when the lock file could not be created or locked.
    bool Locked() const { return FFd >= 0; }
    // The errno of the failure when not locked.
    int Error() const { return FError; }

private:
    int FFd = -1;
    int FError = 0;
};

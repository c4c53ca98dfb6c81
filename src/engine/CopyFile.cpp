#include "CopyFile.h"

#include "config/CustomPublic.h"
#include "config/PathText.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    bool Close() {
        const int fd = FFd;
        FFd = -1;
        return fd < 0 || close(fd) == 0;
    }

private:
    int FFd;
};

// A hidden temporary file beside the target; removed again unless committed.
class TTemporaryTarget {
public:
    explicit TTemporaryTarget(const std::string& target) {
        std::string pattern = ExtractFileDir(target) + PathDelim + ".pairwell-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        FFd = mkostemp(name.data(), O_CLOEXEC);
        if (FFd >= 0) {
            FPath = name.data();
        }
    }
    ~TTemporaryTarget() {
        if (FFd >= 0) {
            close(FFd);
        }
        if (!FPath.empty()) {
            unlink(FPath.c_str());
        }
    }
    TTemporaryTarget(const TTemporaryTarget&) = delete;
    TTemporaryTarget& operator=(const TTemporaryTarget&) = delete;

    int Fd() const { return FFd; }
    bool CloseFile() {
        const int fd = FFd;
        FFd = -1;
        return close(fd) == 0;
    }
    // Renames the finished copy over the target (or only where nothing is, with noReplace).
    bool Commit(const std::string& target, bool noReplace) {
        if (!noReplace) {
            if (rename(FPath.c_str(), target.c_str()) != 0) {
                return false;
            }
        } else if (renameat2(AT_FDCWD, FPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
            // Some file systems cannot rename without replacing; a hard link cannot replace either.
            if ((errno != EINVAL && errno != ENOSYS) || link(FPath.c_str(), target.c_str()) != 0) {
                return false;
            }
            unlink(FPath.c_str());
        }
        FPath.clear();
        return true;
    }

private:
    int FFd = -1;
    std::string FPath;
};

// The whole file in as few kernel calls as the kernel allows.
bool CopyWhole(int sourceFd, int targetFd) {
    for (;;) {
        const ssize_t n = copy_file_range(sourceFd, nullptr, targetFd, nullptr, 1 << 30, 0);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Not supported between these files: fall back to plain reads and writes.
            return (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) &&
                   CopyFileInBlocks(sourceFd, targetFd, {});
        }
    }
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool TargetExists(const std::string& target) {
    struct stat st {};
    return lstat(target.c_str(), &st) == 0;
}

} // namespace

// Blocks per kernel copy call: the stop test still runs every few milliseconds.
constexpr std::size_t KernelCopyBlocks = 64;

bool CopyFileInBlocks(int sourceFd, int targetFd, const TStopTest& stopRequested) {
    bool useKernelCopy = true;
    static thread_local std::vector<char> buffer;
    for (;;) {
        if (StopRequestedBy(stopRequested)) {
            return false;
        }
        if (useKernelCopy) {
            // The kernel copies without a buffer of ours, so it may take several blocks per call.
            const ssize_t n =
                copy_file_range(sourceFd, nullptr, targetFd, nullptr, KernelCopyBlocks * CopyBlockSize, 0);
            if (n > 0) {
                continue;
            }
            if (n == 0) {
                return true;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
                return false;
            }
            useKernelCopy = false; // this pair of files needs a buffer
        }
        buffer.resize(CopyBlockSize);
        const ssize_t n = read(sourceFd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0;
        }
        if (!WriteAll(targetFd, buffer.data(), static_cast<std::size_t>(n))) {
            return false;
        }
    }
}

bool CopyOneFile(const std::string& source, const std::string& target, bool failIfExists,
                 const TStopTest& stopRequested) {
    if (failIfExists && TargetExists(target)) {
        return false;
    }
    TFd sourceFd(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat sourceStat {};
    if (sourceFd.Get() < 0 || fstat(sourceFd.Get(), &sourceStat) != 0) {
        throw EInOutError("Cannot open " + source);
    }
    if (!S_ISREG(sourceStat.st_mode)) {
        return false;
    }
    TTemporaryTarget temporary(target);
    if (temporary.Fd() < 0) {
        return false;
    }
    const bool copied = sourceStat.st_size > SingleCallCopyLimit
                            ? CopyFileInBlocks(sourceFd.Get(), temporary.Fd(), stopRequested)
                            : CopyWhole(sourceFd.Get(), temporary.Fd());
    if (!copied) {
        return false;
    }
    const timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    if (fchmod(temporary.Fd(), sourceStat.st_mode & 0777) != 0 || futimens(temporary.Fd(), times) != 0) {
        return false;
    }
    if (!temporary.CloseFile()) {
        return false;
    }
    // The rename is the commit point: until it, the old target stays whole.
    return temporary.Commit(target, failIfExists);
}

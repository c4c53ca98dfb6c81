#include "AtomicFile.h"

#include "PathText.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::optional<std::string> ReadWholeFile(const std::string& path) {
    // Non-blocking open: a FIFO at the path must not hang the reader.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    std::string contents;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return contents;
}

bool WriteAllTo(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

// Where the contents really go: a link to the file is kept and its file replaced.
std::string ResolvedPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string result = resolved;
    free(resolved);
    return result;
}

// A new, exclusive file beside path; created with 0666 so that the umask applies.
int CreateTemporaryBeside(const std::string& path, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

} // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& contents) {
    return ReplaceFileAtomicallyWith(
        path, [&contents](int fd) { return WriteAllTo(fd, contents.data(), contents.size()); });
}

bool ReplaceFileAtomicallyWith(const std::string& givenPath, const std::function<bool(int fd)>& write) {
    const std::string path = ResolvedPath(givenPath);
    std::string tempPath;
    const int fd = CreateTemporaryBeside(path, tempPath);
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    const bool keepMode = stat(path.c_str(), &old) == 0;
    int error = 0;
    const bool written = (!keepMode || fchmod(fd, old.st_mode & 07777) == 0) && write(fd) && fsync(fd) == 0;
    if (!written) {
        error = errno;
    }
    const bool closed = close(fd) == 0;
    if (!closed && error == 0) {
        error = errno;
    }
    if (!written || !closed || rename(tempPath.c_str(), path.c_str()) != 0) {
        if (error == 0) {
            error = errno;
        }
        unlink(tempPath.c_str());
        errno = error; // why it failed, not how the clean-up went
        return false;
    }
    // Make the rename itself durable.
    const int dirFd = open(ExtractFileDir(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return true;
}

TFileLock::TFileLock(const std::string& lockPath) {
    FFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (FFd < 0) {
        FError = errno;
        return;
    }
    while (flock(FFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            FError = errno;
            close(FFd);
            FFd = -1;
            return;
        }
    }
}

TFileLock::~TFileLock() {
    if (FFd >= 0) {
        flock(FFd, LOCK_UN);
        close(FFd);
    }
}

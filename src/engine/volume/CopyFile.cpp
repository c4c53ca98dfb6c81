#include "CopyFile.h"

#include "BlockIo.h"
#include "FileSystemKind.h"
#include "RenameNoReplace.h"
#include "VerifiedCopy.h"
#include "config/CustomPublic.h"
#include "config/FileFacts.h"
#include "config/PathText.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t TemporarySuffixLength = 6;
constexpr char TemporaryLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool IsTemporaryLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// A hidden temporary file in the target's folder, locked while it is written;
// removed again unless committed.
class TTemporaryTarget {
public:
    explicit TTemporaryTarget(int folderFd) : FFolderFd(folderFd) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = RandomTemporaryName();
            const int fd =
                openat(folderFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0) {
                FFd.Reset(fd);
                FName = std::move(name);
                // Held until the rename: a later run removes only temporaries nobody holds.
                flock(fd, LOCK_EX);
                FLock.Reset(dup(fd));
                return;
            }
            if (errno != EEXIST) {
                return;
            }
        }
    }
    ~TTemporaryTarget() {
        FFd.Close();
        if (!FName.empty()) {
            unlinkat(FFolderFd, FName.c_str(), 0);
        }
    }
    TTemporaryTarget(const TTemporaryTarget&) = delete;
    TTemporaryTarget& operator=(const TTemporaryTarget&) = delete;

    int Fd() const { return FFd.Get(); }
    bool CloseFile() { return FFd.Close(); }
    // Renames the finished copy over the entry (or only where nothing is, with noReplace).
    bool Commit(const std::string& name, bool noReplace, TLocalWriteSteps& steps) {
        if (const int error = steps.RenameIntoPlace(FFolderFd, FName.c_str(), name.c_str(), !noReplace);
            error != 0) {
            errno = error;
            return false;
        }
        FName.clear();
        return true;
    }

private:
    int FFolderFd;
    TFd FFd;
    TFd FLock; // shares the lock of FFd, so closing FFd keeps the file locked
    std::string FName;
};

bool IsKernelCopyUnsupported(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Blocks per kernel copy call: the stop test still runs every few milliseconds.
constexpr std::size_t KernelCopyBlocks = 64;

// Copies the bytes [offset, end) of the source to the same place in the
// target; with polled set the stop test runs before every block. A source
// that ends early ends the range.
class TRangeCopier {
public:
    TRangeCopier(int sourceFd, int targetFd, bool polled, const TStopTest& stopRequested)
        : FSourceFd(sourceFd), FTargetFd(targetFd), FPolled(polled), FStopRequested(stopRequested) {}

    bool Copy(off_t offset, off_t end) {
        while (offset < end) {
            if (FPolled && StopRequestedBy(FStopRequested)) {
                errno = ECANCELED;
                return false;
            }
            const auto left = static_cast<std::size_t>(end - offset);
            ssize_t n;
            if (FUseKernelCopy) {
                const std::size_t most = FPolled ? KernelCopyBlocks * CopyBlockSize : std::size_t{1} << 30;
                off_t in = offset;
                off_t out = offset;
                n = copy_file_range(FSourceFd, &in, FTargetFd, &out, std::min(left, most), 0);
                if (n < 0 && IsKernelCopyUnsupported(errno)) {
                    FUseKernelCopy = false; // this pair of files needs a buffer
                    continue;
                }
            } else {
                static thread_local std::vector<char> buffer;
                buffer.resize(CopyBlockSize);
                n = pread(FSourceFd, buffer.data(), std::min(left, buffer.size()), offset);
                if (n > 0 && !WriteAllAt(FTargetFd, buffer.data(), static_cast<std::size_t>(n), offset)) {
                    return false;
                }
            }
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (n == 0) {
                return true; // the source has become shorter
            }
            offset += n;
        }
        return true;
    }

private:
    int FSourceFd;
    int FTargetFd;
    bool FPolled;
    const TStopTest& FStopRequested;
    bool FUseKernelCopy = true;
};

// Copies the whole source, only its data where it has holes, so that a sparse
// file stays sparse; the target's size is set to the source's at the end.
bool CopyContents(int sourceFd, int targetFd, bool polled, const TStopTest& stopRequested) {
    struct stat st {};
    if (fstat(sourceFd, &st) != 0) {
        return false;
    }
    TRangeCopier copier(sourceFd, targetFd, polled, stopRequested);
    const bool sparse = st.st_blocks * 512 < st.st_size;
    if (!sparse) {
        if (!copier.Copy(0, st.st_size)) {
            return false;
        }
        // A source that grew since it was measured is copied to its end.
        for (off_t end = lseek(sourceFd, 0, SEEK_END); end > st.st_size; end = lseek(sourceFd, 0, SEEK_END)) {
            if (!copier.Copy(st.st_size, end)) {
                return false;
            }
            st.st_size = end;
        }
        return true;
    }
    off_t offset = 0;
    for (;;) {
        if (polled && StopRequestedBy(stopRequested)) {
            errno = ECANCELED;
            return false;
        }
        const off_t data = lseek(sourceFd, offset, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) {
                break; // only a hole is left
            }
            if (errno != EINVAL && errno != EOPNOTSUPP) {
                return false;
            }
            // No hole detection here: the rest is copied as data.
            if (!copier.Copy(offset, st.st_size)) {
                return false;
            }
            break;
        }
        off_t hole = lseek(sourceFd, data, SEEK_HOLE);
        if (hole < 0) {
            return false;
        }
        if (!copier.Copy(data, hole)) {
            return false;
        }
        offset = hole;
    }
    const off_t end = lseek(sourceFd, 0, SEEK_END);
    return end >= 0 && ftruncate(targetFd, end) == 0;
}

bool Fail(std::string& reason, const std::string& text) {
    reason = text;
    return false;
}

bool FailWithErrno(std::string& reason) {
    return Fail(reason, ErrorText(errno));
}

} // namespace

long TLocalWriteSteps::ReadBackAt(int fd, char* data, std::size_t size, off_t offset) {
    return static_cast<long>(ReadBlockAt(fd, data, size, offset));
}

int TLocalWriteSteps::RenameIntoPlace(int folderFd, const char* temporary, const char* name, bool replace) {
    if (replace) {
        return renameat(folderFd, temporary, folderFd, name) == 0 ? 0 : errno;
    }
    return RenameWithoutReplacing(folderFd, temporary, folderFd, name) ? 0 : errno;
}

bool IsCopyTemporaryName(std::string_view name) {
    if (name.size() != CopyTemporaryPrefix.size() + TemporarySuffixLength ||
        name.substr(0, CopyTemporaryPrefix.size()) != CopyTemporaryPrefix) {
        return false;
    }
    for (const char c : name.substr(CopyTemporaryPrefix.size())) {
        if (!IsTemporaryLetter(c)) {
            return false;
        }
    }
    return true;
}

bool CopyFileInBlocks(int sourceFd, int targetFd, const TStopTest& stopRequested) {
    return CopyContents(sourceFd, targetFd, true, stopRequested);
}

bool CopyOneFileAt(const std::string& source, int folderFd, const std::string& name, bool failIfExists,
                   const TStopTest& stopRequested, std::string& reason, bool verify, TReplacedEntry* replaced,
                   const TVolumeFolder* folder, TLocalWriteSteps* steps) {
    struct stat existing {};
    if (failIfExists && fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        return Fail(reason, ErrorText(EEXIST));
    }
    // Never waits: a pipe opened without O_NONBLOCK would block until a writer came.
    TFd sourceFd(open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat sourceStat {};
    if (sourceFd.Get() < 0 || fstat(sourceFd.Get(), &sourceStat) != 0) {
        throw EInOutError("Cannot open " + source + ": " + ErrorText(errno));
    }
    if (!S_ISREG(sourceStat.st_mode)) {
        return Fail(reason, "not a regular file");
    }
    fcntl(sourceFd.Get(), F_SETFL, O_RDONLY); // reads of a regular file may block as usual
    return CopyOpenFileAt(sourceFd.Get(), sourceStat, folderFd, name, failIfExists, stopRequested, reason,
                          verify, replaced, folder, steps);
}

namespace {

// Sets the source's permission bits and times on the finished temporary,
// closes it and renames it into place; replaced is asked first.
TLocalWriteSteps& StepsOr(TLocalWriteSteps* steps) {
    static TLocalWriteSteps plain;
    return steps != nullptr ? *steps : plain;
}

bool CommitCopy(TTemporaryTarget& temporary, mode_t mode, const timespec (&times)[2], const std::string& name,
                bool failIfExists, std::string& reason, TReplacedEntry* replaced, const TVolumeFolder* folder,
                TLocalWriteSteps* steps) {
    // FAT and exFAT keep no permissions and refuse modes they cannot store.
    if ((fchmod(temporary.Fd(), mode & 0777) != 0 &&
         !(errno == EPERM && KeepsNoPermissions(temporary.Fd()))) ||
        futimens(temporary.Fd(), times) != 0) {
        return FailWithErrno(reason);
    }
    if (!temporary.CloseFile()) {
        return FailWithErrno(reason);
    }
    if (replaced != nullptr) {
        if (std::string why = replaced->Keep(*folder, name); !why.empty()) {
            return Fail(reason, why);
        }
    }
    // The rename is the commit point: until it, the old entry stays whole.
    if (!temporary.Commit(name, failIfExists, StepsOr(steps))) {
        const int error = errno;
        if (replaced != nullptr) {
            replaced->PutBack(*folder, name);
        }
        errno = error;
        return FailWithErrno(reason);
    }
    return true;
}

} // namespace

bool CopyOpenFileAt(int sourceFd, const struct stat& sourceStat, int folderFd, const std::string& name,
                    bool failIfExists, const TStopTest& stopRequested, std::string& reason, bool verify,
                    TReplacedEntry* replaced, const TVolumeFolder* folder, TLocalWriteSteps* steps) {
    TTemporaryTarget temporary(folderFd);
    if (temporary.Fd() < 0) {
        return FailWithErrno(reason);
    }
    const bool polled = sourceStat.st_size > SingleCallCopyLimit;
    if (verify) {
        if (!CopyVerified(sourceFd, temporary.Fd(), polled, stopRequested, reason, StepsOr(steps))) {
            return false;
        }
    } else if (!CopyContents(sourceFd, temporary.Fd(), polled, stopRequested)) {
        return errno == ECANCELED ? Fail(reason, "stopped") : FailWithErrno(reason);
    }
    const timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    return CommitCopy(temporary, sourceStat.st_mode, times, name, failIfExists, reason, replaced, folder,
                      steps);
}

bool CopyReadableAt(TReadableFile& source, int folderFd, const std::string& name, bool failIfExists,
                    const TStopTest& stopRequested, std::string& reason, TReplacedEntry* replaced,
                    const TVolumeFolder* folder, TLocalWriteSteps* steps) {
    TTemporaryTarget temporary(folderFd);
    if (temporary.Fd() < 0) {
        return FailWithErrno(reason);
    }
    static thread_local std::vector<char> buffer;
    buffer.resize(CopyBlockSize);
    std::int64_t offset = 0;
    for (;;) {
        if (StopRequestedBy(stopRequested)) {
            return Fail(reason, "stopped");
        }
        const long n = source.ReadAt(buffer.data(), buffer.size(), offset);
        if (n < 0) {
            return FailWithErrno(reason);
        }
        if (n == 0) {
            break;
        }
        if (!WriteAllAt(temporary.Fd(), buffer.data(), static_cast<std::size_t>(n), offset)) {
            return FailWithErrno(reason);
        }
        offset += n;
    }
    const TEntryFacts& facts = source.Facts();
    const timespec times[2] = {TimeOf(facts.FAccessedNs), TimeOf(facts.FModifiedNs)};
    return CommitCopy(temporary, facts.FMode, times, name, failIfExists, reason, replaced, folder, steps);
}

bool CopyOneFile(const std::string& source, const std::string& target, bool failIfExists,
                 const TStopTest& stopRequested, std::string* reason) {
    std::string ignored;
    std::string& why = reason != nullptr ? *reason : ignored;
    const std::string folder = ExtractFileDir(target);
    const std::string name = target.substr(target.find_last_of(PathDelim) + 1);
    const TFd folderFd(open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.Get() < 0) {
        return FailWithErrno(why);
    }
    return CopyOneFileAt(source, folderFd.Get(), name, failIfExists, stopRequested, why);
}

void RemoveLeftoverTemporaries(int folderFd) {
    const int listingFd = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listingFd < 0) {
        return;
    }
    DIR* dir = fdopendir(listingFd);
    if (dir == nullptr) {
        close(listingFd);
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        if (!IsCopyTemporaryName(entry->d_name)) {
            continue;
        }
        const TFd fd(openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat held {};
        struct stat named {};
        // Locked means a copy is still writing it. The name is checked again
        // under the lock: it must still be this file.
        if (fd.Get() >= 0 && fstat(fd.Get(), &held) == 0 && S_ISREG(held.st_mode) &&
            flock(fd.Get(), LOCK_EX | LOCK_NB) == 0 &&
            fstatat(folderFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_ino == held.st_ino && named.st_dev == held.st_dev) {
            unlinkat(folderFd, entry->d_name, 0);
        }
    }
    closedir(dir);
}

std::string RandomTemporaryName() {
    static thread_local std::mt19937_64 random(std::random_device{}() ^
                                               std::hash<std::thread::id>{}(std::this_thread::get_id()));
    std::string name(CopyTemporaryPrefix);
    for (std::size_t i = 0; i < TemporarySuffixLength; ++i) {
        name.push_back(TemporaryLetters[random() % (sizeof TemporaryLetters - 1)]);
    }
    return name;
}

timespec TimeOf(std::int64_t ns) {
    timespec time{};
    time.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    time.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    if (time.tv_nsec < 0) {
        time.tv_nsec += 1'000'000'000;
        --time.tv_sec;
    }
    return time;
}

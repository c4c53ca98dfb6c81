#include "LocalVolume.h"

#include "FileSystemKind.h"
#include "RenameNoReplace.h"
#include "RootedPath.h"
#include "config/CustomPublic.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::int64_t NanosecondsOf(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

void FillFacts(const struct stat& st, TEntryFacts& facts) {
    facts.FExists = true;
    facts.FIsLink = S_ISLNK(st.st_mode);
    facts.FIsFolder = S_ISDIR(st.st_mode);
    facts.FIsRegular = S_ISREG(st.st_mode);
    facts.FMode = st.st_mode & 07777;
    facts.FModified = LocalDateTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    facts.FModifiedNs = NanosecondsOf(st.st_mtim);
    facts.FAccessedNs = NanosecondsOf(st.st_atim);
    facts.FSize = facts.FIsFolder ? 0 : static_cast<std::int64_t>(st.st_size);
}

TEntryFacts FactsOfLookup(int result, const struct stat& st) {
    TEntryFacts facts;
    if (result != 0) {
        facts.FError = MeansAbsent(errno) ? 0 : errno;
        return facts;
    }
    FillFacts(st, facts);
    return facts;
}

std::string WithoutTrailingDelimiters(std::string path) {
    while (path.size() > 1 && path.back() == PathDelim) {
        path.pop_back();
    }
    return path;
}

bool IsFolderPath(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates a root folder and all its missing parents; true when it exists
// afterwards. Roots are the user's own paths, links on the way included.
bool ForceFolders(const std::string& folder) {
    const std::string path = WithoutTrailingDelimiters(folder);
    if (path.empty() || IsFolderPath(path)) {
        return !path.empty();
    }
    const auto slash = path.find_last_of(PathDelim);
    if (slash != std::string::npos && slash > 0) {
        ForceFolders(path.substr(0, slash));
    }
    return mkdir(path.c_str(), 0777) == 0 || IsFolderPath(path);
}

int ReadLinkTextAt(int folderFd, const char* name, std::string& text) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = readlinkat(folderFd, name, buffer.data(), buffer.size());
        if (n < 0) {
            return errno;
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            text.assign(buffer.data(), static_cast<std::size_t>(n));
            return 0;
        }
        buffer.resize(buffer.size() * 4);
    }
}

TListedKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) {
        return TListedKind::File;
    }
    if (S_ISDIR(mode)) {
        return TListedKind::Folder;
    }
    return S_ISLNK(mode) ? TListedKind::Link : TListedKind::Other;
}

TListedKind KindOfType(unsigned char type) {
    switch (type) {
    case DT_DIR:
        return TListedKind::Folder;
    case DT_REG:
        return TListedKind::File;
    case DT_LNK:
        return TListedKind::Link;
    case DT_UNKNOWN:
        return TListedKind::Unknown;
    default:
        return TListedKind::Other; // pipe, socket, device
    }
}

struct TDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

class TLocalHeld : public THeldEntry {
public:
    explicit TLocalHeld(int fd) : FFd(fd) {}

private:
    TFd FFd;
};

} // namespace

TLocalFile::TLocalFile(int fd, const struct stat& st) : FFd(fd), FStat(st) {
    FillFacts(st, FFacts);
}

long TLocalFile::ReadAt(char* data, std::size_t size, std::int64_t offset) {
    for (;;) {
        const ssize_t n = pread(FFd.Get(), data, size, static_cast<off_t>(offset));
        if (n >= 0 || errno != EINTR) {
            return static_cast<long>(n);
        }
    }
}

void TLocalFile::ExpectSequentialReads() {
    posix_fadvise(FFd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

TLocalVolume::TLocalVolume(const std::string& root) : TVolume(root) {}

std::string TLocalVolume::PathOf(std::string_view relative) const {
    std::string path;
    path.reserve(Root().size() + relative.size());
    path.append(Root());
    path.append(relative);
    return path;
}

int TLocalVolume::RootFd() {
    const std::lock_guard lock(FMutex);
    if (FRootFd.Get() < 0) {
        FRootFd.Reset(open(Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return FRootFd.Get();
}

TEntryFacts TLocalVolume::Facts(std::string_view relative, bool followLink) {
    struct stat st {};
    if (followLink) {
        // The root itself is looked at by its name: "file/" would say nothing is there.
        const std::string path = relative.empty() ? WithoutTrailingDelimiters(Root()) : PathOf(relative);
        const int result = stat(path.c_str(), &st);
        return FactsOfLookup(result, st);
    }
    // A trailing delimiter would make the look-up follow a link.
    const std::string path = WithoutTrailingDelimiters(PathOf(relative));
    const int result = lstat(path.c_str(), &st);
    return FactsOfLookup(result, st);
}

TEntryFacts TLocalVolume::FactsAt(const TVolumeFolder& folder, const std::string& name) {
    struct stat st {};
    const int result = fstatat(FdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    return FactsOfLookup(result, st);
}

int TLocalVolume::ListFolder(const TVolumeFolder* folder, std::string_view relative, bool facts,
                             bool resolveLinks, TFolderListing& listing) {
    listing.Clear();
    int fd;
    if (folder != nullptr) {
        const std::string name =
            relative.empty() ? std::string(".") : WithoutTrailingDelimiters(std::string(relative));
        fd = openat(FdOf(*folder), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    } else if (relative.empty()) {
        fd = open(Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
        // O_NOFOLLOW holds only for a last name without a trailing delimiter:
        // "sub/" would be resolved through a link named sub.
        const std::string path = WithoutTrailingDelimiters(PathOf(relative));
        fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        return errno;
    }
    const std::unique_ptr<DIR, TDirCloser> dir(fdopendir(fd));
    if (!dir) {
        const int error = errno;
        close(fd);
        return error;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) {
            return errno; // 0 at the end; else the listing broke off
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        if (IsCopyTemporaryName(name)) {
            continue; // left by an interrupted write; the next write here removes it
        }
        TListedEntry listed;
        listed.FKind = KindOfType(entry->d_type);
        struct stat st {};
        if (listed.FKind == TListedKind::Unknown || facts) {
            // Some file systems leave the type out of the listing.
            if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) {
                    continue; // gone meanwhile
                }
                listed.FError = errno;
            } else {
                listed.FKind = KindOfMode(st.st_mode);
                listed.FSize = static_cast<std::int64_t>(st.st_size);
                listed.FModifiedNs = NanosecondsOf(st.st_mtim);
            }
        }
        if (listed.FKind == TListedKind::Link && resolveLinks) {
            struct stat target {};
            if (fstatat(fd, name, &target, 0) != 0) {
                listed.FTarget = errno == ENOENT ? TListedKind::Missing : TListedKind::Unknown;
                listed.FError = errno == ENOENT ? 0 : errno;
            } else {
                listed.FTarget = KindOfMode(target.st_mode);
            }
        }
        const std::size_t length = std::strlen(name);
        listed.FOffset = static_cast<std::uint32_t>(listing.FNames.size());
        listed.FLength = static_cast<std::uint32_t>(length);
        listing.FNames.append(name, length);
        listing.FEntries.push_back(listed);
    }
}

int TLocalVolume::ReadLink(std::string_view relative, std::string& text) {
    const std::string path = WithoutTrailingDelimiters(PathOf(relative));
    return ReadLinkTextAt(AT_FDCWD, path.c_str(), text);
}

int TLocalVolume::ReadLinkAt(const TVolumeFolder& folder, const std::string& name, std::string& text) {
    return ReadLinkTextAt(FdOf(folder), name.c_str(), text);
}

TFileSystemFacts TLocalVolume::FileSystem() {
    TFileSystemFacts facts;
    facts.FType = FileSystemTypeOf(Root());
    facts.FTimeStepMs = IsFatFamilyType(facts.FType) ? 2000 : 0;
    return facts;
}

namespace {

// Opens without waiting: a pipe opened without O_NONBLOCK would block until a writer came.
std::unique_ptr<TReadableFile> OpenRegular(int folderFd, const char* path, int extraFlags, int& error,
                                           bool& notRegular) {
    notRegular = false;
    const int fd = openat(folderFd, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | extraFlags);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        error = errno;
        if (fd >= 0) {
            close(fd);
        }
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        notRegular = true;
        error = EINVAL;
        return nullptr;
    }
    fcntl(fd, F_SETFL, O_RDONLY); // reads of a regular file may block as usual
    error = 0;
    return std::make_unique<TLocalFile>(fd, st);
}

} // namespace

std::unique_ptr<TReadableFile> TLocalVolume::OpenFile(std::string_view relative, int& error,
                                                      bool& notRegular) {
    const std::string path = PathOf(relative);
    return OpenRegular(AT_FDCWD, path.c_str(), 0, error, notRegular);
}

std::unique_ptr<TReadableFile> TLocalVolume::OpenFileAt(const TVolumeFolder& folder, const std::string& name,
                                                        int& error, bool& notRegular) {
    return OpenRegular(FdOf(folder), name.c_str(), O_NOFOLLOW, error, notRegular);
}

TFolderRef TLocalVolume::OpenParent(const std::string& line, TFolderWalk walk, std::string& lastName,
                                    int& error) {
    const bool create = walk != TFolderWalk::Existing;
    if (create) {
        const std::lock_guard lock(FMutex);
        if (FRootFd.Get() < 0) {
            ForceFolders(Root());
        }
    }
    const int rootFd = RootFd();
    if (rootFd < 0) {
        error = errno;
        return nullptr;
    }
    const int fd = OpenParentBelowRoot(rootFd, line, create, lastName, walk == TFolderWalk::CreateOverLinks);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return std::make_shared<TLocalFolder>(fd);
}

TFolderRef TLocalVolume::OpenFolderAt(const TVolumeFolder* folder, const std::string& name, int& error) {
    const int base = folder != nullptr ? FdOf(*folder) : RootFd();
    if (base < 0) {
        error = errno;
        return nullptr;
    }
    const int fd =
        openat(base, name.empty() ? "." : name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return std::make_shared<TLocalFolder>(fd);
}

int TLocalVolume::MakeRoot(bool parents) {
    const std::string path = WithoutTrailingDelimiters(Root());
    if (parents) {
        return ForceFolders(path) ? 0 : errno;
    }
    if (mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && IsFolderPath(path))) {
        return errno;
    }
    return 0;
}

int TLocalVolume::MakeFolder(const TVolumeFolder& folder, const std::string& name) {
    return mkdirat(FdOf(folder), name.c_str(), 0777) == 0 ? 0 : errno;
}

int TLocalVolume::RemoveFolder(const TVolumeFolder& folder, const std::string& name) {
    const TFd child(openat(FdOf(folder), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (child.Get() >= 0) {
        RemoveLeftoverTemporaries(child.Get());
    }
    return unlinkat(FdOf(folder), name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

int TLocalVolume::RemoveFile(const TVolumeFolder& folder, const std::string& name) {
    return unlinkat(FdOf(folder), name.c_str(), 0) == 0 ? 0 : errno;
}

void TLocalVolume::AllowOwnerWrite(const TVolumeFolder& folder, const std::string& name) {
    struct stat st {};
    if (fstatat(FdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode) &&
        (st.st_mode & S_IWUSR) == 0) {
        fchmodat(FdOf(folder), name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0);
    }
}

int TLocalVolume::Rename(const TVolumeFolder& fromFolder, const std::string& from,
                         const TVolumeFolder& toFolder, const std::string& to, bool replace) {
    const auto* source = dynamic_cast<const TLocalFolder*>(&fromFolder);
    const auto* target = dynamic_cast<const TLocalFolder*>(&toFolder);
    if (source == nullptr || target == nullptr) {
        return EXDEV;
    }
    if (replace) {
        return renameat(source->Fd(), from.c_str(), target->Fd(), to.c_str()) == 0 ? 0 : errno;
    }
    return RenameWithoutReplacing(source->Fd(), from.c_str(), target->Fd(), to.c_str()) ? 0 : errno;
}

int TLocalVolume::MakeLink(const TVolumeFolder& folder, const std::string& name, const std::string& text,
                           std::int64_t modifiedNs, bool replace) {
    const int folderFd = FdOf(folder);
    struct stat existing {};
    if (!replace && fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        return EEXIST;
    }
    std::string temporary;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = RandomTemporaryName();
        if (symlinkat(text.c_str(), folderFd, temporary.c_str()) == 0) {
            break;
        }
        if (errno != EEXIST) {
            return errno;
        }
        temporary.clear();
    }
    if (temporary.empty()) {
        return EEXIST;
    }
    const timespec times[2] = {TimeOf(modifiedNs), TimeOf(modifiedNs)};
    utimensat(folderFd, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW); // the time is not compared
    const auto fail = [&](int error) {
        unlinkat(folderFd, temporary.c_str(), 0);
        return error;
    };
    if (!replace) {
        return RenameWithoutReplacing(folderFd, temporary.c_str(), folderFd, name.c_str()) ? 0 : fail(errno);
    }
    if (renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) == 0) {
        return 0;
    }
    if (errno == EISDIR && unlinkat(folderFd, name.c_str(), AT_REMOVEDIR) == 0 &&
        renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) == 0) {
        return 0; // an empty folder made way for the link
    }
    return fail(errno == EEXIST ? EISDIR : errno);
}

bool TLocalVolume::WriteFile(const TVolumeFolder& folder, const std::string& name, TReadableFile& source,
                             const TWriteOptions& options, std::string& reason) {
    static const TStopTest never;
    const TStopTest& stop = options.FStopRequested != nullptr ? *options.FStopRequested : never;
    // A local source is copied by its descriptor: the kernel's copy, holes kept.
    if (const auto* local = dynamic_cast<const TLocalFile*>(&source)) {
        return CopyOpenFileAt(local->Fd(), local->Stat(), FdOf(folder), name, !options.FReplace, stop, reason,
                              options.FVerify, options.FReplaced, &folder, this);
    }
    if (options.FVerify) {
        reason = "a verified copy needs a local source";
        return false;
    }
    return CopyReadableAt(source, FdOf(folder), name, !options.FReplace, stop, reason, options.FReplaced,
                          &folder, this);
}

void TLocalVolume::SweepTemporaries(const TVolumeFolder& folder) {
    struct stat st {};
    if (fstat(FdOf(folder), &st) != 0) {
        return;
    }
    const std::lock_guard lock(FMutex);
    if (FSwept.insert({st.st_dev, st.st_ino}).second) {
        RemoveLeftoverTemporaries(FdOf(folder));
    }
}

std::unique_ptr<THeldEntry> TLocalVolume::Hold(const TVolumeFolder& folder, const std::string& name) {
    const int fd = openat(FdOf(folder), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<TLocalHeld>(fd);
}

int TLocalVolume::FlushFile(const TVolumeFolder& folder, const std::string& name) {
    const TFd file(openat(FdOf(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.Get() < 0 || fsync(file.Get()) != 0 || fsync(FdOf(folder)) != 0) {
        return errno;
    }
    return 0;
}

bool TLocalVolume::Flush(std::string& reason) {
    const TFd fd(open(Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (MeansAbsent(errno)) {
            return true;
        }
        reason = ErrorText(errno);
        return false;
    }
    if (syncfs(fd.Get()) != 0) {
        reason = ErrorText(errno);
        return false;
    }
    return true;
}

int TLocalVolume::CreateExclusive(const std::string& name, std::string_view contents) {
    const int rootFd = RootFd();
    if (rootFd < 0) {
        return errno;
    }
    const TFd file(openat(rootFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.Get() < 0) {
        return errno;
    }
    for (std::size_t done = 0; done < contents.size();) {
        const ssize_t written = write(file.Get(), contents.data() + done, contents.size() - done);
        if (written < 0) {
            const int error = errno;
            unlinkat(rootFd, name.c_str(), 0);
            return error;
        }
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

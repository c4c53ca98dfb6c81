#include "Versions.h"

#include "ApplyRootedPath.h"
#include "Plan.h"
#include "VersionPrune.h"
#include "config/CustomPublic.h"
#include "config/FileFacts.h"
#include "config/PathText.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string WithoutTrailingDelimiters(std::string path) {
    while (path.size() > 1 && path.back() == PathDelim) {
        path.pop_back();
    }
    return path;
}

// The path with links resolved as far as it exists; the names below the
// nearest existing folder are appended as they are ("." and ".." worked out).
std::string CanonicalPath(const std::string& path) {
    std::string head = WithoutTrailingDelimiters(path.empty() ? std::string(".") : path);
    std::vector<std::string> tail; // the missing names, last first
    for (int depth = 0; depth < PATH_MAX; ++depth) {
        if (char* real = realpath(head.c_str(), nullptr); real != nullptr) {
            std::string result = real;
            free(real);
            for (auto name = tail.rbegin(); name != tail.rend(); ++name) {
                if (*name == "..") {
                    const auto slash = result.find_last_of(PathDelim);
                    result.resize(slash == 0 ? 1 : slash);
                } else if (!name->empty() && *name != ".") {
                    if (result.back() != PathDelim) {
                        result.push_back(PathDelim);
                    }
                    result += *name;
                }
            }
            return result;
        }
        const auto slash = head.find_last_of(PathDelim);
        if (slash == std::string::npos) {
            if (head == ".") {
                break;
            }
            tail.push_back(head);
            head = ".";
        } else {
            tail.push_back(head.substr(slash + 1));
            head = slash == 0 ? std::string(1, PathDelim) : head.substr(0, slash);
        }
    }
    return WithoutTrailingDelimiters(path);
}

// True when path is folder or lies below it (both canonical).
bool IsAtOrBelow(const std::string& path, const std::string& folder) {
    if (path == folder) {
        return true;
    }
    const std::string prefix = folder == "/" ? folder : folder + PathDelim;
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

// Creates a folder the user named and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& folder) {
    const std::string path = WithoutTrailingDelimiters(folder);
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) == 0) {
        return !path.empty() && S_ISDIR(st.st_mode);
    }
    const auto slash = path.find_last_of(PathDelim);
    if (slash != std::string::npos && slash > 0) {
        MakeFolders(path.substr(0, slash));
    }
    return mkdir(path.c_str(), 0777) == 0 || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

bool ReadDigits(const std::string& text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Renames an entry to a name where nothing is; 0 or the errno.
int RenameWithoutReplacing(int fromFd, const std::string& from, int toFd, const std::string& to) {
    if (renameat2(fromFd, from.c_str(), toFd, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system that cannot refuse to replace: the name is made sure to be free first.
    struct stat st {};
    if (fstatat(toFd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        return EEXIST;
    }
    return renameat(fromFd, from.c_str(), toFd, to.c_str()) == 0 ? 0 : errno;
}

// Copies an entry into another folder (another file system); the reason of a failure or empty.
std::string CopyEntry(int fromFd, const std::string& from, const struct stat& st, int toFd,
                      const std::string& to) {
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<std::size_t>(st.st_size) + 2);
        const ssize_t length = readlinkat(fromFd, from.c_str(), target.data(), target.size() - 1);
        if (length < 0) {
            return ErrorText(errno);
        }
        target[static_cast<std::size_t>(length)] = '\0';
        return symlinkat(target.data(), toFd, to.c_str()) == 0 ? std::string() : ErrorText(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return "not a regular file";
    }
    const TFd source(openat(fromFd, from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (source.Get() < 0 || fstat(source.Get(), &opened) != 0) {
        return ErrorText(errno);
    }
    fcntl(source.Get(), F_SETFL, O_RDONLY);
    std::string reason;
    if (!CopyOpenFileAt(source.Get(), opened, toFd, to, true, {}, reason)) {
        return reason.empty() ? "copy failed" : reason;
    }
    // The file itself goes next, and only a flush of its own file system
    // follows the run: the copy is on the device before that.
    const TFd copy(openat(toFd, to.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (copy.Get() < 0 || fsync(copy.Get()) != 0 || fsync(toFd) != 0) {
        const int error = errno;
        unlinkat(toFd, to.c_str(), 0);
        return ErrorText(error);
    }
    return {};
}

std::string KeepFailure(const std::string& reason) {
    return "cannot keep a version: " + reason;
}

} // namespace

std::string VersionFolderOf(const TProjectRecord& project, const std::string& configFile,
                            const std::string& receivingRoot) {
    if (IsBlank(project.FVersionFolder)) {
        return WithTrailingDelimiter(receivingRoot) + DefaultVersionFolderName + PathDelim;
    }
    return WithTrailingDelimiter(ResolveBeside(configFile, project.FVersionFolder));
}

std::string VersionFolderProblem(const std::string& versionRoot, const std::string& sourceRoot,
                                 const std::string& receivingRoot) {
    const std::string versions = CanonicalPath(versionRoot);
    if (IsAtOrBelow(CanonicalPath(sourceRoot), versions)) {
        return versionRoot + ": is or holds the source folder";
    }
    if (IsAtOrBelow(CanonicalPath(receivingRoot), versions)) {
        return versionRoot + ": is or holds the receiving folder";
    }
    return {};
}

std::string VersionFolderProblemFor(const TProjectRecord& project, const std::string& configFile,
                                    const std::string& sourceRoot, const std::string& receivingRoot) {
    if (!project.FVersioning) {
        return {};
    }
    return VersionFolderProblem(VersionFolderOf(project, configFile, receivingRoot), sourceRoot,
                                receivingRoot);
}

std::string SetVersionFolder(TCheckSettings& settings, const TProjectRecord& project,
                             const std::string& configFile) {
    const std::string& receivingRoot =
        settings.FDeployRoot.empty() ? settings.FTargetRoot : settings.FDeployRoot;
    const std::string versionRoot = VersionFolderOf(project, configFile, receivingRoot);
    if (!project.FVersioning) {
        // Versions kept while versioning was on are neither deleted as surplus nor copied.
        if (FolderExists(versionRoot)) {
            settings.FVersionRoot = versionRoot;
        }
        return {};
    }
    if (std::string problem = VersionFolderProblem(versionRoot, settings.FSourceRoot, receivingRoot);
        !problem.empty()) {
        return problem;
    }
    settings.FVersionRoot = versionRoot;
    return {};
}

std::string VersionPrefixBelow(const std::string& root, const std::string& versionRoot) {
    if (versionRoot.empty() || root.empty()) {
        return {};
    }
    const std::string outer = CanonicalPath(root);
    const std::string inner = CanonicalPath(versionRoot);
    if (inner == outer || !IsAtOrBelow(inner, outer)) {
        return {};
    }
    return inner.substr(outer == "/" ? 1 : outer.size() + 1) + PathDelim;
}

void LeaveOutVersionFolder(TStringList& index, const std::string& indexRoot, const std::string& asSeenFrom,
                           const std::string& versionRoot) {
    const std::string prefix = VersionPrefixBelow(asSeenFrom, versionRoot);
    if (prefix.empty()) {
        return;
    }
    std::erase_if(index, [&](const std::string& entry) {
        return entry.size() >= indexRoot.size() + prefix.size() &&
               entry.compare(indexRoot.size(), prefix.size(), prefix) == 0;
    });
}

std::string RunFolderName(TDateTime runStart, int sequence) {
    const TDateTimeFields f = DecodeDateTime(runStart);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d%02d%02d", f.FYear, f.FMonth, f.FDay, f.FHour,
                  f.FMinute, f.FSecond);
    std::string name = text;
    if (sequence > 1) {
        name += " (" + std::to_string(sequence) + ")";
    }
    return name;
}

std::optional<TRunFolderName> ParseRunFolderName(const std::string& name) {
    TDateTimeFields f;
    if (name.size() < 17 || name[4] != '-' || name[7] != '-' || name[10] != ' ' ||
        !ReadDigits(name, 0, 4, f.FYear) || !ReadDigits(name, 5, 2, f.FMonth) ||
        !ReadDigits(name, 8, 2, f.FDay) || !ReadDigits(name, 11, 2, f.FHour) ||
        !ReadDigits(name, 13, 2, f.FMinute) || !ReadDigits(name, 15, 2, f.FSecond)) {
        return std::nullopt;
    }
    if (f.FMonth < 1 || f.FMonth > 12 || f.FDay < 1 || f.FDay > 31 || f.FHour > 23 || f.FMinute > 59 ||
        f.FSecond > 59) {
        return std::nullopt;
    }
    TRunFolderName result;
    result.FStart = EncodeDateTime(f);
    if (name.size() == 17) {
        return result;
    }
    // " (n)" with n from 2 on.
    if (name.size() < 21 || name.compare(17, 2, " (") != 0 || name.back() != ')' || name[19] == '0' ||
        name.size() > 30 || !ReadDigits(name, 19, name.size() - 20, result.FSequence) ||
        result.FSequence < 2) {
        return std::nullopt;
    }
    return result;
}

TVersionStore::TVersionStore(std::string versionRoot, TDateTime runStart, int keepDays)
    : FVersionRoot(WithTrailingDelimiter(versionRoot)), FRunStart(runStart), FKeepDays(keepDays) {}

// The run folder, made on first use; fresh makes a new one (the last was
// pruned away by another run meanwhile).
int TVersionStore::RunFolderFd(bool fresh, std::string& reason) {
    if (FRunFd.Get() >= 0 && !fresh) {
        return FRunFd.Get();
    }
    FRunFd.Close();
    MakeFolders(FVersionRoot);
    const TFd rootFd(open(FVersionRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd.Get() < 0) {
        reason = FVersionRoot + ": " + ErrorText(errno);
        return -1;
    }
    for (int sequence = 1; sequence < 10000; ++sequence) {
        const std::string name = RunFolderName(FRunStart, sequence);
        if (mkdirat(rootFd.Get(), name.c_str(), 0777) == 0) {
            FRunFd.Reset(openat(rootFd.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (FRunFd.Get() < 0) {
                reason = FVersionRoot + name + ": " + ErrorText(errno);
            }
            return FRunFd.Get();
        }
        if (errno != EEXIST) {
            reason = FVersionRoot + ": " + ErrorText(errno);
            return -1;
        }
    }
    reason = FVersionRoot + ": " + ErrorText(EEXIST);
    return -1;
}

std::string TVersionStore::Keep(int folderFd, const std::string& name, const std::string& line,
                                TKeptVersion& kept) {
    kept = TKeptVersion{};
    const std::lock_guard lock(FMutex);
    struct stat st {};
    if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? std::string() : KeepFailure(ErrorText(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return {}; // a folder where a file is expected is the caller's own failure
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string reason;
        const int runFd = RunFolderFd(attempt > 0, reason);
        if (runFd < 0) {
            return KeepFailure(reason);
        }
        // Plans list a folder's files together: the folder of the last version serves the next.
        std::string folder, last;
        std::shared_ptr<TFd> parent;
        SplitPlanLine(line, folder, last);
        if (attempt == 0 && FParentFd && folder == FParentPath) {
            parent = FParentFd;
        } else {
            parent = std::make_shared<TFd>(OpenParentBelowRoot(runFd, line, true, last));
            FParentFd = parent->Get() < 0 ? nullptr : parent;
            FParentPath = folder;
        }
        int error = parent->Get() < 0 ? errno : RenameWithoutReplacing(folderFd, name, parent->Get(), last);
        if (error == EXDEV) {
            if (std::string why = CopyEntry(folderFd, name, st, parent->Get(), last); !why.empty()) {
                return KeepFailure(why);
            }
            kept = {true, true, parent, last};
            ++FCount;
            return {};
        }
        if (error == 0) {
            kept = {true, false, parent, last};
            ++FCount;
            return {};
        }
        if (error == ENOENT) {
            struct stat again {};
            if (fstatat(folderFd, name.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
                return {}; // gone meanwhile: nothing to keep
            }
            if (attempt == 0) {
                continue; // the run folder went meanwhile
            }
        }
        return KeepFailure(WalkErrorText(error));
    }
    return KeepFailure(ErrorText(ENOENT));
}

void TVersionStore::PutBack(int folderFd, const std::string& name, const TKeptVersion& kept) {
    if (!kept.FKept) {
        return;
    }
    const std::lock_guard lock(FMutex);
    const int fd = kept.FFolderFd->Get();
    if (kept.FCopied ? unlinkat(fd, kept.FName.c_str(), 0) == 0
                     : RenameWithoutReplacing(fd, kept.FName, folderFd, name) == 0) {
        --FCount;
    }
}

std::string TVersionStore::DeleteByKeeping(int folderFd, const std::string& name, const std::string& line) {
    TKeptVersion kept;
    if (std::string reason = Keep(folderFd, name, line, kept); !reason.empty()) {
        return reason;
    }
    if (kept.FKept && !kept.FCopied) {
        return {};
    }
    // A copy, or nothing kept (nothing there, or a folder): the entry itself goes as without versions.
    if (unlinkat(folderFd, name.c_str(), 0) != 0) {
        const int error = errno;
        PutBack(folderFd, name, kept);
        return WalkErrorText(error);
    }
    return {};
}

void TVersionStore::Prune() const {
    if (FKeepDays > 0) {
        PruneVersions(FVersionRoot, FKeepDays, Now());
    }
}

std::string TVersionKeeper::Keep(int folderFd, const std::string& name) {
    return FStore.Keep(folderFd, name, FLine, FKept);
}

void TVersionKeeper::PutBack(int folderFd, const std::string& name) {
    FStore.PutBack(folderFd, name, FKept);
    FKept = TKeptVersion{};
}

std::shared_ptr<TVersionStore> VersionStoreFor(const TProjectRecord& project, const std::string& configFile,
                                               const std::string& receivingRoot, TDateTime runStart) {
    if (!project.FVersioning) {
        return nullptr;
    }
    return std::make_shared<TVersionStore>(VersionFolderOf(project, configFile, receivingRoot), runStart,
                                           project.FVersionKeepDays);
}

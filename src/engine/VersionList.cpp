#include "VersionList.h"

#include "ApplyRootedPath.h"
#include "CopyFile.h"
#include "config/CustomPublic.h"
#include "config/FileFacts.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lists the names of the folder open as fd (which it takes over), without "." and "..".
bool ListNames(int fd, std::vector<std::string>& names) {
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    bool complete = true;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            complete = errno == 0;
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && !IsCopyTemporaryName(name)) {
            names.push_back(name);
        }
    }
    const int error = errno;
    closedir(dir);
    errno = error;
    return complete;
}

// Adds every file below the folder open as folderFd, at relative path prefix.
void CollectFiles(int folderFd, const std::string& folderPath, const std::string& prefix, TVersionFile& model,
                  std::vector<TVersionFile>& versions, std::vector<TItemFailure>* errors) {
    std::vector<std::string> names;
    const int listingFd = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listingFd < 0 || !ListNames(listingFd, names)) {
        if (errors != nullptr) {
            errors->push_back({folderPath, ErrorText(errno)});
        }
        return;
    }
    for (const std::string& name : names) {
        struct stat st {};
        if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue; // gone meanwhile
        }
        if (S_ISDIR(st.st_mode)) {
            const TFd child(openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (child.Get() < 0) {
                if (errors != nullptr) {
                    errors->push_back({folderPath + name + PathDelim, ErrorText(errno)});
                }
                continue;
            }
            CollectFiles(child.Get(), folderPath + name + PathDelim, prefix + name + PathDelim, model,
                         versions, errors);
        } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            model.FPath = prefix + name;
            model.FSize = st.st_size;
            versions.push_back(model);
        }
    }
}

bool RunIsEarlier(const TVersionFile& a, const TVersionFile& b) {
    return a.FStart != b.FStart ? a.FStart < b.FStart : a.FSequence < b.FSequence;
}

} // namespace

std::vector<TVersionFile> ListVersions(const std::string& versionRoot, std::vector<TItemFailure>* errors) {
    std::vector<TVersionFile> versions;
    const TFd rootFd(open(versionRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> runs;
    if (rootFd.Get() < 0) {
        if (errno != ENOENT && errors != nullptr) {
            errors->push_back({versionRoot, ErrorText(errno)});
        }
        return versions;
    }
    if (!ListNames(openat(rootFd.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC), runs) &&
        errors != nullptr) {
        errors->push_back({versionRoot, ErrorText(errno)});
    }
    for (const std::string& run : runs) {
        const std::optional<TRunFolderName> parsed = ParseRunFolderName(run);
        if (!parsed) {
            continue;
        }
        const TFd runFd(openat(rootFd.Get(), run.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (runFd.Get() < 0) {
            if (errno != ENOTDIR && errno != ELOOP && errors != nullptr) {
                errors->push_back({versionRoot + run + PathDelim, ErrorText(errno)});
            }
            continue;
        }
        TVersionFile model;
        model.FRunFolder = run;
        model.FStart = parsed->FStart;
        model.FSequence = parsed->FSequence;
        CollectFiles(runFd.Get(), versionRoot + run + PathDelim, "", model, versions, errors);
    }
    std::sort(versions.begin(), versions.end(), [](const TVersionFile& a, const TVersionFile& b) {
        return a.FPath != b.FPath ? a.FPath < b.FPath : RunIsEarlier(a, b);
    });
    return versions;
}

std::optional<TVersionFile> FindVersion(const std::vector<TVersionFile>& versions, const std::string& path,
                                        std::optional<TDateTime> at) {
    std::optional<TVersionFile> found;
    for (const TVersionFile& version : versions) {
        if (version.FPath == path && (!at || version.FStart <= *at) &&
            (!found || RunIsEarlier(*found, version))) {
            found = version;
        }
    }
    return found;
}

bool IsVersionOf(const std::string& path, const std::string& filter) {
    std::string folder = filter;
    while (!folder.empty() && folder.back() == PathDelim) {
        folder.pop_back();
    }
    if (folder.empty() || path == folder) {
        return true;
    }
    folder.push_back(PathDelim);
    return path.compare(0, folder.size(), folder) == 0;
}

std::string FormatVersionTime(TDateTime start) {
    const TDateTimeFields f = DecodeDateTime(start);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.FYear, f.FMonth, f.FDay, f.FHour,
                  f.FMinute, f.FSecond);
    return text;
}

std::string RestoreVersion(const std::string& versionRoot, const TVersionFile& version,
                           const std::string& destinationRoot, TVersionStore& store) {
    const std::string runPath = WithTrailingDelimiter(versionRoot) + version.FRunFolder;
    const TFd runFd(open(runPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::string name;
    const TFd sourceFolder(runFd.Get() < 0 ? -1
                                           : OpenParentBelowRoot(runFd.Get(), version.FPath, false, name));
    if (sourceFolder.Get() < 0) {
        return runPath + PathDelim + version.FPath + ": " + WalkErrorText(errno);
    }
    const std::string root = WithTrailingDelimiter(destinationRoot);
    std::string folder = root;
    while (folder.size() > 1 && folder.back() == PathDelim) {
        folder.pop_back();
    }
    mkdir(folder.c_str(), 0777); // the last folder of --to may be new
    const TFd rootFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string targetName;
    const TFd targetFolder(
        rootFd.Get() < 0 ? -1 : OpenParentBelowRoot(rootFd.Get(), version.FPath, true, targetName));
    if (targetFolder.Get() < 0) {
        return WalkErrorText(errno);
    }
    struct stat st {};
    if (fstatat(sourceFolder.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return runPath + PathDelim + version.FPath + ": " + ErrorText(errno);
    }
    TVersionKeeper keeper(store, version.FPath);
    if (S_ISLNK(st.st_mode)) {
        // A link is put back as a link.
        std::vector<char> target(static_cast<std::size_t>(st.st_size) + 2);
        const ssize_t length = readlinkat(sourceFolder.Get(), name.c_str(), target.data(), target.size() - 1);
        if (length < 0) {
            return runPath + PathDelim + version.FPath + ": " + ErrorText(errno);
        }
        target[static_cast<std::size_t>(length)] = '\0';
        if (std::string why = keeper.Keep(targetFolder.Get(), targetName); !why.empty()) {
            return why;
        }
        if (symlinkat(target.data(), targetFolder.Get(), targetName.c_str()) != 0) {
            const int error = errno;
            keeper.PutBack(targetFolder.Get(), targetName);
            return ErrorText(error);
        }
        return {};
    }
    const TFd source(
        openat(sourceFolder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    if (source.Get() < 0 || fstat(source.Get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        return runPath + PathDelim + version.FPath + ": " +
               (source.Get() < 0 ? ErrorText(errno) : std::string("not a regular file"));
    }
    fcntl(source.Get(), F_SETFL, O_RDONLY);
    std::string reason;
    if (!CopyOpenFileAt(source.Get(), opened, targetFolder.Get(), targetName, false, {}, reason, false,
                        &keeper)) {
        return (reason.empty() ? "copy failed" : reason);
    }
    return {};
}

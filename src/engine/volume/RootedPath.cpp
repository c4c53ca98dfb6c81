#include "RootedPath.h"

#include "config/CustomPublic.h"
#include "config/FileFacts.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The names of the line, without empty and "." components.
std::vector<std::string> NamesOf(const std::string& line) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find(PathDelim, start);
        if (end == std::string::npos) {
            end = line.size();
        }
        if (end > start && line.compare(start, end - start, ".") != 0) {
            names.push_back(line.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

// One folder below fd, never through a link; with create, made when missing.
int OpenFolderBelow(int fd, const std::string& name, bool create, bool replaceLinks) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int child = openat(fd, name.c_str(), flags);
    if (child < 0 && (errno == ENOTDIR || errno == ELOOP) && create && replaceLinks) {
        // A link gives way to the folder; one removed or replaced meanwhile (by
        // another copy of the same run) leaves the folder to be made or opened below.
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode) ||
            (S_ISLNK(st.st_mode) && (unlinkat(fd, name.c_str(), 0) == 0 || errno == ENOENT))) {
            errno = ENOENT;
        } else {
            errno = ENOTDIR;
        }
    }
    if (child < 0 && errno == ENOENT && create) {
        if (mkdirat(fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
            return -1;
        }
        child = openat(fd, name.c_str(), flags);
    }
    if (child < 0 && errno == ENOTDIR) {
        // O_NOFOLLOW with O_DIRECTORY reports a link as "not a folder": tell them apart.
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            errno = ELOOP;
        } else {
            errno = ENOTDIR;
        }
    }
    return child;
}

} // namespace

int OpenParentBelowRoot(int rootFd, const std::string& line, bool create, std::string& lastName,
                        bool replaceLinks) {
    const std::vector<std::string> names = NamesOf(line);
    if (names.empty()) {
        errno = EINVAL;
        return -1;
    }
    int fd = dup(rootFd);
    for (std::size_t i = 0; fd >= 0 && i + 1 < names.size(); ++i) {
        const int child = OpenFolderBelow(fd, names[i], create, replaceLinks);
        const int error = errno;
        close(fd);
        errno = error;
        fd = child;
    }
    if (fd >= 0) {
        lastName = names.back();
    }
    return fd;
}

bool SplitPlanLine(const std::string& line, std::string& folder, std::string& lastName) {
    const std::vector<std::string> names = NamesOf(line);
    if (names.empty()) {
        return false;
    }
    folder.clear();
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        folder += names[i];
        folder += PathDelim;
    }
    lastName = names.back();
    return true;
}

std::string WalkErrorText(int error) {
    if (error == ELOOP) {
        return "a symbolic link stands where a folder was expected";
    }
    return ErrorText(error);
}

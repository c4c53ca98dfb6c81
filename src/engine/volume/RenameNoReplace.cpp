#include "RenameNoReplace.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IsUnsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

} // namespace

bool RenameWithoutReplacing(int fromFd, const char* from, int toFd, const char* to) {
    if (renameat2(fromFd, from, toFd, to, RENAME_NOREPLACE) == 0) {
        return true;
    }
    // EPERM is not taken as "unsupported" here: a rename refused is refused.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return false;
    }
    // A hard link cannot replace either.
    if (linkat(fromFd, from, toFd, to, 0) == 0) {
        unlinkat(fromFd, from, 0);
        return true;
    }
    if (!IsUnsupported(errno)) {
        return false;
    }
    struct stat st {};
    if (fstatat(toFd, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) {
        return false;
    }
    return renameat(fromFd, from, toFd, to) == 0;
}

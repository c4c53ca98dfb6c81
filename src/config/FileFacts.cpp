#include "FileFacts.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool MeansAbsent(int error) {
    return error == ENOENT || error == ENOTDIR;
}

TFileFacts ReadFileFacts(const std::string& path) {
    TFileFacts facts;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        facts.FError = MeansAbsent(errno) ? 0 : errno;
        return facts;
    }
    facts.FExists = true;
    facts.FIsFolder = S_ISDIR(st.st_mode);
    facts.FModified = LocalDateTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    facts.FSize = facts.FIsFolder ? 0 : static_cast<std::int64_t>(st.st_size);
    return facts;
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int ReadFileSizeByOpening(const std::string& path, std::int64_t& size) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat st {};
    const int error = fstat(fd, &st) == 0 ? 0 : errno;
    close(fd);
    size = static_cast<std::int64_t>(st.st_size);
    return error;
}

std::string ErrorText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer); // the GNU form: returns the text
}

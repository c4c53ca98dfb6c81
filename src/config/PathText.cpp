#include "PathText.h"

#include "ProgramFolders.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::string ExtractFileDir(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ExecutableFolder() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return ".";
    }
    return ExtractFileDir(std::string(buffer.data(), static_cast<std::size_t>(length)));
}

std::string DefaultConfigFileName() {
    return ProgramFolders().FConfigFileName;
}

std::string ResolveBeside(const std::string& baseFile, const std::string& path) {
    if (path.empty() || path[0] == '/' || path.find_first_not_of(" \t") == std::string::npos ||
        path.rfind("sftp://", 0) == 0) {
        return path; // absolute, blank, or a folder on another machine
    }
    return ExtractFileDir(baseFile) + "/" + path;
}

namespace {

std::string StatProblem(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "does not exist";
    case EACCES:
        return "permission denied";
    default:
        return std::strerror(error);
    }
}

} // namespace

std::string FolderProblem(const std::string& folder) {
    // With its trailing delimiters a file would read as missing (ENOTDIR).
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return StatProblem(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return "not a folder";
    }
    return {};
}

std::string RegularFileProblem(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return StatProblem(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return "is a folder";
    }
    if (!S_ISREG(st.st_mode)) {
        return "not a regular file";
    }
    return {};
}

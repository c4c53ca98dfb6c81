#include "PathText.h"

#include <climits>
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
    return ExecutableFolder() + "/pairwell.ini";
}

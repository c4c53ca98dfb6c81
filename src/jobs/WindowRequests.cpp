#include "WindowRequests.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The configuration as a short, fixed-size name: a socket path must be short.
std::string NameOf(const std::string& configFile) {
    char resolved[PATH_MAX];
    const std::string path = realpath(configFile.c_str(), resolved) != nullptr ? resolved : configFile;
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (const unsigned char c : path) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace

std::string WindowRequestSocketPath(const std::string& configFile) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime != nullptr && *runtime == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
        return std::string(runtime) + "/pairwell-" + NameOf(configFile) + ".sock";
    }
    return "/tmp/pairwell-" + std::to_string(getuid()) + "-" + NameOf(configFile) + ".sock";
}

bool AskWindowToShowLog(const std::string& configFile, int timeoutMilliseconds) {
    const std::string path = WindowRequestSocketPath(configFile);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    bool done = false;
    const std::string request = ShowLogRequest + "\n";
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        // A window that took the request says so; a hung one is given up on.
        std::string answer;
        char buffer[16];
        pollfd entry{fd, POLLIN, 0};
        while (answer.find('\n') == std::string::npos && poll(&entry, 1, timeoutMilliseconds) > 0) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            answer.append(buffer, static_cast<std::size_t>(got));
        }
        done = answer == RequestDone + "\n";
    }
    close(fd);
    return done;
}

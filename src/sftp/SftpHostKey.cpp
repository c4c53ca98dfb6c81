#include "SftpHostKey.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// What argv writes on standard error, with nothing on its standard input.
std::string ErrorOutputOf(std::vector<std::string> argv) {
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    std::string text;
    if (spawned == 0) {
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(output[0], buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            text.append(buffer, static_cast<std::size_t>(got));
        }
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    close(output[0]);
    return text;
}

} // namespace

std::string WithRefusedHostKey(const std::vector<std::string>& command, const std::string& reason) {
    if (reason.find("Host key verification failed") == std::string::npos ||
        reason.find("SHA256:") != std::string::npos || command.size() < 4) {
        return reason;
    }
    std::vector<std::string> debug = command;
    // Before "-s HOST sftp": the command line's options win over the configuration's.
    debug.insert(debug.end() - 3, "-oLogLevel=DEBUG1");
    const std::string output = ErrorOutputOf(debug);
    const std::string marker = "Server host key: ";
    const std::size_t found = output.find(marker);
    if (found == std::string::npos) {
        return reason;
    }
    const std::size_t start = found + marker.size();
    const std::size_t end = output.find_first_of("\r\n", start);
    return reason +
           "\nThe server's host key: " + output.substr(start, end == std::string::npos ? end : end - start);
}

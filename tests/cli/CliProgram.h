#pragma once

#include <climits>
#include <string>
#include <unistd.h>
#include <vector>

// The pairwell-cli program built beside the test programs.
inline std::string CliPath() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    const std::string self(buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0));
    return self.substr(0, self.find_last_of('/')) + "/pairwell-cli";
}

// In a child process: replaces it with pairwell-cli and the given arguments.
[[noreturn]] inline void ExecCli(std::vector<std::string> args) {
    const std::string program = CliPath();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

#pragma once

#include "TempDir.h"

#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
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

struct TCliResult {
    int FStatus = -1;
    std::string FOut;
    std::string FErr;
};

// Runs pairwell-cli to its end with its standard output and error in the two files.
inline TCliResult RunCliTo(const std::string& outPath, const std::string& errPath,
                           std::vector<std::string> args) {
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        ExecCli(std::move(args));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(outPath), ReadTextFile(errPath)};
}

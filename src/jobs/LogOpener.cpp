#include "LogOpener.h"

#include "WindowRequests.h"

#include <algorithm>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

TLogOpener::TLogOpener(std::string configFile, std::string logFolder)
    : FConfigFile(std::move(configFile)), FLogFolder(std::move(logFolder)) {}

void TLogOpener::Open() {
    Reap();
    if (AskWindowToShowLog(FConfigFile)) {
        return;
    }
    const std::string viewer = FLogFolder + "/index.htm";
    std::vector<char*> argv = {const_cast<char*>("xdg-open"), const_cast<char*>(viewer.c_str()), nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", &files, nullptr, argv.data(), environ) == 0) {
        FChildren.push_back(pid);
    }
    posix_spawn_file_actions_destroy(&files);
}

void TLogOpener::Reap() {
    std::erase_if(FChildren, [](pid_t pid) {
        int status = 0;
        return waitpid(pid, &status, WNOHANG) != 0; // ended (or not ours any more)
    });
}

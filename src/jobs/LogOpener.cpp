#include "LogOpener.h"

#include "WindowRequests.h"

#include <algorithm>
#include <cstdlib>
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
    // Under systemd the service's hardening (no writable and executable
    // memory, no namespaces) would also bind a browser started as its child,
    // and break it: the viewer is handed to the user's manager as a unit of
    // its own, which also lets it outlive the service.
    const bool underSystemd = std::getenv("INVOCATION_ID") != nullptr;
    std::vector<const char*> argv;
    if (underSystemd) {
        argv = {"systemd-run", "--user", "--quiet", "--collect", "--no-block", "xdg-open"};
    } else {
        argv = {"xdg-open"};
    }
    argv.push_back(viewer.c_str());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &files, nullptr, const_cast<char* const*>(argv.data()), environ) == 0) {
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

#include "ConnectTrigger.h"

#include "config/PathText.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

TConnectTrigger::TConnectTrigger(std::vector<std::string> folders, TSteadyTime now,
                                 std::chrono::milliseconds recheck)
    : FFolders(std::move(folders)), FRecheck(recheck), FLastCheck(now) {
    FMountFd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    FAllPresent = AllExist(); // present from the start: no run until a folder has gone
}

TConnectTrigger::~TConnectTrigger() {
    if (FMountFd >= 0) {
        close(FMountFd);
    }
}

bool TConnectTrigger::MountsChanged() {
    if (FMountFd < 0) {
        return false;
    }
    pollfd entry{FMountFd, POLLPRI, 0};
    if (poll(&entry, 1, 0) <= 0 || (entry.revents & (POLLPRI | POLLERR)) == 0) {
        return false;
    }
    // Reading the table to its end acknowledges the change.
    char buffer[4096];
    lseek(FMountFd, 0, SEEK_SET);
    while (read(FMountFd, buffer, sizeof buffer) > 0) {
    }
    return true;
}

bool TConnectTrigger::AllExist() const {
    for (const std::string& folder : FFolders) {
        if (!FolderProblem(folder).empty()) {
            return false;
        }
    }
    return !FFolders.empty();
}

bool TConnectTrigger::Poll(TSteadyTime now, bool mayRun) {
    if (MountsChanged() || now >= FLastCheck + FRecheck) {
        FLastCheck = now;
        const bool present = AllExist();
        if (present && !FAllPresent) {
            FPending = true;
        }
        FAllPresent = present;
    }
    if (FPending && mayRun) {
        FPending = false;
        return true;
    }
    return false;
}

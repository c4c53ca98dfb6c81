#include "SchedulerLock.h"

#include "config/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

flock WholeFile(short type) {
    flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    lock.l_pid = 0; // required for open-file-description locks
    return lock;
}

} // namespace

std::string SchedulerLockFileName(const std::string& givenName) {
    // One lock whatever name the configuration is reached by (a symbolic link).
    std::string configFile = givenName;
    if (char* real = realpath(givenName.c_str(), nullptr)) {
        configFile = real;
        free(real);
    }
    const std::size_t slash = configFile.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = configFile.find_last_of('.');
    if (dot != std::string::npos && dot > nameStart) {
        return configFile.substr(0, dot) + ".scheduler";
    }
    return configFile + ".scheduler";
}

TSchedulerLock::TSchedulerLock(const std::string& configFile, std::string holder)
    : FFileName(SchedulerLockFileName(configFile)), FHolder(std::move(holder)) {
    TryTake();
}

TSchedulerLock::~TSchedulerLock() {
    if (FFd >= 0) {
        if (FResult == Taken && ftruncate(FFd, 0) != 0) {
            // A stale name in an unlocked file misleads nobody: the lock decides.
        }
        close(FFd); // releases the lock
    }
}

TSchedulerLock::TResult TSchedulerLock::TryTake() {
    if (FResult == Taken) {
        return FResult;
    }
    if (FFd < 0) {
        FFd = open(FFileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (FFd < 0) {
            FErrorText = FFileName + ": " + std::strerror(errno);
            return FResult = Failed;
        }
    }
    flock lock = WholeFile(F_WRLCK);
    if (fcntl(FFd, F_OFD_SETLK, &lock) != 0) {
        if (errno == EAGAIN || errno == EACCES) {
            FErrorText.clear();
            return FResult = HeldElsewhere;
        }
        FErrorText = FFileName + ": " + std::strerror(errno);
        return FResult = Failed;
    }
    const std::string who = FHolder + ", process " + std::to_string(getpid()) + "\n";
    if (ftruncate(FFd, 0) != 0 ||
        pwrite(FFd, who.data(), who.size(), 0) != static_cast<ssize_t>(who.size())) {
        // The name is a courtesy for messages; the lock is what counts.
    }
    FErrorText.clear();
    return FResult = Taken;
}

bool SchedulerLockHeld(const std::string& configFile) {
    const int fd = open(SchedulerLockFileName(configFile).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false; // nobody ever took it, or nobody can
    }
    flock lock = WholeFile(F_WRLCK);
    const bool held = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return held;
}

std::optional<std::string> SchedulerLockHolder(const std::string& configFile) {
    if (!SchedulerLockHeld(configFile)) {
        return std::nullopt;
    }
    std::string who = ReadWholeFile(SchedulerLockFileName(configFile)).value_or("");
    while (!who.empty() && (who.back() == '\n' || who.back() == '\r')) {
        who.pop_back();
    }
    return who.empty() ? std::string("another scheduler") : who;
}

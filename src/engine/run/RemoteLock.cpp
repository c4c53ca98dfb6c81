#include "RemoteLock.h"

#include "BackgroundRun.h"
#include "config/FileFacts.h"
#include "engine/versions/VersionList.h"
#include "engine/volume/SftpVolume.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <mutex>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::size_t LockSizeLimit = 4096;

// The server's refusals to write (OpenSSH says a bare "Failure" for a
// read-only file system), as against a root that is missing or unreachable.
bool WritesRefused(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ENOSPC || error == EDQUOT ||
           error == EIO;
}
const std::string LockName(RemoteLockName);

// The roots whose lock a run of this process holds or is taking: a second run
// of the same process is refused there, and a lock naming this process
// anywhere else was left behind by an earlier run.
std::mutex HeldMutex;
std::set<std::string>& HeldRoots() {
    static std::set<std::string> roots;
    return roots;
}

bool Reserve(const std::string& root) {
    const std::lock_guard lock(HeldMutex);
    return HeldRoots().insert(root).second;
}

void Unreserve(const std::string& root) {
    const std::lock_guard lock(HeldMutex);
    HeldRoots().erase(root);
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

struct THolder {
    std::string FHost;
    std::string FPid;
    std::string FStarted;
};

std::string LockText(const THolder& holder) {
    return "host=" + holder.FHost + "\npid=" + holder.FPid + "\nstarted=" + holder.FStarted + "\n";
}

THolder ParseLock(const std::string& text) {
    THolder holder;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(start, end - start);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            const std::string key = line.substr(0, equals);
            const std::string value = line.substr(equals + 1);
            if (key == "host") {
                holder.FHost = value;
            } else if (key == "pid") {
                holder.FPid = value;
            } else if (key == "started") {
                holder.FStarted = value;
            }
        }
        start = end + 1;
    }
    return holder;
}

std::string HolderText(const THolder& holder) {
    const auto shown = [](const std::string& value) { return value.empty() ? std::string("?") : value; };
    return "主机 " + shown(holder.FHost) + ", 进程 " + shown(holder.FPid) + ", 开始于 " +
           shown(holder.FStarted);
}

// A lock that a process of this machine left when it ended, or that an
// earlier run of this process could not remove (the root is reserved for
// this one).
bool LeftBehind(const THolder& holder) {
    if (holder.FHost.empty() || holder.FHost != HostName() || holder.FPid.empty() || holder.FPid.size() > 9 ||
        holder.FPid.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const pid_t pid = std::stoi(holder.FPid);
    if (pid <= 0) {
        return false;
    }
    return pid == getpid() || (kill(pid, 0) != 0 && errno == ESRCH);
}

// The lock's text. A lock is made empty and then written: an empty one is
// read again for a moment, until its maker has written it.
std::string ReadLock(TVolume& volume) {
    std::string text;
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (ReadSmallFile(volume, LockName, text, LockSizeLimit) != 0 || !text.empty()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return text;
}

int RemoveLockFile(TVolume& volume) {
    int error = 0;
    const TFolderRef root = volume.OpenFolderAt(nullptr, "", error);
    return root ? volume.RemoveFile(*root, LockName) : error;
}

} // namespace

TRemoteLock::TRemoteLock(std::shared_ptr<TVolume> volume, std::string contents)
    : FVolume(std::move(volume)), FContents(std::move(contents)) {}

TRemoteLock::~TRemoteLock() {
    std::string text;
    if (ReadSmallFile(*FVolume, LockName, text, LockSizeLimit) == 0 && text == FContents) {
        RemoveLockFile(*FVolume);
    }
    Unreserve(FVolume->Root());
}

std::unique_ptr<TRemoteLock> TakeRemoteLock(const std::string& root, bool deploy, bool breakLock,
                                            TLockRefusal& refusal) {
    refusal = {};
    const std::shared_ptr<TVolume> volume = OpenVolume(root);
    if (!volume->KeepsRunLock()) {
        return nullptr;
    }
    const std::string lockPath = volume->Root() + LockName;
    const THolder own{HostName(), std::to_string(getpid()), FormatVersionTime(Now())};
    const auto held = [&](const THolder& holder) {
        refusal.FError = (deploy ? ErrorDeployLocked : ErrorTargetLocked) + ": " + HolderText(holder);
        refusal.FDetail = lockPath + " (--break-lock takes it over once that run is gone)";
        return nullptr;
    };
    if (!Reserve(volume->Root())) {
        // Another run of this process: named by its lock once that is written.
        std::string text;
        ReadSmallFile(*volume, LockName, text, LockSizeLimit);
        const THolder holder = ParseLock(text);
        return held(holder.FPid.empty() ? own : holder);
    }
    const std::string contents = LockText(own);
    bool rootMade = false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        int error = volume->CreateExclusive(LockName, contents);
        if (error == ENOENT && !rootMade) {
            rootMade = true;
            error = volume->MakeRoot(true);
            if (error == 0) {
                continue;
            }
        }
        if (error == 0) {
            return std::make_unique<TRemoteLock>(volume, contents);
        }
        if (error != EEXIST) {
            Unreserve(volume->Root());
            if (const std::string lost = volume->LostReason(); !lost.empty()) {
                refusal.FError = ErrorConnectionLost + ": " + lost;
                refusal.FDetail = volume->Root();
                return nullptr;
            }
            if (WritesRefused(error)) {
                // Nobody may write into this root: the run goes on without a lock and its
                // items fail with the server's own reason, as anywhere else on the server.
                return nullptr;
            }
            refusal.FError = deploy ? ErrorInvalidDeploy : ErrorInvalidTarget;
            refusal.FDetail = lockPath + ": " + ErrorText(error);
            return nullptr;
        }
        const THolder holder = ParseLock(ReadLock(*volume));
        if (!breakLock && !LeftBehind(holder)) {
            Unreserve(volume->Root());
            return held(holder);
        }
        RemoveLockFile(*volume); // taken over: made anew below
    }
    Unreserve(volume->Root());
    return held(ParseLock(ReadLock(*volume)));
}

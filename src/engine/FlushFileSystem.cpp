#include "FlushFileSystem.h"

#include "config/FileFacts.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
std::atomic<TSyncFsCall> SyncFsCall{nullptr};
} // namespace

void SetSyncFsCallForTests(TSyncFsCall call) {
    SyncFsCall = call;
}

bool FlushFileSystem(const std::string& folder, std::string& reason) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (MeansAbsent(errno)) {
            return true;
        }
        reason = ErrorText(errno);
        return false;
    }
    const TSyncFsCall call = SyncFsCall.load();
    const int result = call != nullptr ? call(fd) : syncfs(fd);
    const int error = errno;
    close(fd);
    if (result != 0) {
        reason = ErrorText(error);
        return false;
    }
    return true;
}

#include "SftpCopyConnections.h"

#include <algorithm>

namespace {

// Threads take slots in the order they first copy, so that a pool's workers spread evenly.
std::size_t ThreadOrdinal() {
    static std::atomic<std::size_t> next{0};
    thread_local const std::size_t ordinal = next++;
    return ordinal;
}

} // namespace

TSftpCopyConnections::TSftpCopyConnections(std::shared_ptr<TSftpConnection> first,
                                           std::vector<std::string> batchCommand, std::size_t count)
    : FFirst(std::move(first)), FBatchCommand(std::move(batchCommand)),
      FCount(std::max<std::size_t>(count, 1)), FOthers(FCount - 1) {}

std::shared_ptr<TSftpConnection> TSftpCopyConnections::ForThisThread() {
    const std::size_t slot = ThreadOrdinal() % FCount;
    if (slot == 0) {
        return FFirst;
    }
    std::shared_ptr<TSftpConnection> connection;
    {
        const std::lock_guard lock(FMutex);
        TSlot& other = FOthers[slot - 1];
        if (other.FState == TState::Refused) {
            return FFirst;
        }
        if (!other.FConnection) {
            other.FConnection = std::make_shared<TSftpConnection>(FBatchCommand);
        }
        if (other.FState == TState::Usable) {
            return other.FConnection;
        }
        connection = other.FConnection;
    }
    // Connected outside the lock: the slot's own threads wait in Client meanwhile.
    std::string reason;
    const bool usable = connection->Client(reason) != nullptr;
    const std::lock_guard lock(FMutex);
    TSlot& other = FOthers[slot - 1];
    if (other.FState == TState::Unknown) {
        other.FState = usable ? TState::Usable : TState::Refused;
    }
    return other.FState == TState::Usable ? other.FConnection : FFirst;
}

std::string TSftpCopyConnections::LostReason() const {
    if (std::string reason = FFirst->LostReason(); !reason.empty()) {
        return reason;
    }
    const std::lock_guard lock(FMutex);
    for (const TSlot& other : FOthers) {
        if (other.FState == TState::Usable) {
            if (std::string reason = other.FConnection->LostReason(); !reason.empty()) {
                return reason;
            }
        }
    }
    return {};
}

#pragma once

#include "SftpConnection.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The connections a volume's copies go through. sftp-server answers one
// request at a time, so a copy's fsync holds up every other request on its
// connection; copies spread over a few connections have their fsyncs overlap
// on the server's disk. The first is the volume's own connection; the others
// are made on first use, never asking anybody (BatchMode): one that cannot be
// made is not tried again, and its threads use the first.
class TSftpCopyConnections {
public:
    // How many connections one volume's copies use at most, its own included:
    // servers expect few per user.
    static constexpr std::size_t Most = 4;

    TSftpCopyConnections(std::shared_ptr<TSftpConnection> first, std::vector<std::string> batchCommand,
                         std::size_t count = Most);

    // The connection of the calling thread's copies.
    std::shared_ptr<TSftpConnection> ForThisThread();
    // Why a connection in use is lost for good; empty while none is.
    std::string LostReason() const;

private:
    enum class TState { Unknown, Usable, Refused };
    struct TSlot {
        std::shared_ptr<TSftpConnection> FConnection;
        TState FState = TState::Unknown;
    };

    std::shared_ptr<TSftpConnection> FFirst;
    std::vector<std::string> FBatchCommand;
    std::size_t FCount;
    mutable std::mutex FMutex;
    std::vector<TSlot> FOthers; // FCount - 1 of them
};

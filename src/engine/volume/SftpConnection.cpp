#include "SftpConnection.h"

#include "sftp/SftpHostKey.h"

#include <map>
#include <thread>

namespace {

std::mutex PromptMutex;
std::vector<std::string>& PromptEnvironment() {
    static std::vector<std::string> environment;
    return environment;
}

std::shared_ptr<TSftpClient> Connect(const std::vector<std::string>& command, std::string& reason) {
    std::vector<std::string> environment;
    {
        const std::lock_guard lock(PromptMutex);
        environment = PromptEnvironment();
    }
    // A person asked for a password is given time to type it.
    const std::chrono::milliseconds limit =
        environment.empty() ? std::chrono::seconds(60) : std::chrono::minutes(10);
    auto channel = TSftpChannel::Start(command, reason, limit, environment);
    if (!channel) {
        return nullptr;
    }
    channel->SetLimit(std::chrono::seconds(60));
    return std::make_shared<TSftpClient>(std::move(channel));
}

} // namespace

void SetSftpPromptEnvironment(std::vector<std::string> environment) {
    const std::lock_guard lock(PromptMutex);
    PromptEnvironment() = std::move(environment);
}

std::shared_ptr<TSftpClient> TSftpConnection::Client(std::string& reason) {
    const std::lock_guard lock(FMutex);
    if (FLost.load()) {
        reason = LostReason();
        return nullptr;
    }
    if (FClient && FClient->Channel().Alive()) {
        return FClient;
    }
    if (FClient) {
        // Lost between two calls: made again as after a loss during one.
        return ConnectAgain(reason);
    }
    // The first connection is tried once: a server that cannot be reached
    // refuses the project as a missing folder would.
    FClient = Connect(FCommand, reason);
    if (!FClient) {
        reason = WithRefusedHostKey(FCommand, reason);
    }
    return FClient;
}

std::shared_ptr<TSftpClient> TSftpConnection::Current() {
    const std::lock_guard lock(FMutex);
    if (FLost.load() || !FClient || !FClient->Channel().Alive()) {
        return nullptr;
    }
    return FClient;
}

std::shared_ptr<TSftpClient> TSftpConnection::Reconnect(const std::shared_ptr<TSftpClient>& lost,
                                                        std::string& reason) {
    const std::lock_guard lock(FMutex);
    if (FLost.load()) {
        reason = LostReason();
        return nullptr;
    }
    if (FClient && FClient != lost && FClient->Channel().Alive()) {
        return FClient; // another thread made it again meanwhile
    }
    return ConnectAgain(reason);
}

std::shared_ptr<TSftpClient> TSftpConnection::ConnectAgain(std::string& reason) {
    reason = FClient ? FClient->Channel().FailureReason() : std::string();
    FClient.reset();
    // Callers wait on the lock meanwhile: they take the new connection, or the news that there is none.
    std::chrono::seconds wait(1);
    for (int attempt = 0; attempt < Attempts; ++attempt, wait *= 2) {
        std::this_thread::sleep_for(wait);
        std::string why;
        if ((FClient = Connect(FCommand, why))) {
            return FClient;
        }
        reason = why;
    }
    SetLost(reason.empty() ? "the connection ended" : reason);
    reason = LostReason();
    return nullptr;
}

void TSftpConnection::SetLost(const std::string& reason) {
    const std::lock_guard lock(FLostMutex);
    FLostReason = reason;
    FLost = true;
}

std::string TSftpConnection::LostReason() const {
    if (!FLost.load()) {
        return {};
    }
    const std::lock_guard lock(FLostMutex);
    return FLostReason;
}

std::shared_ptr<TSftpConnection> SharedSftpConnection(const std::vector<std::string>& command) {
    static std::mutex mutex;
    static std::map<std::vector<std::string>, std::shared_ptr<TSftpConnection>> connections;
    const std::lock_guard lock(mutex);
    std::shared_ptr<TSftpConnection>& connection = connections[command];
    if (!connection || !connection->LostReason().empty()) {
        connection = std::make_shared<TSftpConnection>(command);
    }
    return connection;
}

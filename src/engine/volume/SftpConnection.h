#pragma once

#include "sftp/SftpClient.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The connection to one server that the volumes of a process share, made
// again when it is lost mid-run (ssh ended, the channel died, a request passed
// its time limit): up to three times, after waits of 1, 2 and 4 s. One that
// cannot be made again is lost for good: every later call fails at once with
// the reason, so that a run ends rather than trying each remaining item
// against a dead server.
class TSftpConnection {
public:
    explicit TSftpConnection(std::vector<std::string> command) : FCommand(std::move(command)) {}

    // The client, connected on first use; null with ssh's reason when the
    // server cannot be reached, or once the connection is lost for good.
    std::shared_ptr<TSftpClient> Client(std::string& reason);
    // The client while its connection works, else null: never connects. Not
    // on a reader thread: it waits for a connection being made.
    std::shared_ptr<TSftpClient> Current();
    // Called after a call on lost found its connection ended: the client of
    // the new connection, made once for every thread that lost the same one;
    // null with the reason once the connection is lost for good.
    std::shared_ptr<TSftpClient> Reconnect(const std::shared_ptr<TSftpClient>& lost, std::string& reason);
    // Why the connection is lost for good (ssh's words); empty while it is not.
    std::string LostReason() const;

    // How many times a lost connection is made again, and how often an operation is retried on it.
    static constexpr int Attempts = 3;

private:
    std::shared_ptr<TSftpClient> ConnectAgain(std::string& reason);
    void SetLost(const std::string& reason);

    std::vector<std::string> FCommand;
    std::mutex FMutex; // held while connecting, waits included
    std::shared_ptr<TSftpClient> FClient;
    // Read without waiting for a reconnection under way.
    std::atomic<bool> FLost{false};
    mutable std::mutex FLostMutex;
    std::string FLostReason;
};

// The connection that runs command (ssh's whole command line): one for all
// volumes that ask with the same command, a new one once the last was lost
// for good (a later run tries the server afresh).
std::shared_ptr<TSftpConnection> SharedSftpConnection(const std::vector<std::string>& command);

// What connections made from now on add to ssh's environment ("NAME=value",
// such as SSH_ASKPASS): empty where nobody may be asked.
void SetSftpPromptEnvironment(std::vector<std::string> environment);

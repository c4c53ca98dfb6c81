#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

// One reply of the server: its message number and the body after the request id.
struct TSftpReply {
    int FError = 0;         // 0, or the errno of a connection that failed before the reply came
    std::uint8_t FType = 0; // sftp::Status, sftp::Handle, ...
    std::string FBody;
};

// A request sent and not yet answered.
class TSftpPending;
using TSftpCall = std::shared_ptr<TSftpPending>;
// Takes a reply on the channel's reader thread: it may send, never wait.
using TSftpReplyHandler = std::function<void(TSftpReply)>;

// The byte stream to an SFTP server: a child process (ssh -s sftp, or the
// server program itself) on a socket pair, its messages framed, and a reader
// thread that hands each reply to the request of its id. Requests of any
// number of threads are in flight together. A request unanswered after the
// time limit ends the connection, so that a silent server never stalls a run.
class TSftpChannel {
public:
    // Starts argv (no shell; the program looked up on PATH) and greets the
    // server. Null with the reason (what the program wrote on standard error,
    // when it wrote anything) on failure. environment ("NAME=value") is added
    // to the program's own, replacing what it names; this process keeps its own.
    static std::unique_ptr<TSftpChannel> Start(const std::vector<std::string>& argv, std::string& reason,
                                               std::chrono::milliseconds limit = std::chrono::seconds(60),
                                               const std::vector<std::string>& environment = {});
    // How long a request waits for its answer from now on.
    void SetLimit(std::chrono::milliseconds limit) { FLimit.store(limit); }
    ~TSftpChannel();
    TSftpChannel(const TSftpChannel&) = delete;
    TSftpChannel& operator=(const TSftpChannel&) = delete;

    // Sends a request of type with body (what follows the id).
    TSftpCall Send(std::uint8_t type, std::string_view body);
    // Sends a request whose reply goes to onReply, on the reader thread (or at
    // once on this one, with the error, once the connection has ended).
    // Requests sent by handlers go out together when the replies read so far
    // are taken. A connection that answers nothing for the time limit while
    // such requests wait is ended, so every handler is called.
    void Send(std::uint8_t type, std::string_view body, TSftpReplyHandler onReply);
    // Waits for the reply of call, at most the time limit.
    TSftpReply Wait(const TSftpCall& call);

    // While one lives, the requests this thread sends on channel go out
    // together: when it ends, or before the thread waits for a reply.
    class THold {
    public:
        explicit THold(TSftpChannel& channel);
        ~THold();
        THold(const THold&) = delete;
        THold& operator=(const THold&) = delete;

    private:
        TSftpChannel& FChannel;
        bool FOwn = false; // the thread's outermost hold of this channel
    };

    // The extensions the server named in its greeting, and their versions.
    const std::map<std::string, std::string>& Extensions() const { return FExtensions; }
    bool HasExtension(const std::string& name) const { return FExtensions.count(name) != 0; }
    // Whether the connection still works.
    bool Alive() const { return !FBroken.load(); }
    // Why it ended: the program's last words on standard error, or what failed.
    std::string FailureReason() const;
    // Ends the connection: pending and later requests fail.
    void Abort(const std::string& reason);

private:
    TSftpChannel() = default;
    void ReadReplies();
    void CollectErrors();
    void Fail(int error, const std::string& reason);
    bool WriteAll(const std::string& bytes);
    // Writes bytes whole, or ends the connection.
    void SendNow(const std::string& bytes);
    // Why a request that passed the time limit failed.
    std::string LimitPassed() const;
    // Gives call an id and sends it, or holds it (this thread's THold; the
    // reader thread holds for as long as it runs); false once the connection has ended.
    bool Dispatch(const TSftpCall& call, std::uint8_t type, std::string_view body);
    void Deliver(const TSftpCall& call, TSftpReply reply);
    // Sends packet now, or keeps it with this thread's held ones: true when kept.
    bool Hold(const std::string& packet);
    // Sends what this thread holds for this channel.
    void SendHeldByThisThread();

    int FSocket = -1;
    int FErrors = -1;
    pid_t FChild = -1;
    std::atomic<std::chrono::milliseconds> FLimit{std::chrono::milliseconds(60000)};
    std::thread FReader;
    std::thread FErrorReader;
    std::mutex FSendMutex;
    mutable std::mutex FMutex;
    std::map<std::uint32_t, TSftpCall> FPending;
    std::atomic<std::size_t> FHandled{0};       // requests in FPending with a handler
    std::atomic<std::int64_t> FHandledSince{0}; // steady clock: when FHandled last rose from 0
    std::uint32_t FNextId = 1;
    std::atomic<bool> FBroken{false};
    std::atomic<bool> FStopping{false};
    std::atomic<bool> FErrorsEnded{false}; // the program's error output was closed
    int FBrokenError = 0;
    std::string FReason;
    std::string FStderr;
    std::map<std::string, std::string> FExtensions;
    TSftpCall FGreeting;
};

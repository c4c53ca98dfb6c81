#include "SftpChannel.h"

#include "SftpPacket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

class TSftpPending {
public:
    std::promise<TSftpReply> FPromise;
    std::future<TSftpReply> FFuture = FPromise.get_future();
    TSftpReplyHandler FOnReply; // instead of the promise
};

namespace {

// The largest message taken from a server; OpenSSH's are at most 256 KiB.
constexpr std::uint32_t MaxMessage = 4u << 20;
constexpr std::size_t MaxStderrKept = 4096;

// Reads a socket in large pieces: replies that come together cost one read.
// Before it waits for more it calls beforeWait, which says how long to wait
// at most; when that passes with nothing, quiet (given when something last
// came) says whether to give up (false from ReadExactly with ETIMEDOUT) or
// wait on.
class TBufferedReader {
public:
    using TClock = std::chrono::steady_clock;
    TBufferedReader(int fd, std::function<int()> beforeWait, std::function<bool(TClock::time_point)> quiet)
        : FFd(fd), FBuffer(64 * 1024), FBeforeWait(std::move(beforeWait)), FQuiet(std::move(quiet)) {}
    bool ReadExactly(char* data, std::size_t size) {
        while (size > 0) {
            if (FStart == FEnd) {
                pollfd ready{FFd, POLLIN, 0};
                const int waited = poll(&ready, 1, FBeforeWait());
                if (waited < 0 && errno == EINTR) {
                    continue;
                }
                if (waited == 0) {
                    if (FQuiet(FLastRead)) {
                        errno = ETIMEDOUT;
                        return false;
                    }
                    continue;
                }
                const ssize_t got = read(FFd, FBuffer.data(), FBuffer.size());
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                if (got <= 0) {
                    errno = got == 0 ? ECONNRESET : errno;
                    return false;
                }
                FStart = 0;
                FEnd = static_cast<std::size_t>(got);
                FLastRead = TClock::now();
            }
            const std::size_t count = std::min(size, FEnd - FStart);
            std::memcpy(data, FBuffer.data() + FStart, count);
            FStart += count;
            data += count;
            size -= count;
        }
        return true;
    }

private:
    int FFd;
    std::vector<char> FBuffer;
    std::function<int()> FBeforeWait;
    std::function<bool(TClock::time_point)> FQuiet;
    TClock::time_point FLastRead = TClock::now();
    std::size_t FStart = 0;
    std::size_t FEnd = 0;
};

// This process's environment with the entries of extra replacing or joining it.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('=') + 1);
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& added) {
            return std::string_view(added).substr(0, added.find('=') + 1) == name;
        });
        if (!replaced) {
            entries.emplace_back(text);
        }
    }
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
}

// The requests the calling thread holds back (THold), and for which channel.
struct THeldSends {
    const TSftpChannel* FChannel = nullptr;
    std::string FBytes;
};
thread_local THeldSends HeldSends;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

} // namespace

std::unique_ptr<TSftpChannel> TSftpChannel::Start(const std::vector<std::string>& argv, std::string& reason,
                                                  std::chrono::milliseconds limit,
                                                  const std::vector<std::string>& environment) {
    if (argv.empty()) {
        reason = "no command";
        return nullptr;
    }
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        reason = std::strerror(errno);
        return nullptr;
    }
    int errors[2];
    if (pipe2(errors, O_CLOEXEC) != 0) {
        reason = std::strerror(errno);
        close(sockets[0]);
        close(sockets[1]);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], 0);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
    // The child starts a process group of its own, so that a terminal's Ctrl+C
    // reaches the run (which stops in order) rather than the connection.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<std::string> entries;
    std::vector<char*> envp;
    if (!environment.empty()) {
        entries = EnvironmentWith(environment);
        for (std::string& entry : entries) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
    }
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, args[0], &actions, &attributes, args.data(),
                                     envp.empty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(sockets[1]);
    close(errors[1]);
    if (spawned != 0) {
        reason = argv[0] + ": " + std::strerror(spawned);
        close(sockets[0]);
        close(errors[0]);
        return nullptr;
    }
    std::unique_ptr<TSftpChannel> channel(new TSftpChannel());
    channel->FSocket = sockets[0];
    channel->FErrors = errors[0];
    channel->FChild = child;
    channel->FLimit = limit;
    channel->FGreeting = std::make_shared<TSftpPending>();
    channel->FErrorReader = std::thread([c = channel.get()] { c->CollectErrors(); });
    channel->FReader = std::thread([c = channel.get()] { c->ReadReplies(); });

    TSftpWriter init;
    init.U32(5).U8(sftp::Init).U32(3);
    if (!channel->WriteAll(init.Bytes())) {
        channel->Fail(EPIPE, "");
    }
    const TSftpReply greeting = channel->Wait(channel->FGreeting);
    if (greeting.FError != 0 || greeting.FType != sftp::Version) {
        reason = channel->FailureReason();
        return nullptr;
    }
    TSftpReader reader(greeting.FBody);
    if (reader.U32() < 3) {
        reason = "the server speaks an older SFTP version";
        return nullptr;
    }
    while (!reader.AtEnd() && !reader.Failed()) {
        std::string name(reader.Text());
        std::string data(reader.Text());
        if (!reader.Failed()) {
            channel->FExtensions[name] = data;
        }
    }
    return channel;
}

TSftpChannel::~TSftpChannel() {
    FStopping = true;
    if (FSocket >= 0) {
        shutdown(FSocket, SHUT_RDWR);
    }
    if (FChild > 0) {
        // A server whose input ends leaves at once; one that does not is ended.
        bool ended = false;
        for (int i = 0; i < 100 && !ended; ++i) {
            ended = waitpid(FChild, nullptr, WNOHANG) == FChild;
            if (!ended) {
                usleep(10000);
            }
        }
        if (!ended) {
            kill(FChild, SIGKILL);
            waitpid(FChild, nullptr, 0);
        }
    }
    if (FReader.joinable()) {
        FReader.join();
    }
    if (FErrorReader.joinable()) {
        FErrorReader.join();
    }
    if (FSocket >= 0) {
        close(FSocket);
    }
    if (FErrors >= 0) {
        close(FErrors);
    }
}

void TSftpChannel::SendNow(const std::string& bytes) {
    bool sent = false;
    {
        const std::lock_guard lock(FSendMutex);
        sent = WriteAll(bytes);
    }
    if (!sent) {
        Fail(ECONNRESET, "");
    }
}

bool TSftpChannel::WriteAll(const std::string& bytes) {
    const char* data = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0) {
        const ssize_t sent = send(FSocket, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

TSftpChannel::THold::THold(TSftpChannel& channel) : FChannel(channel) {
    if (HeldSends.FChannel == nullptr) {
        HeldSends.FChannel = &channel;
        FOwn = true;
    }
}

TSftpChannel::THold::~THold() {
    if (FOwn) {
        FChannel.SendHeldByThisThread();
        HeldSends.FChannel = nullptr;
    }
}

bool TSftpChannel::Hold(const std::string& packet) {
    if (HeldSends.FChannel != this) {
        return false;
    }
    HeldSends.FBytes.append(packet);
    return true;
}

void TSftpChannel::SendHeldByThisThread() {
    if (HeldSends.FChannel != this || HeldSends.FBytes.empty()) {
        return;
    }
    std::string bytes;
    bytes.swap(HeldSends.FBytes);
    SendNow(bytes);
}

bool TSftpChannel::Dispatch(const TSftpCall& call, std::uint8_t type, std::string_view body) {
    std::uint32_t id = 0;
    {
        const std::lock_guard lock(FMutex);
        if (FBroken.load()) {
            return false;
        }
        id = FNextId++;
        if (call->FOnReply && FHandled++ == 0) {
            FHandledSince = std::chrono::steady_clock::now().time_since_epoch().count();
        }
        FPending[id] = call;
    }
    TSftpWriter header;
    header.U32(static_cast<std::uint32_t>(body.size() + 5)).U8(type).U32(id);
    std::string packet = header.Take();
    packet.append(body);
    if (!Hold(packet)) {
        SendNow(packet);
    }
    return true;
}

TSftpCall TSftpChannel::Send(std::uint8_t type, std::string_view body) {
    auto call = std::make_shared<TSftpPending>();
    if (!Dispatch(call, type, body)) {
        call->FPromise.set_value(TSftpReply{FBrokenError, 0, {}});
    }
    return call;
}

void TSftpChannel::Send(std::uint8_t type, std::string_view body, TSftpReplyHandler onReply) {
    auto call = std::make_shared<TSftpPending>();
    call->FOnReply = std::move(onReply);
    if (!Dispatch(call, type, body)) {
        call->FOnReply(TSftpReply{FBrokenError, 0, {}});
    }
}

void TSftpChannel::Deliver(const TSftpCall& call, TSftpReply reply) {
    if (call->FOnReply) {
        --FHandled;
        call->FOnReply(std::move(reply));
        return;
    }
    try {
        call->FPromise.set_value(std::move(reply));
    } catch (const std::future_error&) {
        // a second greeting: ignored
    }
}

std::string TSftpChannel::LimitPassed() const {
    return "the server did not answer within " + std::to_string(FLimit.load().count() / 1000) + " s";
}

TSftpReply TSftpChannel::Wait(const TSftpCall& call) {
    SendHeldByThisThread();
    if (call->FFuture.wait_for(FLimit.load()) != std::future_status::ready) {
        Fail(ETIMEDOUT, LimitPassed());
    }
    return call->FFuture.get();
}

void TSftpChannel::ReadReplies() {
    // Requests whose replies go to handlers have nobody waiting out their
    // time limit: the reader does, from the last thing heard or the first such
    // request, whichever came later. It looks at least once a second.
    using TClock = TBufferedReader::TClock;
    // What handlers send goes out together once the replies read so far are taken.
    const THold together(*this);
    TBufferedReader input(
        FSocket,
        [this] {
            SendHeldByThisThread();
            return static_cast<int>(std::min<std::int64_t>(FLimit.load().count(), 1000));
        },
        [this](TClock::time_point heard) {
            const auto since = std::max(heard, TClock::time_point(TClock::duration(FHandledSince.load())));
            return FHandled.load() > 0 && TClock::now() - since >= FLimit.load();
        });
    const auto lost = [&] {
        if (errno == ETIMEDOUT) {
            Fail(ETIMEDOUT, LimitPassed());
        } else {
            Fail(ECONNRESET, "");
        }
    };
    for (;;) {
        char header[5];
        if (!input.ReadExactly(header, sizeof header)) {
            lost();
            return;
        }
        TSftpReader lengthReader(std::string_view(header, 5));
        const std::uint32_t length = lengthReader.U32();
        const std::uint8_t type = lengthReader.U8();
        if (length < 1 || length > MaxMessage) {
            Fail(EPROTO, "the server sent a message of a wrong length");
            return;
        }
        std::string body(length - 1, '\0');
        if (!input.ReadExactly(body.data(), body.size())) {
            lost();
            return;
        }
        TSftpCall call;
        if (type == sftp::Version) {
            call = FGreeting;
        } else {
            if (body.size() < 4) {
                Fail(EPROTO, "the server sent a message without an id");
                return;
            }
            TSftpReader idReader(body);
            const std::uint32_t id = idReader.U32();
            body.erase(0, 4);
            const std::lock_guard lock(FMutex);
            const auto found = FPending.find(id);
            if (found != FPending.end()) {
                call = found->second;
                FPending.erase(found);
            }
        }
        if (call) {
            Deliver(call, TSftpReply{0, type, std::move(body)});
        }
    }
}

void TSftpChannel::CollectErrors() {
    char buffer[1024];
    // A background ssh (ControlPersist) may keep the pipe open long after the
    // connection: the reader leaves when the channel ends.
    while (!FStopping.load()) {
        pollfd ready{FErrors, POLLIN, 0};
        if (poll(&ready, 1, 200) <= 0) {
            continue;
        }
        const ssize_t got = read(FErrors, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            FErrorsEnded = true;
            return;
        }
        const std::lock_guard lock(FMutex);
        FStderr.append(buffer, static_cast<std::size_t>(got));
        if (FStderr.size() > MaxStderrKept) {
            FStderr.erase(0, FStderr.size() - MaxStderrKept);
        }
    }
}

void TSftpChannel::Fail(int error, const std::string& reason) {
    std::map<std::uint32_t, TSftpCall> pending;
    TSftpCall greeting;
    {
        const std::lock_guard lock(FMutex);
        if (!FBroken.exchange(true)) {
            FBrokenError = error;
            FReason = reason;
        }
        pending.swap(FPending);
        greeting = FGreeting;
    }
    if (FChild > 0 && error != ECONNRESET) {
        kill(FChild, SIGTERM);
    }
    shutdown(FSocket, SHUT_RDWR);
    for (auto& [id, call] : pending) {
        Deliver(call, TSftpReply{error, 0, {}});
    }
    if (greeting) {
        try {
            greeting->FPromise.set_value(TSftpReply{error, 0, {}});
        } catch (const std::future_error&) {
        }
    }
}

void TSftpChannel::Abort(const std::string& reason) {
    Fail(ECONNABORTED, reason);
}

std::string TSftpChannel::FailureReason() const {
    // The program's words come once it has ended, often in more than one
    // write: its error output is given a moment to end (a program that keeps
    // it open, such as a background ssh, is not waited for longer).
    for (int i = 0; i < 50 && !FErrorsEnded.load(); ++i) {
        usleep(10000);
    }
    const std::lock_guard lock(FMutex);
    std::string words = Trimmed(FStderr);
    if (!FReason.empty()) {
        return words.empty() ? FReason : FReason + ": " + words;
    }
    if (!words.empty()) {
        return words;
    }
    return FBrokenError != 0 ? std::strerror(FBrokenError) : "the connection ended";
}

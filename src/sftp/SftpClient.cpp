#include "SftpClient.h"

#include <future>
#include <mutex>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

int ErrnoOfStatus(std::uint32_t status) {
    switch (status) {
    case sftp::StatusOk:
        return 0;
    case sftp::StatusEof:
        return ENODATA;
    case sftp::StatusNoSuchFile:
        return ENOENT;
    case sftp::StatusPermissionDenied:
        return EACCES;
    case sftp::StatusBadMessage:
        return EINVAL;
    case sftp::StatusNoConnection:
        return ENOTCONN;
    case sftp::StatusConnectionLost:
        return ECONNRESET;
    case sftp::StatusUnsupported:
        return EOPNOTSUPP;
    default:
        return EIO;
    }
}

// OpenSSH's read and write limit when the server does not tell its own.
constexpr std::uint32_t LargestChunk = 255 * 1024;

} // namespace

std::string TSftpResult::Reason() const {
    // OpenSSH words its statuses generically ("Failure"); the errno says as much.
    if (!FMessage.empty() && FMessage != "Failure") {
        return FMessage;
    }
    return std::strerror(FError);
}

TSftpClient::TSftpClient(std::unique_ptr<TSftpChannel> channel) : FChannel(std::move(channel)) {
    const auto offers = [this](const char* name, const char* version) {
        const auto found = FChannel->Extensions().find(name);
        return found != FChannel->Extensions().end() && found->second == version;
    };
    FPosixRename = offers("posix-rename@openssh.com", "1");
    FFsync = offers("fsync@openssh.com", "1");
    FHardlink = offers("hardlink@openssh.com", "1");
    FLsetstat = offers("lsetstat@openssh.com", "1");
    FStatvfs = offers("statvfs@openssh.com", "2");
    if (offers("limits@openssh.com", "1")) {
        AskLimits();
    }
}

void TSftpClient::AskLimits() {
    const TSftpReply reply = CallExtended("limits@openssh.com", {});
    if (reply.FError != 0 || reply.FType != sftp::ExtendedReply) {
        return;
    }
    TSftpReader reader(reply.FBody);
    reader.U64(); // the longest message
    const std::uint64_t longestRead = reader.U64();
    const std::uint64_t longestWrite = reader.U64();
    reader.U64(); // open handles
    if (reader.Failed()) {
        return;
    }
    std::uint64_t chunk = LargestChunk;
    if (longestRead > 0) {
        chunk = std::min(chunk, longestRead);
    }
    if (longestWrite > 0) {
        chunk = std::min(chunk, longestWrite);
    }
    FChunk = static_cast<std::uint32_t>(std::max<std::uint64_t>(chunk, 4096));
}

TSftpReply TSftpClient::Call(std::uint8_t type, const std::string& body) {
    return FChannel->Wait(FChannel->Send(type, body));
}

TSftpCall TSftpClient::SendExtended(const char* name, const std::string& arguments) {
    TSftpWriter body;
    body.Text(name);
    std::string bytes = body.Take();
    bytes.append(arguments);
    return FChannel->Send(sftp::Extended, bytes);
}

TSftpReply TSftpClient::CallExtended(const char* name, const std::string& arguments) {
    return FChannel->Wait(SendExtended(name, arguments));
}

TSftpResult TSftpClient::StatusOf(const TSftpReply& reply) {
    if (reply.FError != 0) {
        return {reply.FError, FChannel->FailureReason()};
    }
    if (reply.FType != sftp::Status) {
        return {EPROTO, "the server sent an unexpected reply"};
    }
    TSftpReader reader(reply.FBody);
    const std::uint32_t status = reader.U32();
    std::string message(reader.Text());
    return {ErrnoOfStatus(status), std::move(message)};
}

TSftpResult TSftpClient::Expect(const TSftpReply& reply, std::uint8_t type) {
    if (reply.FError == 0 && reply.FType == type) {
        return {};
    }
    TSftpResult result = StatusOf(reply);
    if (result.FError == 0) {
        result.FError = EPROTO;
    }
    return result;
}

TSftpResult TSftpClient::TakeAttrs(const TSftpReply& reply, TSftpAttrs& attrs) {
    TSftpResult result = Expect(reply, sftp::Attrs);
    if (result) {
        TSftpReader reader(reply.FBody);
        attrs = reader.Attrs();
        if (reader.Failed()) {
            result.FError = EPROTO;
        }
    }
    return result;
}

TSftpResult TSftpClient::Open(std::string_view path, std::uint32_t flags, const TSftpAttrs& attrs,
                              std::string& handle) {
    TSftpWriter body;
    body.Text(path).U32(flags).Attrs(attrs);
    const TSftpReply reply = Call(sftp::Open, body.Bytes());
    TSftpResult result = Expect(reply, sftp::Handle);
    if (result) {
        TSftpReader reader(reply.FBody);
        handle = reader.Text();
    }
    return result;
}

TSftpResult TSftpClient::Close(std::string_view handle) {
    return TakeStatus(SendClose(handle));
}

TSftpCall TSftpClient::SendRead(std::string_view handle, std::uint64_t offset, std::uint32_t size) {
    TSftpWriter body;
    body.Text(handle).U64(offset).U32(size);
    return FChannel->Send(sftp::Read, body.Bytes());
}

TSftpResult TSftpClient::TakeRead(const TSftpCall& call, std::string& data) {
    const TSftpReply reply = FChannel->Wait(call);
    data.clear();
    if (reply.FError == 0 && reply.FType == sftp::Data) {
        TSftpReader reader(reply.FBody);
        data = reader.Text();
        return {};
    }
    TSftpResult result = StatusOf(reply);
    if (result.FError == ENODATA) {
        return {};
    }
    if (result.FError == 0) {
        result.FError = EPROTO;
    }
    return result;
}

TSftpResult TSftpClient::Read(std::string_view handle, std::uint64_t offset, std::uint32_t size,
                              std::string& data) {
    return TakeRead(SendRead(handle, offset, size), data);
}

TSftpCall TSftpClient::SendWrite(std::string_view handle, std::uint64_t offset, std::string_view data) {
    TSftpWriter body;
    body.Text(handle).U64(offset).Text(data);
    return FChannel->Send(sftp::Write, body.Bytes());
}

TSftpResult TSftpClient::TakeStatus(const TSftpCall& call) {
    if (!call) {
        return {EOPNOTSUPP, {}};
    }
    return StatusOf(FChannel->Wait(call));
}

TSftpCall TSftpClient::SendFsetstat(std::string_view handle, const TSftpAttrs& attrs) {
    TSftpWriter body;
    body.Text(handle).Attrs(attrs);
    return FChannel->Send(sftp::Fsetstat, body.Bytes());
}

TSftpCall TSftpClient::SendFsync(std::string_view handle) {
    if (!FFsync) {
        return nullptr;
    }
    TSftpWriter arguments;
    arguments.Text(handle);
    return SendExtended("fsync@openssh.com", arguments.Bytes());
}

TSftpCall TSftpClient::SendClose(std::string_view handle) {
    TSftpWriter body;
    body.Text(handle);
    return FChannel->Send(sftp::Close, body.Bytes());
}

TSftpCall TSftpClient::SendLstat(std::string_view path) {
    TSftpWriter body;
    body.Text(path);
    return FChannel->Send(sftp::Lstat, body.Bytes());
}

TSftpResult TSftpClient::TakeAttrs(const TSftpCall& call, TSftpAttrs& attrs) {
    return TakeAttrs(FChannel->Wait(call), attrs);
}

TSftpResult TSftpClient::Write(std::string_view handle, std::uint64_t offset, std::string_view data) {
    return TakeStatus(SendWrite(handle, offset, data));
}

TSftpResult TSftpClient::Stat(std::string_view path, TSftpAttrs& attrs) {
    TSftpWriter body;
    body.Text(path);
    return TakeAttrs(Call(sftp::Stat, body.Bytes()), attrs);
}

TSftpResult TSftpClient::Lstat(std::string_view path, TSftpAttrs& attrs) {
    return TakeAttrs(SendLstat(path), attrs);
}

TSftpResult TSftpClient::Fstat(std::string_view handle, TSftpAttrs& attrs) {
    TSftpWriter body;
    body.Text(handle);
    return TakeAttrs(Call(sftp::Fstat, body.Bytes()), attrs);
}

TSftpResult TSftpClient::Setstat(std::string_view path, const TSftpAttrs& attrs) {
    TSftpWriter body;
    body.Text(path).Attrs(attrs);
    return StatusOf(Call(sftp::Setstat, body.Bytes()));
}

TSftpResult TSftpClient::Fsetstat(std::string_view handle, const TSftpAttrs& attrs) {
    return TakeStatus(SendFsetstat(handle, attrs));
}

TSftpResult TSftpClient::Lsetstat(std::string_view path, const TSftpAttrs& attrs) {
    if (!FLsetstat) {
        return {EOPNOTSUPP, {}};
    }
    TSftpWriter arguments;
    arguments.Text(path).Attrs(attrs);
    return StatusOf(CallExtended("lsetstat@openssh.com", arguments.Bytes()));
}

TSftpResult TSftpClient::List(std::string_view path, std::vector<TSftpEntry>& entries) {
    std::promise<std::pair<TSftpResult, std::vector<TSftpEntry>>> listed;
    auto outcome = listed.get_future();
    ListAsync(std::string(path), [&listed](TSftpResult result, std::vector<TSftpEntry> found) {
        listed.set_value({std::move(result), std::move(found)});
    });
    // Always comes: the channel ends a connection that answers nothing for its time limit.
    auto [result, found] = outcome.get();
    entries = std::move(found);
    if (result.FError != 0 && result.FMessage.empty() && !FChannel->Alive()) {
        result.FMessage = FChannel->FailureReason();
    }
    return result;
}

bool TSftpClient::AddNames(const TSftpReply& reply, std::vector<TSftpEntry>& entries) {
    TSftpReader reader(reply.FBody);
    const std::uint32_t count = reader.U32();
    for (std::uint32_t i = 0; i < count && !reader.Failed(); ++i) {
        TSftpEntry entry;
        entry.FName = reader.Text();
        reader.Text(); // the long name, meant for people
        entry.FAttrs = reader.Attrs();
        if (!reader.Failed() && entry.FName != "." && entry.FName != "..") {
            entries.push_back(std::move(entry));
        }
    }
    return !reader.Failed();
}

// One folder listed by ListAsync: its handle, what came, and the READDIRs in
// flight. Its handlers run on the reader thread, or at once on a thread whose
// send found the connection ended, and may nest; the lock keeps them apart.
struct TSftpClient::TAsyncListing {
    std::recursive_mutex FMutex;
    std::string FHandle;
    std::vector<TSftpEntry> FEntries;
    TSftpResult FResult;
    int FAsked = 0;
    bool FEnded = false;
    bool FDone = false;
    TListed FListed;
};

TSftpResult TSftpClient::ListingOutcome(const TSftpReply& reply) {
    // The reply of a connection that ended carries no words worth a wait for ssh's.
    TSftpResult result = reply.FError != 0 ? TSftpResult{reply.FError, {}} : StatusOf(reply);
    if (result.FError == 0) {
        result.FError = EPROTO;
    }
    return result;
}

void TSftpClient::ListAsync(std::string path, TListed done) {
    auto listing = std::make_shared<TAsyncListing>();
    listing->FListed = std::move(done);
    TSftpWriter open;
    open.Text(path);
    FChannel->Send(sftp::Opendir, open.Bytes(), [this, listing](TSftpReply reply) {
        const std::lock_guard lock(listing->FMutex);
        if (reply.FError != 0 || reply.FType != sftp::Handle) {
            listing->FResult = ListingOutcome(reply);
            listing->FEnded = true;
        } else {
            listing->FHandle = std::string(TSftpReader(reply.FBody).Text());
            // Two READDIRs in flight, as List keeps.
            ReadNextNames(listing);
            ReadNextNames(listing);
        }
        FinishListing(*listing);
    });
}

void TSftpClient::ReadNextNames(const std::shared_ptr<TAsyncListing>& listing) {
    TSftpWriter next;
    next.Text(listing->FHandle);
    ++listing->FAsked;
    FChannel->Send(sftp::Readdir, next.Bytes(), [this, listing](TSftpReply reply) {
        const std::lock_guard lock(listing->FMutex);
        --listing->FAsked;
        if (!listing->FEnded) {
            if (reply.FError == 0 && reply.FType == sftp::Name) {
                if (AddNames(reply, listing->FEntries)) {
                    // The READDIR still in flight may bring the end: most
                    // folders fit one reply, and a third would be wasted.
                    if (listing->FAsked == 0) {
                        ReadNextNames(listing);
                        ReadNextNames(listing);
                    }
                } else {
                    listing->FResult = {EPROTO, "the server sent a broken listing"};
                    listing->FEnded = true;
                }
            } else {
                listing->FResult = ListingOutcome(reply);
                if (listing->FResult.FError == ENODATA) {
                    listing->FResult = {};
                }
                listing->FEnded = true;
            }
            if (listing->FEnded && reply.FError == 0) {
                // Not waited for: the server takes the handle's requests in order.
                SendClose(listing->FHandle);
            }
        }
        FinishListing(*listing);
    });
}

void TSftpClient::FinishListing(TAsyncListing& listing) {
    if (listing.FEnded && listing.FAsked == 0 && !listing.FDone) {
        listing.FDone = true;
        listing.FListed(std::move(listing.FResult), std::move(listing.FEntries));
    }
}

TSftpResult TSftpClient::Remove(std::string_view path) {
    TSftpWriter body;
    body.Text(path);
    return StatusOf(Call(sftp::Remove, body.Bytes()));
}

TSftpResult TSftpClient::MakeFolder(std::string_view path, std::uint32_t mode) {
    TSftpAttrs attrs;
    attrs.FFlags = sftp::AttrPermissions;
    attrs.FMode = mode;
    TSftpWriter body;
    body.Text(path).Attrs(attrs);
    return StatusOf(Call(sftp::Mkdir, body.Bytes()));
}

TSftpResult TSftpClient::RemoveFolder(std::string_view path) {
    TSftpWriter body;
    body.Text(path);
    return StatusOf(Call(sftp::Rmdir, body.Bytes()));
}

TSftpResult TSftpClient::RealPath(std::string_view path, std::string& resolved) {
    TSftpWriter body;
    body.Text(path);
    const TSftpReply reply = Call(sftp::Realpath, body.Bytes());
    TSftpResult result = Expect(reply, sftp::Name);
    if (result) {
        TSftpReader reader(reply.FBody);
        if (reader.U32() < 1) {
            return {EPROTO, "the server named no path"};
        }
        resolved = reader.Text();
    }
    return result;
}

TSftpResult TSftpClient::Rename(std::string_view from, std::string_view to) {
    TSftpWriter body;
    body.Text(from).Text(to);
    return StatusOf(Call(sftp::Rename, body.Bytes()));
}

TSftpResult TSftpClient::PosixRename(std::string_view from, std::string_view to) {
    if (!FPosixRename) {
        return {EOPNOTSUPP, {}};
    }
    TSftpWriter arguments;
    arguments.Text(from).Text(to);
    return StatusOf(CallExtended("posix-rename@openssh.com", arguments.Bytes()));
}

TSftpResult TSftpClient::ReadLink(std::string_view path, std::string& text) {
    TSftpWriter body;
    body.Text(path);
    const TSftpReply reply = Call(sftp::Readlink, body.Bytes());
    TSftpResult result = Expect(reply, sftp::Name);
    if (result) {
        TSftpReader reader(reply.FBody);
        if (reader.U32() < 1) {
            return {EPROTO, "the server sent no link text"};
        }
        text = reader.Text();
    }
    return result;
}

TSftpResult TSftpClient::Symlink(std::string_view link, std::string_view text) {
    // OpenSSH takes the link's text first and the new link second, the other
    // way round from the protocol's text; every server in use follows it.
    TSftpWriter body;
    body.Text(text).Text(link);
    return StatusOf(Call(sftp::Symlink, body.Bytes()));
}

TSftpResult TSftpClient::Hardlink(std::string_view existing, std::string_view link) {
    if (!FHardlink) {
        return {EOPNOTSUPP, {}};
    }
    TSftpWriter arguments;
    arguments.Text(existing).Text(link);
    return StatusOf(CallExtended("hardlink@openssh.com", arguments.Bytes()));
}

TSftpResult TSftpClient::Fsync(std::string_view handle) {
    return TakeStatus(SendFsync(handle));
}

TSftpResult TSftpClient::Statvfs(std::string_view path, TSftpSpace& space) {
    if (!FStatvfs) {
        return {EOPNOTSUPP, {}};
    }
    TSftpWriter arguments;
    arguments.Text(path);
    const TSftpReply reply = CallExtended("statvfs@openssh.com", arguments.Bytes());
    TSftpResult result = Expect(reply, sftp::ExtendedReply);
    if (result) {
        TSftpReader reader(reply.FBody);
        space.FBlockSize = reader.U64();
        reader.U64(); // fragment size
        space.FBlocks = reader.U64();
        space.FFreeBlocks = reader.U64();
        space.FAvailableBlocks = reader.U64();
        for (int i = 0; i < 4; ++i) {
            reader.U64(); // files, free files, available files, id
        }
        space.FReadOnly = (reader.U64() & 1) != 0; // SSH_FXE_STATVFS_ST_RDONLY
        space.FNameMax = reader.U64();
        if (reader.Failed()) {
            result.FError = EPROTO;
        }
    }
    return result;
}

bool TSftpPipelinedWriter::Write(std::string_view data, std::uint64_t offset) {
    const std::uint32_t chunk = FClient.ChunkSize();
    while (!data.empty() && FResult) {
        const std::size_t size = std::min<std::size_t>(data.size(), chunk);
        while (FInFlight.size() >= FClient.Depth() && FResult) {
            TakeOldest();
        }
        FInFlight.push_back(FClient.SendWrite(FHandle, offset, data.substr(0, size)));
        data.remove_prefix(size);
        offset += size;
    }
    return static_cast<bool>(FResult);
}

void TSftpPipelinedWriter::TakeOldest() {
    const TSftpCall call = FInFlight.front();
    FInFlight.pop_front();
    TSftpResult result = FClient.TakeStatus(call);
    if (FResult && !result) {
        FResult = std::move(result);
    }
}

TSftpResult TSftpPipelinedWriter::Finish() {
    while (!FInFlight.empty()) {
        TakeOldest();
    }
    return FResult;
}

TSftpPipelinedReader::~TSftpPipelinedReader() {
    // Replies still to come are dropped by the channel; waiting for them keeps
    // the handle's close behind them at the server.
    for (const TAsked& asked : FAsked) {
        std::string ignored;
        FClient.TakeRead(asked.FCall, ignored);
    }
}

void TSftpPipelinedReader::Fill() {
    while (!FEnd && FAsked.size() < FClient.Depth()) {
        const std::uint32_t size = FClient.ChunkSize();
        FAsked.push_back({FNext, size, FClient.SendRead(FHandle, FNext, size)});
        FNext += size;
    }
}

long TSftpPipelinedReader::Read(char* data, std::size_t size) {
    while (FBufferPos >= FBuffer.size()) {
        if (!FResult) {
            return -1;
        }
        Fill();
        if (FAsked.empty()) {
            return 0;
        }
        TAsked asked = std::move(FAsked.front());
        FAsked.pop_front();
        if (FEnd) {
            // Asked past the end: dropped.
            std::string ignored;
            FClient.TakeRead(asked.FCall, ignored);
            continue;
        }
        FBuffer.clear();
        FBufferPos = 0;
        TSftpResult result = FClient.TakeRead(asked.FCall, FBuffer);
        if (!result) {
            FResult = std::move(result);
            return -1;
        }
        if (FBuffer.empty()) {
            FEnd = true;
            continue;
        }
        if (FBuffer.size() < asked.FSize) {
            // A short reply: the rest is asked again, ahead of what follows.
            const std::uint64_t rest = asked.FOffset + FBuffer.size();
            const auto restSize = static_cast<std::uint32_t>(asked.FSize - FBuffer.size());
            FAsked.push_front({rest, restSize, FClient.SendRead(FHandle, rest, restSize)});
        }
    }
    const std::size_t count = std::min(size, FBuffer.size() - FBufferPos);
    std::memcpy(data, FBuffer.data() + FBufferPos, count);
    FBufferPos += count;
    FDelivered += count;
    return static_cast<long>(count);
}

#pragma once

#include "SftpChannel.h"
#include "SftpPacket.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The outcome of a request: 0 or an errno value, and the server's own words.
struct TSftpResult {
    int FError = 0;
    std::string FMessage;
    explicit operator bool() const { return FError == 0; }
    // The server's words, or the errno's text when it said nothing useful.
    std::string Reason() const;
};

struct TSftpEntry {
    std::string FName;
    TSftpAttrs FAttrs;
};

// What statvfs@openssh.com tells of the file system.
struct TSftpSpace {
    std::uint64_t FBlockSize = 0;
    std::uint64_t FBlocks = 0;
    std::uint64_t FFreeBlocks = 0;
    std::uint64_t FAvailableBlocks = 0;
    std::uint64_t FNameMax = 0;
    bool FReadOnly = false;
};

// An SFTP version 3 client with OpenSSH's extensions over one channel. Every
// call may be made from any thread; the calls of several threads are in
// flight together. Paths are bytes as the server takes them.
class TSftpClient {
public:
    explicit TSftpClient(std::unique_ptr<TSftpChannel> channel);

    TSftpChannel& Channel() { return *FChannel; }
    bool HasPosixRename() const { return FPosixRename; }
    bool HasFsync() const { return FFsync; }
    bool HasHardlink() const { return FHardlink; }
    bool HasLsetstat() const { return FLsetstat; }
    bool HasStatvfs() const { return FStatvfs; }
    // The largest read and write a request carries.
    std::uint32_t ChunkSize() const { return FChunk; }
    // How many reads or writes of one file are kept in flight.
    std::size_t Depth() const { return FDepth; }
    // Asks for larger pieces than the server offered: it then answers reads
    // short, which the readers must take (for tests of that).
    void SetChunkSize(std::uint32_t size) { FChunk = size; }

    TSftpResult Open(std::string_view path, std::uint32_t flags, const TSftpAttrs& attrs,
                     std::string& handle);
    TSftpResult Close(std::string_view handle);
    // Reads up to size bytes: data is empty at the end of the file.
    TSftpResult Read(std::string_view handle, std::uint64_t offset, std::uint32_t size, std::string& data);
    TSftpResult Write(std::string_view handle, std::uint64_t offset, std::string_view data);
    TSftpResult Stat(std::string_view path, TSftpAttrs& attrs);
    TSftpResult Lstat(std::string_view path, TSftpAttrs& attrs);
    TSftpResult Fstat(std::string_view handle, TSftpAttrs& attrs);
    TSftpResult Setstat(std::string_view path, const TSftpAttrs& attrs);
    TSftpResult Fsetstat(std::string_view handle, const TSftpAttrs& attrs);
    // Sets attributes of a link itself where the server can; else EOPNOTSUPP.
    TSftpResult Lsetstat(std::string_view path, const TSftpAttrs& attrs);
    // The whole folder, without "." and "..".
    TSftpResult List(std::string_view path, std::vector<TSftpEntry>& entries);
    // The same without waiting: done gets the outcome on the channel's reader
    // thread, where it may send but never wait. Many folders' requests are in
    // flight together this way, without a thread each.
    using TListed = std::function<void(TSftpResult result, std::vector<TSftpEntry> entries)>;
    void ListAsync(std::string path, TListed done);
    TSftpResult Remove(std::string_view path);
    TSftpResult MakeFolder(std::string_view path, std::uint32_t mode);
    TSftpResult RemoveFolder(std::string_view path);
    TSftpResult RealPath(std::string_view path, std::string& resolved);
    // The draft's rename: fails where to exists.
    TSftpResult Rename(std::string_view from, std::string_view to);
    // posix-rename@openssh.com: replaces to (EOPNOTSUPP without it).
    TSftpResult PosixRename(std::string_view from, std::string_view to);
    TSftpResult ReadLink(std::string_view path, std::string& text);
    // Makes link a symbolic link holding text.
    TSftpResult Symlink(std::string_view link, std::string_view text);
    TSftpResult Hardlink(std::string_view existing, std::string_view link);
    TSftpResult Fsync(std::string_view handle);
    TSftpResult Statvfs(std::string_view path, TSftpSpace& space);

    // Requests sent now and taken later, to keep many in flight.
    TSftpCall SendRead(std::string_view handle, std::uint64_t offset, std::uint32_t size);
    TSftpResult TakeRead(const TSftpCall& call, std::string& data);
    TSftpCall SendWrite(std::string_view handle, std::uint64_t offset, std::string_view data);
    TSftpResult TakeStatus(const TSftpCall& call);
    // The server handles the requests of one file in the order they came, so
    // a file's last requests go together and their replies are taken after.
    TSftpCall SendFsetstat(std::string_view handle, const TSftpAttrs& attrs);
    // Null without fsync@openssh.com; TakeStatus of null is EOPNOTSUPP.
    TSftpCall SendFsync(std::string_view handle);
    TSftpCall SendClose(std::string_view handle);
    TSftpCall SendLstat(std::string_view path);
    TSftpResult TakeAttrs(const TSftpCall& call, TSftpAttrs& attrs);

private:
    TSftpReply Call(std::uint8_t type, const std::string& body);
    TSftpReply CallExtended(const char* name, const std::string& arguments);
    TSftpResult StatusOf(const TSftpReply& reply);
    TSftpResult Expect(const TSftpReply& reply, std::uint8_t type);
    TSftpResult TakeAttrs(const TSftpReply& reply, TSftpAttrs& attrs);
    // Adds the entries of a NAME reply; false when it is broken.
    static bool AddNames(const TSftpReply& reply, std::vector<TSftpEntry>& entries);
    struct TAsyncListing;
    void ReadNextNames(const std::shared_ptr<TAsyncListing>& listing);
    static void FinishListing(TAsyncListing& listing);
    TSftpResult ListingOutcome(const TSftpReply& reply);
    TSftpCall SendExtended(const char* name, const std::string& arguments);
    void AskLimits();

    std::unique_ptr<TSftpChannel> FChannel;
    bool FPosixRename = false;
    bool FFsync = false;
    bool FHardlink = false;
    bool FLsetstat = false;
    bool FStatvfs = false;
    std::uint32_t FChunk = 32768;
    std::size_t FDepth = 16;
};

// Writes a file from start to end with many writes in flight.
class TSftpPipelinedWriter {
public:
    TSftpPipelinedWriter(TSftpClient& client, std::string handle)
        : FClient(client), FHandle(std::move(handle)) {}
    // Sends data at offset; false once a write has failed (see Result).
    bool Write(std::string_view data, std::uint64_t offset);
    // Waits for every write; the first failure.
    TSftpResult Finish();
    const TSftpResult& Result() const { return FResult; }

private:
    void TakeOldest();
    TSftpClient& FClient;
    std::string FHandle;
    std::deque<TSftpCall> FInFlight;
    TSftpResult FResult;
};

// Reads a file from start to end with many reads in flight; a short reply is
// asked again for the rest.
class TSftpPipelinedReader {
public:
    TSftpPipelinedReader(TSftpClient& client, std::string handle, std::uint64_t start = 0)
        : FClient(client), FHandle(std::move(handle)), FNext(start), FDelivered(start) {}
    ~TSftpPipelinedReader();
    // The next bytes in order (at most size); 0 at the end, -1 with result set on an error.
    long Read(char* data, std::size_t size);
    std::uint64_t Position() const { return FDelivered; }
    const TSftpResult& Result() const { return FResult; }

private:
    struct TAsked {
        std::uint64_t FOffset;
        std::uint32_t FSize;
        TSftpCall FCall;
    };
    void Fill();
    TSftpClient& FClient;
    std::string FHandle;
    std::deque<TAsked> FAsked;
    std::uint64_t FNext;      // the next offset to ask for
    std::uint64_t FDelivered; // the offset of the first byte not yet handed out
    std::string FBuffer;
    std::size_t FBufferPos = 0;
    bool FEnd = false;
    TSftpResult FResult;
};

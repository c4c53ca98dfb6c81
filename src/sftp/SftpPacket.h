#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The message numbers and values of SFTP version 3.
namespace sftp {
enum : std::uint8_t {
    Init = 1,
    Version = 2,
    Open = 3,
    Close = 4,
    Read = 5,
    Write = 6,
    Lstat = 7,
    Fstat = 8,
    Setstat = 9,
    Fsetstat = 10,
    Opendir = 11,
    Readdir = 12,
    Remove = 13,
    Mkdir = 14,
    Rmdir = 15,
    Realpath = 16,
    Stat = 17,
    Rename = 18,
    Readlink = 19,
    Symlink = 20,
    Status = 101,
    Handle = 102,
    Data = 103,
    Name = 104,
    Attrs = 105,
    Extended = 200,
    ExtendedReply = 201,
};
enum : std::uint32_t {
    StatusOk = 0,
    StatusEof = 1,
    StatusNoSuchFile = 2,
    StatusPermissionDenied = 3,
    StatusFailure = 4,
    StatusBadMessage = 5,
    StatusNoConnection = 6,
    StatusConnectionLost = 7,
    StatusUnsupported = 8,
};
enum : std::uint32_t {
    OpenRead = 0x01,
    OpenWrite = 0x02,
    OpenAppend = 0x04,
    OpenCreate = 0x08,
    OpenTruncate = 0x10,
    OpenExclusive = 0x20,
};
enum : std::uint32_t {
    AttrSize = 0x01,
    AttrOwner = 0x02,
    AttrPermissions = 0x04,
    AttrTimes = 0x08,
    AttrExtended = 0x80000000u,
};
} // namespace sftp

// The attributes of an entry as the server sends them; FFlags says which are there.
struct TSftpAttrs {
    std::uint32_t FFlags = 0;
    std::uint64_t FSize = 0;
    std::uint32_t FUid = 0;
    std::uint32_t FGid = 0;
    std::uint32_t FMode = 0; // the whole st_mode: kind and permission bits
    std::uint32_t FAccessed = 0;
    std::uint32_t FModified = 0; // whole seconds since 1970
};

// Builds the body of a message.
class TSftpWriter {
public:
    TSftpWriter& U8(std::uint8_t value);
    TSftpWriter& U32(std::uint32_t value);
    TSftpWriter& U64(std::uint64_t value);
    TSftpWriter& Text(std::string_view value); // a length and the bytes
    TSftpWriter& Attrs(const TSftpAttrs& attrs);
    const std::string& Bytes() const { return FBytes; }
    std::string Take() { return std::move(FBytes); }

private:
    std::string FBytes;
};

// Reads the body of a message; a read past its end sets Failed and gives zeros.
class TSftpReader {
public:
    explicit TSftpReader(std::string_view bytes) : FBytes(bytes) {}
    std::uint8_t U8();
    std::uint32_t U32();
    std::uint64_t U64();
    std::string_view Text();
    TSftpAttrs Attrs();
    bool Failed() const { return FFailed; }
    bool AtEnd() const { return FPos >= FBytes.size(); }

private:
    bool Need(std::size_t count);
    std::string_view FBytes;
    std::size_t FPos = 0;
    bool FFailed = false;
};

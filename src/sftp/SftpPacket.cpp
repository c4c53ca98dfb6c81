#include "SftpPacket.h"

TSftpWriter& TSftpWriter::U8(std::uint8_t value) {
    FBytes.push_back(static_cast<char>(value));
    return *this;
}

TSftpWriter& TSftpWriter::U32(std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        FBytes.push_back(static_cast<char>((value >> shift) & 0xff));
    }
    return *this;
}

TSftpWriter& TSftpWriter::U64(std::uint64_t value) {
    U32(static_cast<std::uint32_t>(value >> 32));
    return U32(static_cast<std::uint32_t>(value & 0xffffffffu));
}

TSftpWriter& TSftpWriter::Text(std::string_view value) {
    U32(static_cast<std::uint32_t>(value.size()));
    FBytes.append(value);
    return *this;
}

TSftpWriter& TSftpWriter::Attrs(const TSftpAttrs& attrs) {
    const std::uint32_t flags = attrs.FFlags & ~sftp::AttrExtended;
    U32(flags);
    if (flags & sftp::AttrSize) {
        U64(attrs.FSize);
    }
    if (flags & sftp::AttrOwner) {
        U32(attrs.FUid).U32(attrs.FGid);
    }
    if (flags & sftp::AttrPermissions) {
        U32(attrs.FMode);
    }
    if (flags & sftp::AttrTimes) {
        U32(attrs.FAccessed).U32(attrs.FModified);
    }
    return *this;
}

bool TSftpReader::Need(std::size_t count) {
    if (FFailed || FBytes.size() - FPos < count) {
        FFailed = true;
        return false;
    }
    return true;
}

std::uint8_t TSftpReader::U8() {
    if (!Need(1)) {
        return 0;
    }
    return static_cast<std::uint8_t>(FBytes[FPos++]);
}

std::uint32_t TSftpReader::U32() {
    if (!Need(4)) {
        return 0;
    }
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<std::uint8_t>(FBytes[FPos++]);
    }
    return value;
}

std::uint64_t TSftpReader::U64() {
    const std::uint64_t high = U32();
    return (high << 32) | U32();
}

std::string_view TSftpReader::Text() {
    const std::uint32_t length = U32();
    if (!Need(length)) {
        return {};
    }
    const std::string_view text = FBytes.substr(FPos, length);
    FPos += length;
    return text;
}

TSftpAttrs TSftpReader::Attrs() {
    TSftpAttrs attrs;
    attrs.FFlags = U32();
    if (attrs.FFlags & sftp::AttrSize) {
        attrs.FSize = U64();
    }
    if (attrs.FFlags & sftp::AttrOwner) {
        attrs.FUid = U32();
        attrs.FGid = U32();
    }
    if (attrs.FFlags & sftp::AttrPermissions) {
        attrs.FMode = U32();
    }
    if (attrs.FFlags & sftp::AttrTimes) {
        attrs.FAccessed = U32();
        attrs.FModified = U32();
    }
    if (attrs.FFlags & sftp::AttrExtended) {
        const std::uint32_t count = U32();
        for (std::uint32_t i = 0; i < count && !FFailed; ++i) {
            Text();
            Text();
        }
    }
    return attrs;
}

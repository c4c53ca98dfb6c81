#include "LogText.h"

#include <cstddef>

namespace {

// Length of the valid UTF-8 character at pos (1 to 4), or 0 when the bytes
// there do not start one: no stray continuation bytes, no overlong forms, no
// UTF-16 surrogates, nothing above U+10FFFF, no truncated characters.
std::size_t Utf8CharLength(const std::string& text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const auto isTail = [&](std::size_t i) { return pos + i < text.size() && (byte(i) & 0xC0) == 0x80; };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return isTail(1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!isTail(1) || !isTail(2)) {
            return 0;
        }
        if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0)) {
            return 0; // overlong, or a surrogate
        }
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!isTail(1) || !isTail(2) || !isTail(3)) {
            return 0;
        }
        if ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90)) {
            return 0; // overlong, or above U+10FFFF
        }
        return 4;
    }
    return 0;
}

void AppendByteEscape(std::string& out, unsigned char value) {
    static const char Digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += Digits[value >> 4];
    out += Digits[value & 0x0F];
}

} // namespace

std::string MakeLogSafe(const std::string& value) {
    std::string safe;
    safe.reserve(value.size());
    std::size_t pos = 0;
    while (pos < value.size()) {
        const std::size_t length = Utf8CharLength(value, pos);
        const bool control = length == 1 && static_cast<unsigned char>(value[pos]) < 0x20;
        // U+FFFE and U+FFFF are not XML characters: EF BF BE, EF BF BF.
        const bool nonCharacter = length == 3 && value.compare(pos, 2, "\xEF\xBF") == 0 &&
                                  static_cast<unsigned char>(value[pos + 2]) >= 0xBE;
        if (length == 0 || control) {
            AppendByteEscape(safe, static_cast<unsigned char>(value[pos]));
            ++pos;
        } else if (nonCharacter) {
            for (std::size_t i = 0; i < 3; ++i) {
                AppendByteEscape(safe, static_cast<unsigned char>(value[pos + i]));
            }
            pos += 3;
        } else {
            safe.append(value, pos, length);
            pos += length;
        }
    }
    return safe;
}

std::string NormaliseLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() != '\n') {
        out += "\r\n";
    }
    return out;
}

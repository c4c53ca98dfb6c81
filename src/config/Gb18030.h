#pragma once

#include <optional>
#include <string>

// The text files (configuration and run logs) are GB18030 on disk and UTF-8 in
// memory. GB18030 holds every Unicode character, and its bytes equal GB2312's
// wherever GB2312 has the character.

// Empty optional when the text is not valid UTF-8.
std::optional<std::string> Utf8ToGb18030(const std::string& utf8);
// Empty optional when the bytes are not valid GB18030.
std::optional<std::string> Gb18030ToUtf8(const std::string& gb18030);

// True for bytes that are well-formed UTF-8 (no overlong forms, surrogates or
// code points beyond U+10FFFF).
bool IsValidUtf8(const std::string& bytes);

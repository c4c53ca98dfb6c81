#pragma once

#include <string>

// Text helpers of the run-log writer.

// The value as it may stand in one element line of a day file. Valid UTF-8 is
// kept as it is, except for characters that would break the line layout or make
// the XML unreadable. Each byte that is not part of a valid UTF-8 character
// (file names are bytes and need not be UTF-8), each control byte below 0x20
// (line breaks and tabs included) and each byte of U+FFFE or U+FFFF becomes the
// visible four-character text "\xHH" with two upper-case hex digits, for
// example "a\xFFb" for the bytes 61 FF 62. The escape keeps the byte value, so
// the user can still tell which file was meant, and it is plain ASCII, so it
// reads the same to a strict GB2312 reader as to a GB18030 one; a replacement
// character (U+FFFD) would lose the byte and has no GB2312 code. A name that
// already holds such a text literally reads the same as an escaped one; the
// log is for people, not for recovering names.
std::string MakeLogSafe(const std::string& value);

// The text with every line ended by CR LF: lone LF and lone CR become CR LF, and
// a last line without a line end gets one. Empty text stays empty.
std::string NormaliseLineEnds(const std::string& text);

#include "IniFileText.h"

#include "AsciiCase.h"
#include "Gb18030.h"

#include <algorithm>
#include <unordered_set>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::size_t SkipBlanks(const std::string& text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos])) {
        ++pos;
    }
    return pos;
}

// Names are UTF-8, where bytes below 0x80 are always whole characters, so
// folding A-Z byte by byte is safe.
std::string Folded(const std::string& name) {
    return LowerAscii(name);
}

bool SameName(const std::string& a, const std::string& b) {
    return SameTextIgnoringAsciiCase(a, b);
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool IsAscii(const std::string& bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A lead byte of a three- or four-byte UTF-8 sequence.
bool HasLongUtf8Sequence(const std::string& bytes) {
    return std::any_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0xE0; });
}

const std::string Utf8ByteOrderMark = "\xEF\xBB\xBF";
const std::string Gb18030ByteOrderMark = "\x84\x31\x95\x33";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

TIniText::TIniText(const std::string& fileBytes) {
    // Editors on Linux write UTF-8; the program itself has always written
    // GB18030. Many single Chinese characters in GB18030 happen to be valid
    // two-byte UTF-8 ("值" is D6 B5), but Chinese in UTF-8 always takes three
    // bytes, and a GB18030 file that is valid UTF-8 with such a sequence is
    // vanishingly rare.
    std::string bytes = fileBytes;
    for (const std::string* mark : {&Utf8ByteOrderMark, &Gb18030ByteOrderMark}) {
        if (StartsWith(bytes, *mark)) {
            FByteOrderMark = *mark;
            bytes.erase(0, mark->size());
            break;
        }
    }
    FUtf8 = FByteOrderMark == Utf8ByteOrderMark ||
            (FByteOrderMark.empty() && HasLongUtf8Sequence(bytes) && IsValidUtf8(bytes));
    // LF and CR never occur inside a GB18030 or UTF-8 character, so the bytes
    // can be split into lines before they are decoded.
    std::size_t begin = 0;
    while (begin < bytes.size()) {
        std::size_t end = bytes.find('\n', begin);
        const std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos) {
            end = bytes.size();
        }
        if (end > begin && bytes[end - 1] == '\r') {
            --end;
        }
        FLines.push_back(ParseLine(bytes.substr(begin, end - begin)));
        begin = next;
    }
    Link();
}

std::optional<std::string> TIniText::Decode(const std::string& bytes) const {
    // Pure ASCII reads the same in both encodings and needs no conversion.
    if (IsAscii(bytes)) {
        return bytes;
    }
    if (FUtf8) {
        return IsValidUtf8(bytes) ? std::optional<std::string>(bytes) : std::nullopt;
    }
    return Gb18030ToUtf8(bytes);
}

std::optional<std::string> TIniText::Encode(const std::string& text) const {
    if (FUtf8) {
        return IsValidUtf8(text) ? std::optional<std::string>(text) : std::nullopt;
    }
    return Utf8ToGb18030(text);
}

TIniText::TLine TIniText::ParseLine(std::string bytes) const {
    TLine line;
    line.FBytes = std::move(bytes);
    const bool header = line.FBytes[SkipBlanks(line.FBytes)] == '[';
    const std::optional<std::string> text = Decode(line.FBytes);
    if (!text) {
        // A header that cannot be read must not let its keys fall into the
        // section above it.
        line.FKind = header ? TKind::BadSection : TKind::Other;
        return line;
    }
    if (header) {
        const std::size_t open = SkipBlanks(*text);
        const std::size_t close = text->find(']', open);
        if (close == std::string::npos) {
            line.FKind = TKind::BadSection;
        } else {
            line.FKind = TKind::Section;
            line.FName = text->substr(open + 1, close - open - 1);
        }
        return line;
    }
    const std::size_t equals = text->find('=');
    if (equals != std::string::npos) {
        line.FKind = TKind::Key;
        line.FName = Trim(text->substr(0, equals));
        line.FValue = Trim(text->substr(equals + 1));
    }
    return line;
}

void TIniText::Link() {
    std::ptrdiff_t owner = -1;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        TLine& line = FLines[i];
        if (line.FKind == TKind::Section) {
            owner = static_cast<std::ptrdiff_t>(i);
        } else if (line.FKind == TKind::BadSection) {
            owner = -1;
        }
        line.FOwner = owner;
    }
}

bool TIniText::InSection(const TLine& line, const std::string& section) const {
    return line.FOwner >= 0 && SameName(FLines[static_cast<std::size_t>(line.FOwner)].FName, section);
}

std::string TIniText::Bytes() const {
    std::string bytes = FByteOrderMark;
    for (const TLine& line : FLines) {
        bytes += line.FBytes;
        bytes += "\r\n";
    }
    return bytes;
}

std::optional<std::string> TIniText::Find(const std::string& section, const std::string& key) const {
    const std::string wanted = Trim(key);
    for (const TLine& line : FLines) {
        if (line.FKind == TKind::Key && InSection(line, section) && SameName(line.FName, wanted)) {
            return line.FValue;
        }
    }
    return std::nullopt;
}

TIniText::TValues TIniText::Values(const std::string& section) const {
    TValues values;
    std::unordered_set<std::string> seen;
    for (const TLine& line : FLines) {
        if (line.FKind == TKind::Key && InSection(line, section) && seen.insert(Folded(line.FName)).second) {
            values.emplace_back(line.FName, line.FValue);
        }
    }
    return values;
}

bool TIniText::HasSection(const std::string& section) const {
    return std::any_of(FLines.begin(), FLines.end(), [&](const TLine& line) {
        return line.FKind == TKind::Section && SameName(line.FName, section);
    });
}

void TIniText::Sections(TStringList& list) const {
    list.clear();
    std::unordered_set<std::string> seen;
    for (const TLine& line : FLines) {
        if (line.FKind == TKind::Section && seen.insert(Folded(line.FName)).second) {
            list.push_back(line.FName);
        }
    }
}

void TIniText::Keys(const std::string& section, TStringList& list) const {
    list.clear();
    std::unordered_set<std::string> seen;
    for (const TLine& line : FLines) {
        if (line.FKind == TKind::Key && InSection(line, section) && seen.insert(Folded(line.FName)).second) {
            list.push_back(line.FName);
        }
    }
}

bool TIniText::Set(const std::string& section, const std::string& key, const std::string& value) {
    // The header "[section]" and the line "key=value" must read back as
    // exactly these names and this value.
    if (HasLineBreak(section) || section.find(']') != std::string::npos || HasLineBreak(key) ||
        key.find('=') != std::string::npos || key[SkipBlanks(key)] == '[' || HasLineBreak(value)) {
        return false;
    }
    const std::optional<std::string> sectionBytes = Encode(section);
    const std::optional<std::string> keyBytes = Encode(key);
    const std::optional<std::string> valueBytes = Encode(value);
    if (!sectionBytes || !keyBytes || !valueBytes) {
        return false;
    }
    const std::string wanted = Trim(key);
    std::optional<std::size_t> last; // the last line of the section that is not blank
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        TLine& line = FLines[i];
        if (!InSection(line, section)) {
            continue;
        }
        if (line.FKind == TKind::Key && SameName(line.FName, wanted)) {
            // "=" never occurs inside a GB18030 or UTF-8 character: keep the
            // key as it is spelt in the file, and the blanks after "=", and
            // replace only the value.
            const std::size_t equals = line.FBytes.find('=');
            line.FBytes.erase(equals + 1 + SkipBlanks(line.FBytes.substr(equals + 1)));
            line.FBytes += *valueBytes;
            line.FValue = Trim(value);
            return true;
        }
        if (line.FKind != TKind::Other || line.FBytes.size() != SkipBlanks(line.FBytes)) {
            last = i;
        }
    }
    TLine keyLine = ParseLine(*keyBytes + "=" + *valueBytes);
    if (last) {
        FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(*last + 1), std::move(keyLine));
    } else {
        FLines.push_back(ParseLine("[" + *sectionBytes + "]"));
        FLines.push_back(std::move(keyLine));
    }
    Link();
    return true;
}

bool TIniText::Erase(const std::string& section) {
    std::vector<bool> doomed;
    for (const TLine& line : FLines) {
        doomed.push_back(InSection(line, section));
    }
    if (std::find(doomed.begin(), doomed.end(), true) == doomed.end()) {
        return false;
    }
    std::vector<TLine> kept;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        if (!doomed[i]) {
            kept.push_back(std::move(FLines[i]));
        }
    }
    FLines = std::move(kept);
    Link();
    return true;
}

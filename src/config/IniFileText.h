#pragma once

#include "StringList.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The contents of a configuration file as a list of lines, parsed from its
// bytes: GB18030, or UTF-8 when the file is valid UTF-8 holding a character
// of three or more bytes (as all Chinese is) or begins with UTF-8's
// byte-order mark; a file keeps its encoding and its
// byte-order mark when rewritten. Section and key names match without regard
// to the case of A-Z; sections that share a name count as one section. Values
// read without the blanks around them. A line that is changed is encoded
// anew, every other line keeps its bytes, so lines that cannot be decoded or
// parsed survive a rewrite unchanged.
class TIniText {
public:
    using TValues = std::vector<std::pair<std::string, std::string>>;

    explicit TIniText(const std::string& bytes);

    // The byte-order mark, if any, then every line followed by CR LF.
    std::string Bytes() const;

    std::optional<std::string> Find(const std::string& section, const std::string& key) const;
    // The keys of the section with their values, in file order; a key spelt
    // twice gives its first value, as Find does.
    TValues Values(const std::string& section) const;
    bool HasSection(const std::string& section) const;
    void Sections(TStringList& list) const;
    void Keys(const std::string& section, TStringList& list) const;

    // Replaces the key's value in place, or adds the key at the end of its
    // section, or adds the section at the end. False, and nothing changed,
    // when the names or the value cannot be written as lines of this file.
    bool Set(const std::string& section, const std::string& key, const std::string& value);
    // Removes every header of the section with all its lines; false when
    // there was none.
    bool Erase(const std::string& section);

private:
    enum class TKind {
        Other,      // blank, comment, unparseable or undecodable
        Section,    // "[name]"
        BadSection, // a header that cannot be read: its lines belong to no section
        Key,        // "name=value"
    };
    struct TLine {
        TKind FKind = TKind::Other;
        std::string FBytes;         // as on disk, without the line end
        std::string FName;          // UTF-8: the section name, or the key name without blanks around it
        std::string FValue;         // UTF-8: everything after the first "="
        std::ptrdiff_t FOwner = -1; // index of the header of the line's section, -1 for none
    };

    TLine ParseLine(std::string bytes) const;
    std::optional<std::string> Decode(const std::string& bytes) const;
    std::optional<std::string> Encode(const std::string& text) const;
    // Gives every line the header of its section.
    void Link();
    bool InSection(const TLine& line, const std::string& section) const;

    std::string FByteOrderMark;
    bool FUtf8 = false;
    std::vector<TLine> FLines;
};

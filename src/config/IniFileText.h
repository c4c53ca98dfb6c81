#pragma once

#include "StringList.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The contents of a configuration file as a list of lines, parsed from its
// GB18030 bytes. Section and key names match without regard to the case of
// A-Z; sections that share a name count as one section. A line that is
// changed is encoded anew, every other line keeps its bytes, so lines that
// cannot be decoded or parsed survive a rewrite unchanged.
class TIniText {
public:
    explicit TIniText(const std::string& bytes);

    // Every line followed by CR LF.
    std::string Bytes() const;

    std::optional<std::string> Find(const std::string& section, const std::string& key) const;
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

    static TLine ParseLine(std::string bytes);
    // Gives every line the header of its section.
    void Link();
    bool InSection(const TLine& line, const std::string& section) const;

    std::vector<TLine> FLines;
};

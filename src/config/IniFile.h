#pragma once

#include "StringList.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Raised when a write cannot reach the file: "Unable to write to <path>: <reason>".
class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The configuration file: an INI-style text file in GB18030 (or UTF-8, when
// that is how the file came) with CR LF line ends. Every operation is one
// self-contained access of the file, atomic with respect to every other
// operation of every thread and process (one lock around each operation, never
// held across two), and every write goes straight through to the disk. Section
// and key names match without regard to the case of A-Z. Values read back
// without the blanks around them, as profile files and INI readers commonly do.
class TIniFile {
public:
    // Key and value pairs of one section, in order.
    using TValues = std::vector<std::pair<std::string, std::string>>;

    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return FFileName; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void ReadSections(TStringList& list) const;
    void ReadSection(const std::string& section, TStringList& list) const;
    // Every key of the section with its value, read in one access: a record
    // saved by WriteSectionValues is seen whole, never half old, half new.
    TValues ReadSectionValues(const std::string& section) const;
    // Writes several keys of one section in one access and one replacement of
    // the file, with the rules of WriteString for each key in turn; when any
    // of them cannot be written nothing is.
    void WriteSectionValues(const std::string& section, const TValues& values);
    void EraseSection(const std::string& section);
    // Nothing is ever pending: every write already went through.
    void UpdateFile() {}

private:
    std::string FFileName;
};

// The encodings of stored values.
std::string BoolToText(bool value);       // "True" / "False"
bool TextIsTrue(const std::string& text); // on only for exactly "True"

// Raised when a stored number or date-time cannot be converted.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
int TextToInt(const std::string& text); // decimal; raises EConvertError

// Listing named records by section prefix ("project_", "job_"): the section
// names that begin with the prefix (case counts) and are longer than it, with
// the prefix removed, in file order.
void ListSectionsWithPrefix(const TIniFile& ini, const std::string& prefix, TStringList& list);

// The value of key in a section read by ReadSectionValues (names match
// without regard to the case of A-Z), or the default.
std::string ValueOf(const TIniFile::TValues& values, const std::string& key, const std::string& defaultValue);

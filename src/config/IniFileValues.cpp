// The encodings of stored values and the listing of records by section prefix.

#include "IniFile.h"

#include "AsciiCase.h"

#include <charconv>

std::string BoolToText(bool value) {
    return value ? "True" : "False";
}

bool TextIsTrue(const std::string& text) {
    return text == "True";
}

int TextToInt(const std::string& text) {
    // Blanks around the number are tolerated, anything else is not.
    const std::size_t begin = text.find_first_not_of(" \t");
    const std::size_t end = text.find_last_not_of(" \t");
    if (begin != std::string::npos) {
        const char* first = text.data() + begin;
        const char* last = text.data() + end + 1;
        if (*first == '+' && last - first > 1 && first[1] != '-') {
            ++first; // from_chars takes "-" only
        }
        int value = 0;
        const auto [stop, error] = std::from_chars(first, last, value);
        if (error == std::errc() && stop == last) {
            return value;
        }
    }
    throw EConvertError("'" + text + "' is not a valid integer value");
}

void ListSectionsWithPrefix(const TIniFile& ini, const std::string& prefix, TStringList& list) {
    ini.ReadSections(list);
    std::erase_if(list, [&](const std::string& name) {
        return name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0;
    });
    // The prefix stands at the start, so that is its first occurrence.
    for (std::string& name : list) {
        name.erase(0, prefix.size());
    }
}

std::string ValueOf(const TIniFile::TValues& values, const std::string& key,
                    const std::string& defaultValue) {
    for (const auto& [name, value] : values) {
        if (SameTextIgnoringAsciiCase(name, key)) {
            return value;
        }
    }
    return defaultValue;
}

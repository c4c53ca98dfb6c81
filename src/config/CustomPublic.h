#pragma once

#include "DateTime.h"
#include "StringList.h"

#include <cstdint>
#include <stdexcept>
#include <string>

// Raised when an existing file cannot be opened or measured.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The path delimiter of this platform.
inline constexpr char PathDelim = '/';

// Stateless services shared by the window, the job runner and the command-line
// tool; callable from any thread.
class TFmCustomPublic {
public:
    // Replaces each separator (matched without regard to A-Z case) by a line
    // break and loads the result into list, one line per item: an empty line
    // between two breaks is an empty item, a final break adds no empty item.
    static void SplitKeywords(const std::string& text, TStringList& list, const std::string& separator);
    // True when any non-empty item, lower-cased (A-Z), occurs in the lower-cased text.
    static bool ContainsAnyKeyword(const std::string& text, const TStringList* list);

    // True when the path ends with the path delimiter.
    static bool IsFolderEntry(const std::string& path);
    // The version compiled into the program.
    static std::string GetProductVersion();
};

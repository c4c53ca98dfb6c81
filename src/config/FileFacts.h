#pragma once

#include "DateTime.h"

#include <cstdint>
#include <string>

// What one stat call tells about a path (links followed): whether anything
// exists there, whether it is a folder, and a file's time and size.
struct TFileFacts {
    bool FExists = false;
    bool FIsFolder = false;
    TDateTime FModified;
    std::int64_t FSize = 0;
};

TFileFacts ReadFileFacts(const std::string& path);
bool FolderExists(const std::string& path); // false for a file
bool FileExists(const std::string& path);   // false for a folder

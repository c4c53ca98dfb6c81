#pragma once

#include "DateTime.h"

#include <cstdint>
#include <string>

// What one stat call tells about a path (links followed): whether anything
// exists there, whether it is a folder, and a file's time and size. Only a
// path that is not there (ENOENT, ENOTDIR) counts as missing; any other
// failure (no permission, an I/O error, a path too long) leaves FExists false
// and FError set, because nothing is known about the path.
struct TFileFacts {
    bool FExists = false;
    bool FIsFolder = false;
    TDateTime FModified;
    std::int64_t FSize = 0;
    int FError = 0; // the errno of a look-up that failed for another reason than absence
};

TFileFacts ReadFileFacts(const std::string& path);
bool FolderExists(const std::string& path); // false for a file
bool FileExists(const std::string& path);   // false for a folder

// True for the errors that say a path does not exist, as opposed to errors
// that say it could not be examined.
bool MeansAbsent(int error);

// The size of a file by opening it for reading (without waiting on pipes):
// 0 on success, else the errno of the open or the fstat.
int ReadFileSizeByOpening(const std::string& path, std::int64_t& size);

// The system's message for an errno value ("Permission denied").
std::string ErrorText(int error);

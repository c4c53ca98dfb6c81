#include "FileFacts.h"

#include <sys/stat.h>

TFileFacts ReadFileFacts(const std::string& path) {
    TFileFacts facts;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return facts;
    }
    facts.FExists = true;
    facts.FIsFolder = S_ISDIR(st.st_mode);
    facts.FModified = LocalDateTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    facts.FSize = facts.FIsFolder ? 0 : static_cast<std::int64_t>(st.st_size);
    return facts;
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

#pragma once

#include "sftp/SftpClient.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// Listings of remote folders a volume read, so that the facts of the entries
// of one folder come from one listing (its replies carry every entry's
// attributes) rather than one request each. Bounded: past a number of entries
// it starts again empty. Whoever changes the folders forgets them all.
class TSftpListings {
public:
    struct TFolder {
        bool FExists = false; // false: no such folder
        std::unordered_map<std::string, TSftpAttrs> FEntries;
    };

    std::shared_ptr<const TFolder> Find(const std::string& path) const;
    void Store(const std::string& path, std::shared_ptr<const TFolder> folder);
    void Forget();

private:
    mutable std::mutex FMutex;
    std::unordered_map<std::string, std::shared_ptr<const TFolder>> FFolders;
    std::size_t FEntryCount = 0;
};

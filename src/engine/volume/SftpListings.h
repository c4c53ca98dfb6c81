#pragma once

#include "sftp/SftpClient.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// Listings of remote folders a volume read, so that the facts of the entries
// of one folder come from one listing (its replies carry every entry's
// attributes) rather than one request each. Bounded: past a number of entries
// it starts again empty. Whoever changes the folders forgets them all, and so
// does a new connection (what was listed may have changed meanwhile).
class TSftpListings {
public:
    struct TFolder {
        bool FExists = false; // false: no such folder
        std::unordered_map<std::string, TSftpAttrs> FEntries;
    };

    // Forgets everything when client is not the connection the listings were read on.
    void Use(const std::shared_ptr<TSftpClient>& client);
    // What Store takes as its "since": read before the listing is asked.
    std::uint64_t Generation() const;
    // Null unless listed on client since the last Forget.
    std::shared_ptr<const TFolder> Find(const std::string& path, const TSftpClient& client) const;
    // Kept only when nothing was forgotten since (a change may have raced the
    // listing) and client is still the one in use.
    void Store(const std::string& path, std::shared_ptr<const TFolder> folder, const TSftpClient* client,
               std::uint64_t since);
    void Forget();
    // Whether reading ahead may add more: well below the bound, so that what
    // is read ahead does not push out what a walk is about to use.
    bool HasRoom() const;

    // Forgets the listings when it ends: a change of the volume's folders lives in its scope.
    class TChange {
    public:
        explicit TChange(TSftpListings& listings) : FListings(listings) {}
        ~TChange() { FListings.Forget(); }
        TChange(const TChange&) = delete;
        TChange& operator=(const TChange&) = delete;

    private:
        TSftpListings& FListings;
    };

private:
    void ForgetLocked();
    bool CurrentLocked(const TSftpClient* client) const;

    mutable std::mutex FMutex;
    std::unordered_map<std::string, std::shared_ptr<const TFolder>> FFolders;
    std::size_t FEntryCount = 0;
    std::uint64_t FGeneration = 0;
    std::weak_ptr<TSftpClient> FClient;
};

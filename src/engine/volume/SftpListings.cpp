#include "SftpListings.h"

namespace {

// About 20 MiB of names and attributes at most.
constexpr std::size_t MostEntriesKept = 200'000;

} // namespace

void TSftpListings::Use(const std::shared_ptr<TSftpClient>& client) {
    const std::lock_guard lock(FMutex);
    if (FClient.lock() != client) {
        ForgetLocked();
        FClient = client;
    }
}

std::uint64_t TSftpListings::Generation() const {
    const std::lock_guard lock(FMutex);
    return FGeneration;
}

std::shared_ptr<const TSftpListings::TFolder> TSftpListings::Find(const std::string& path,
                                                                  const TSftpClient& client) const {
    const std::lock_guard lock(FMutex);
    if (!CurrentLocked(&client)) {
        return nullptr;
    }
    const auto found = FFolders.find(path);
    return found == FFolders.end() ? nullptr : found->second;
}

void TSftpListings::Store(const std::string& path, std::shared_ptr<const TFolder> folder,
                          const TSftpClient* client, std::uint64_t since) {
    const std::lock_guard lock(FMutex);
    if (since != FGeneration || !CurrentLocked(client)) {
        return;
    }
    if (FEntryCount + folder->FEntries.size() > MostEntriesKept) {
        FFolders.clear();
        FEntryCount = 0;
    }
    FEntryCount += folder->FEntries.size();
    FFolders[path] = std::move(folder);
}

bool TSftpListings::HasRoom() const {
    const std::lock_guard lock(FMutex);
    return FEntryCount < MostEntriesKept / 2;
}

void TSftpListings::Forget() {
    const std::lock_guard lock(FMutex);
    ForgetLocked();
}

void TSftpListings::ForgetLocked() {
    FFolders.clear();
    FEntryCount = 0;
    ++FGeneration;
}

bool TSftpListings::CurrentLocked(const TSftpClient* client) const {
    // The one in use is alive while locked here, so the same address is the same client.
    return FClient.lock().get() == client;
}

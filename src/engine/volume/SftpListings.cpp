#include "SftpListings.h"

namespace {

// About 20 MiB of names and attributes at most.
constexpr std::size_t MostEntriesKept = 200'000;

} // namespace

std::shared_ptr<const TSftpListings::TFolder> TSftpListings::Find(const std::string& path) const {
    const std::lock_guard lock(FMutex);
    const auto found = FFolders.find(path);
    return found == FFolders.end() ? nullptr : found->second;
}

void TSftpListings::Store(const std::string& path, std::shared_ptr<const TFolder> folder) {
    const std::lock_guard lock(FMutex);
    if (FEntryCount + folder->FEntries.size() > MostEntriesKept) {
        FFolders.clear();
        FEntryCount = 0;
    }
    FEntryCount += folder->FEntries.size();
    FFolders[path] = std::move(folder);
}

void TSftpListings::Forget() {
    const std::lock_guard lock(FMutex);
    FFolders.clear();
    FEntryCount = 0;
}

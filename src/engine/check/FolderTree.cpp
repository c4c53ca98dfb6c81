#include "FolderTree.h"

#include "config/CustomPublic.h"

#include <utility>
#include <vector>

std::int64_t MoveTimeOf(std::int64_t modifiedNs, bool wholeSeconds) {
    const std::int64_t unit = wholeSeconds ? 1'000'000'000 : 1'000'000;
    return modifiedNs >= 0 ? modifiedNs / unit : -((-modifiedNs + unit - 1) / unit);
}

bool ListFolderTree(TVolume& volume, const std::string& folder, bool wholeSeconds, TFolderTree& tree,
                    const TStopTest& stopRequested) {
    std::vector<std::string> pending{""};
    TFolderListing listing;
    while (!pending.empty()) {
        if (StopRequestedBy(stopRequested)) {
            return false;
        }
        const std::string relative = std::move(pending.back());
        pending.pop_back();
        std::string path = folder;
        if (!relative.empty()) {
            path += PathDelim;
            path.append(relative, 0, relative.size() - 1);
        }
        if (volume.ListFolder(nullptr, path, true, false, listing) != 0) {
            return false;
        }
        for (const TListedEntry& entry : listing.FEntries) {
            if (entry.FError != 0) {
                return false;
            }
            std::string name = relative + std::string(listing.NameOf(entry));
            if (entry.FKind == TListedKind::Folder) {
                name += PathDelim;
                pending.push_back(name);
                tree.emplace(std::move(name), TTreeEntry{true, 0, 0});
            } else if (entry.FKind == TListedKind::File) {
                tree.emplace(std::move(name),
                             TTreeEntry{false, entry.FSize, MoveTimeOf(entry.FModifiedNs, wholeSeconds)});
            } else {
                return false;
            }
        }
    }
    return true;
}

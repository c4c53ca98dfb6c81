#include "VersionPrune.h"

#include "VersionList.h"
#include "Versions.h"
#include "config/CustomPublic.h"
#include "engine/volume/Volume.h"

#include <vector>

namespace {

constexpr std::int64_t MillisecondsPerDay = 24 * 60 * 60 * 1000;

// Removes the empty folders below folder, deepest first, and the leftovers of
// killed copies; true when the folder is empty afterwards.
bool RemoveEmptyFolders(TVolume& volume, const TVolumeFolder& folder) {
    volume.SweepTemporaries(folder);
    TFolderListing listing;
    if (volume.ListFolder(&folder, "", false, false, listing) != 0) {
        return false;
    }
    std::vector<std::string> folders;
    bool empty = true;
    for (const TListedEntry& entry : listing.FEntries) {
        if (entry.FKind == TListedKind::Folder && entry.FError == 0) {
            folders.emplace_back(listing.NameOf(entry));
        } else {
            empty = false;
        }
    }
    for (const std::string& name : folders) {
        int error = 0;
        const TFolderRef child = volume.OpenFolderAt(&folder, name, error);
        if (child && RemoveEmptyFolders(volume, *child) && volume.RemoveFolder(folder, name) == 0) {
            continue;
        }
        empty = false;
    }
    return empty;
}

} // namespace

void PruneVersions(const std::string& versionRoot, int keepDays, TDateTime now) {
    if (keepDays <= 0) {
        return;
    }
    const std::shared_ptr<TVolume> volume = OpenVolume(WithTrailingDelimiter(versionRoot));
    int error = 0;
    const TFolderRef root = volume->OpenFolderAt(nullptr, "", error);
    if (!root) {
        return;
    }
    const TDateTime cutoff{now.FMilliseconds - keepDays * MillisecondsPerDay};
    const std::vector<TVersionFile> versions = ListVersions(versionRoot);
    for (std::size_t i = 0; i < versions.size(); ++i) {
        const TVersionFile& version = versions[i];
        // Sorted by path, then run: the last of a path is its newest.
        const bool newest = i + 1 == versions.size() || versions[i + 1].FPath != version.FPath;
        if (newest || !(version.FStart < cutoff)) {
            continue;
        }
        std::string name;
        const TFolderRef folder = volume->OpenParent(version.FRunFolder + PathDelim + version.FPath,
                                                     TFolderWalk::Existing, name, error);
        if (folder) {
            volume->RemoveFile(*folder, name);
        }
    }
    // Every run folder, also those that hold no file at all.
    TFolderListing runs;
    if (volume->ListFolder(root.get(), "", false, false, runs) != 0) {
        return;
    }
    for (const TListedEntry& entry : runs.FEntries) {
        const std::string run(runs.NameOf(entry));
        if (!ParseRunFolderName(run)) {
            continue;
        }
        const TFolderRef runFolder = volume->OpenFolderAt(root.get(), run, error);
        if (runFolder && RemoveEmptyFolders(*volume, *runFolder)) {
            volume->RemoveFolder(*root, run);
        }
    }
}

#include "FolderIndexFacts.h"

#include "engine/project/ParallelFor.h"
#include "engine/volume/Volume.h"

#include <memory>
#include <string_view>

void ReadFileFactsOfAll(const TStringList& paths, std::vector<TFileFacts>& facts,
                        const TStopTest& stopRequested) {
    facts.assign(paths.size(), TFileFacts{});
    // The paths are full ones: looked up below the root folder.
    const std::shared_ptr<TVolume> volume = OpenVolume("/");
    ParallelFor(
        paths.size(),
        [&](std::size_t i) {
            const std::string_view path = paths[i];
            facts[i] = volume->Facts(path.substr(path.starts_with('/') ? 1 : 0), true);
        },
        stopRequested);
}

void BuildFolderIndexWithFacts(const std::string& root, const std::string& includeTypes,
                               const std::string& excludeTypes, const std::string& includePaths,
                               const std::string& excludePaths, TStringList& index,
                               std::vector<TFileFacts>& facts, bool includeFolders, bool targetPass,
                               bool recurse, const TStopTest& stopRequested) {
    facts.clear();
    BuildFolderIndex(root, includeTypes, excludeTypes, includePaths, excludePaths, index, includeFolders,
                     targetPass, recurse, stopRequested);
    ReadFileFactsOfAll(index, facts, stopRequested);
}

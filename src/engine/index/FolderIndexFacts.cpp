#include "FolderIndexFacts.h"

#include "engine/project/ParallelFor.h"

void ReadFileFactsOfAll(const TStringList& paths, std::vector<TFileFacts>& facts,
                        const TStopTest& stopRequested) {
    facts.assign(paths.size(), TFileFacts{});
    ParallelFor(
        paths.size(), [&](std::size_t i) { facts[i] = ReadFileFacts(paths[i]); }, stopRequested);
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

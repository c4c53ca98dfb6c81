#pragma once

#include "FolderIndex.h"
#include "config/FileFacts.h"

#include <vector>

// Reads ReadFileFacts of every path into facts (facts[i] belongs to paths[i]),
// on up to four threads for long lists: looking files up one after the other
// costs far more than walking the folders. The stop test is called on the
// calling thread only, between blocks of paths; once it reports a stop, the
// facts not read yet keep their defaults (FExists false).
void ReadFileFactsOfAll(const TStringList& paths, std::vector<TFileFacts>& facts,
                        const TStopTest& stopRequested = {});

// BuildFolderIndex followed by ReadFileFactsOfAll on the index: the entries
// with the time, size and kind of each, for a check that needs them all.
void BuildFolderIndexWithFacts(const std::string& root, const std::string& includeTypes,
                               const std::string& excludeTypes, const std::string& includePaths,
                               const std::string& excludePaths, TStringList& index,
                               std::vector<TFileFacts>& facts, bool includeFolders, bool targetPass,
                               bool recurse, const TStopTest& stopRequested = {});

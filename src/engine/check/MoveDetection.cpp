#include "MoveDetection.h"

#include "ContentCompare.h"
#include "config/CustomPublic.h"
#include "engine/project/ParallelFor.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace {

bool IsFolderLine(std::string_view line) {
    return !line.empty() && line.back() == PathDelim;
}

std::string_view BaseName(std::string_view line) {
    const std::size_t slash = line.rfind(PathDelim);
    return slash == std::string_view::npos ? line : line.substr(slash + 1);
}

std::int64_t Milliseconds(std::int64_t ns) {
    return ns >= 0 ? ns / 1'000'000 : -((-ns + 999'999) / 1'000'000);
}

// What identifies a file for a move: its name, size and time.
std::string FactsKey(std::string_view name, const TEntryFacts& facts) {
    std::string key(name);
    key += '\0';
    key += std::to_string(facts.FSize);
    key += '\0';
    key += std::to_string(Milliseconds(facts.FModifiedNs));
    return key;
}

// A regular file of at least one byte: empty files say nothing about where they came from.
bool IsTellingFile(const TEntryFacts& facts) {
    return facts.FExists && facts.FIsRegular && !facts.FIsLink && facts.FSize >= 1;
}

std::vector<std::string_view> Components(std::string_view line) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start < line.size()) {
        std::size_t end = line.find(PathDelim, start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        parts.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Join(const std::vector<std::string_view>& parts, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            path += PathDelim;
        }
        path += parts[i];
    }
    return path;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

struct TPair {
    std::size_t FNew;    // index into the new lines
    std::size_t FDelete; // index into the delete lines
};

// A folder that may have been renamed, without trailing delimiters.
struct TFolderCandidate {
    std::string FFrom, FTo;
    std::size_t FDepth = 0;
    bool operator<(const TFolderCandidate& other) const {
        return std::tie(FDepth, FFrom, FTo) < std::tie(other.FDepth, other.FFrom, other.FTo);
    }
};

struct TTreeEntry {
    bool FFolder = false;
    std::int64_t FSize = 0;
    std::int64_t FModifiedMs = 0;
    bool operator==(const TTreeEntry&) const = default;
};
using TTree = std::map<std::string, TTreeEntry>; // relative below the folder; folders end with the delimiter

// Lists the tree below folder; false when something in it cannot be listed
// or is neither a file nor a folder.
bool ListTree(TVolume& volume, const std::string& folder, TTree& tree) {
    std::vector<std::string> pending{""};
    TFolderListing listing;
    while (!pending.empty()) {
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
                             TTreeEntry{false, entry.FSize, Milliseconds(entry.FModifiedNs)});
            } else {
                return false;
            }
        }
    }
    return true;
}

class TMoveFinder {
public:
    TMoveFinder(TVolume& source, TVolume& target, const TStringList& newLines, const TStringList& deleteLines,
                const TMoveRules& rules, const TStopTest& stop)
        : FSource(source), FTarget(target), FNewLines(newLines), FDeleteLines(deleteLines), FRules(rules),
          FStop(stop) {}

    bool Run(TMovePlan& plan) {
        std::vector<TPair> pairs;
        if (!FindFilePairs(pairs)) {
            return false;
        }
        if (pairs.empty()) {
            return true;
        }
        for (const std::string& line : FNewLines) {
            FNewSet.insert(line);
        }
        for (const std::string& line : FDeleteLines) {
            FDeleteSet.insert(line);
        }
        if (!FindFolderRenames(pairs, plan)) {
            return false;
        }
        return AddFileMoves(pairs, plan);
    }

private:
    // The unique pairs of a new and a deleted file with the same facts.
    bool FindFilePairs(std::vector<TPair>& pairs) {
        std::unordered_map<std::string_view, int> deletedNames;
        for (const std::string& line : FDeleteLines) {
            if (!IsFolderLine(line)) {
                deletedNames.emplace(BaseName(line), 0);
            }
        }
        if (deletedNames.empty()) {
            return true;
        }
        std::vector<std::size_t> newCandidates, deleteCandidates;
        for (std::size_t i = 0; i < FNewLines.size(); ++i) {
            if (!IsFolderLine(FNewLines[i])) {
                if (const auto found = deletedNames.find(BaseName(FNewLines[i]));
                    found != deletedNames.end()) {
                    newCandidates.push_back(i);
                    found->second = 1;
                }
            }
        }
        if (newCandidates.empty()) {
            return true;
        }
        for (std::size_t i = 0; i < FDeleteLines.size(); ++i) {
            if (!IsFolderLine(FDeleteLines[i])) {
                if (const auto found = deletedNames.find(BaseName(FDeleteLines[i]));
                    found != deletedNames.end() && found->second == 1) {
                    deleteCandidates.push_back(i);
                }
            }
        }
        // The look-ups are what takes the time: on every core.
        std::vector<TEntryFacts> newFacts(newCandidates.size()), deleteFacts(deleteCandidates.size());
        const std::size_t total = newCandidates.size() + deleteCandidates.size();
        if (!ParallelFor(
                total,
                [&](std::size_t k) {
                    if (k < newCandidates.size()) {
                        newFacts[k] = FSource.Facts(FNewLines[newCandidates[k]], false);
                    } else {
                        const std::size_t d = k - newCandidates.size();
                        deleteFacts[d] = FTarget.Facts(FDeleteLines[deleteCandidates[d]], false);
                    }
                },
                FStop)) {
            return false;
        }
        // Per set of facts: how many new and deleted files have it, and which.
        struct TSides {
            int FNewCount = 0, FDeleteCount = 0;
            std::size_t FNew = 0, FDelete = 0;
        };
        std::unordered_map<std::string, TSides> sides;
        for (std::size_t k = 0; k < newCandidates.size(); ++k) {
            if (IsTellingFile(newFacts[k])) {
                TSides& s = sides[FactsKey(BaseName(FNewLines[newCandidates[k]]), newFacts[k])];
                ++s.FNewCount;
                s.FNew = newCandidates[k];
            }
        }
        for (std::size_t k = 0; k < deleteCandidates.size(); ++k) {
            if (IsTellingFile(deleteFacts[k])) {
                const auto found =
                    sides.find(FactsKey(BaseName(FDeleteLines[deleteCandidates[k]]), deleteFacts[k]));
                if (found != sides.end()) {
                    ++found->second.FDeleteCount;
                    found->second.FDelete = deleteCandidates[k];
                }
            }
        }
        for (const auto& [key, s] : sides) {
            if (s.FNewCount == 1 && s.FDeleteCount == 1) {
                pairs.push_back({s.FNew, s.FDelete});
            }
        }
        std::sort(pairs.begin(), pairs.end(), [](const TPair& a, const TPair& b) { return a.FNew < b.FNew; });
        return true;
    }

    // The folders each pair may have been moved with, from the outermost
    // (where the two paths' common ending begins) to the file's own folder.
    static void AddCandidates(std::string_view from, std::string_view to,
                              std::set<TFolderCandidate>& candidates) {
        const std::vector<std::string_view> fromParts = Components(from);
        const std::vector<std::string_view> toParts = Components(to);
        std::size_t common = 0;
        while (common < fromParts.size() && common < toParts.size() &&
               fromParts[fromParts.size() - 1 - common] == toParts[toParts.size() - 1 - common]) {
            ++common;
        }
        // common names at the end, the file's own included; each folder keeps at least one name.
        const std::size_t most = std::min({common, fromParts.size() - 1, toParts.size() - 1});
        for (std::size_t ending = 1; ending <= most; ++ending) {
            const std::size_t fromDepth = fromParts.size() - ending;
            candidates.insert(
                {Join(fromParts, fromDepth), Join(toParts, toParts.size() - ending), fromDepth});
        }
    }

    bool Inside(const std::string& path, const std::vector<std::string>& folders) const {
        return std::any_of(folders.begin(), folders.end(),
                           [&](const std::string& folder) { return StartsWith(path, folder); });
    }

    bool FindFolderRenames(const std::vector<TPair>& pairs, TMovePlan& plan) {
        std::set<TFolderCandidate> candidates;
        for (const TPair& pair : pairs) {
            AddCandidates(FDeleteLines[pair.FDelete], FNewLines[pair.FNew], candidates);
        }
        for (const TFolderCandidate& candidate : candidates) {
            if (StopRequestedBy(FStop)) {
                return false;
            }
            const std::string from = candidate.FFrom + PathDelim;
            const std::string to = candidate.FTo + PathDelim;
            if (Inside(from, FRenamedFrom) || Inside(to, FRenamedTo)) {
                continue;
            }
            TMove move;
            if (IsFolderRename(candidate, move)) {
                FRenamedFrom.push_back(from);
                FRenamedTo.push_back(to);
                plan.FMoves.push_back(std::move(move));
            }
        }
        return true;
    }

    bool IsFolderRename(const TFolderCandidate& candidate, TMove& move) {
        const std::string& from = candidate.FFrom;
        const std::string& to = candidate.FTo;
        // The old folder is gone from the source, the new one is not yet in the target.
        const TEntryFacts fromInSource = FSource.Facts(from, false);
        const TEntryFacts toInTarget = FTarget.Facts(to, false);
        if (fromInSource.FExists || fromInSource.FError != 0 || toInTarget.FExists ||
            toInTarget.FError != 0) {
            return false;
        }
        const TEntryFacts fromFacts = FTarget.Facts(from, false);
        const TEntryFacts toFacts = FSource.Facts(to, false);
        if (!fromFacts.FIsFolder || fromFacts.FIsLink || !toFacts.FIsFolder || toFacts.FIsLink) {
            return false;
        }
        TTree toTree, fromTree;
        if (!ListTree(FSource, to, toTree) || !ListTree(FTarget, from, fromTree)) {
            return false;
        }
        // Without folder lines the folders of the two trees take no part, empty ones included.
        if (!FRules.FIncludeFolders) {
            std::erase_if(toTree, [](const auto& entry) { return entry.second.FFolder; });
            std::erase_if(fromTree, [](const auto& entry) { return entry.second.FFolder; });
        }
        if (fromTree != toTree) {
            return false;
        }
        const std::string fromFolder = from + PathDelim;
        const std::string toFolder = to + PathDelim;
        if (FRules.FIncludeFolders) {
            if (!FDeleteSet.contains(fromFolder) || !FNewSet.contains(toFolder)) {
                return false;
            }
            move.FDeleteLines.push_back(fromFolder);
            move.FNewLines.push_back(toFolder);
        }
        std::vector<std::string> files;
        for (const auto& [relative, entry] : toTree) {
            if (entry.FFolder && !FRules.FIncludeFolders) {
                continue;
            }
            std::string newLine = toFolder + relative;
            std::string deleteLine = fromFolder + relative;
            if (!FNewSet.contains(newLine) || !FDeleteSet.contains(deleteLine)) {
                return false; // not all of it is to be moved
            }
            if (!entry.FFolder) {
                files.push_back(relative);
            }
            move.FNewLines.push_back(std::move(newLine));
            move.FDeleteLines.push_back(std::move(deleteLine));
        }
        if (FRules.FCompareContent &&
            !SameContents(files.size(), [&](std::size_t k, std::string& s, std::string& t) {
                s = toFolder + files[k];
                t = fromFolder + files[k];
            })) {
            return false;
        }
        move.FFrom = fromFolder;
        move.FTo = toFolder;
        return true;
    }

    bool SameContents(std::size_t count, const TPairPaths& pathsOf) {
        std::vector<TContentResult> results;
        if (!CompareFilePairsAt(FSource, FTarget, count, pathsOf, results, FStop)) {
            return false;
        }
        return std::all_of(results.begin(), results.end(),
                           [](const TContentResult& r) { return r.FError == 0 && !r.FDiffers; });
    }

    bool AddFileMoves(const std::vector<TPair>& pairs, TMovePlan& plan) {
        std::vector<TPair> left;
        for (const TPair& pair : pairs) {
            if (!Inside(FDeleteLines[pair.FDelete], FRenamedFrom) &&
                !Inside(FNewLines[pair.FNew], FRenamedTo)) {
                left.push_back(pair);
            }
        }
        std::vector<TContentResult> results;
        if (FRules.FCompareContent && !CompareFilePairsAt(
                                          FSource, FTarget, left.size(),
                                          [&](std::size_t k, std::string& s, std::string& t) {
                                              s = FNewLines[left[k].FNew];
                                              t = FDeleteLines[left[k].FDelete];
                                          },
                                          results, FStop)) {
            return false;
        }
        for (std::size_t k = 0; k < left.size(); ++k) {
            if (FRules.FCompareContent && (results[k].FError != 0 || results[k].FDiffers)) {
                continue;
            }
            TMove move;
            move.FFrom = FDeleteLines[left[k].FDelete];
            move.FTo = FNewLines[left[k].FNew];
            move.FNewLines.push_back(move.FTo);
            move.FDeleteLines.push_back(move.FFrom);
            plan.FMoves.push_back(std::move(move));
        }
        return true;
    }

    TVolume& FSource;
    TVolume& FTarget;
    const TStringList& FNewLines;
    const TStringList& FDeleteLines;
    const TMoveRules& FRules;
    const TStopTest& FStop;
    std::unordered_set<std::string_view> FNewSet, FDeleteSet;
    // The folders renamed so far, with trailing delimiters.
    std::vector<std::string> FRenamedFrom, FRenamedTo;
};

} // namespace

TMovePlan FindMoves(TVolume& source, TVolume& target, const TStringList& newLines,
                    const TStringList& deleteLines, const TMoveRules& rules, const TStopTest& stopRequested) {
    TMovePlan plan;
    if (!TMoveFinder(source, target, newLines, deleteLines, rules, stopRequested).Run(plan)) {
        plan.FMoves.clear();
    }
    return plan;
}

bool DetectsMoves(const TProjectRecord& project) {
    return project.FDetectMoves && project.FFileDelete && !project.FUpdateToOther;
}

TMovePlan FindProjectMoves(const TProjectRecord& project, TVolume& source, TVolume& target,
                           const TStringList& newLines, const TStringList& deleteLines,
                           const TStopTest& stopRequested) {
    if (!DetectsMoves(project)) {
        return {};
    }
    TMoveRules rules;
    rules.FCompareContent = project.FCompareContent;
    rules.FIncludeFolders = project.FIncludeBlankFolder;
    return FindMoves(source, target, newLines, deleteLines, rules, stopRequested);
}

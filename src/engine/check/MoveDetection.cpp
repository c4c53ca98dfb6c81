#include "MoveDetection.h"

#include "ContentCompare.h"
#include "FolderTree.h"
#include "config/CustomPublic.h"
#include "engine/project/ParallelFor.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {

bool IsFolderLine(std::string_view line) {
    return !line.empty() && line.back() == PathDelim;
}

std::string_view BaseName(std::string_view line) {
    const std::size_t slash = line.rfind(PathDelim);
    return slash == std::string_view::npos ? line : line.substr(slash + 1);
}

std::string_view ParentOf(std::string_view line) {
    const std::size_t slash = line.rfind(PathDelim);
    return slash == std::string_view::npos ? std::string_view() : line.substr(0, slash);
}

// What identifies a file for a move: its name, size and time.
std::string FactsKey(std::string_view name, std::int64_t size, std::int64_t time) {
    std::string key(name);
    key += '\0';
    key += std::to_string(size);
    key += '\0';
    key += std::to_string(time);
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
using TCandidates = std::set<TFolderCandidate>;

// The folders a file moved from one place to the other may have been moved
// with, from the outermost (where the two paths' common ending begins) to the
// file's own folder. They depend on the two folders alone.
void AddCandidates(std::string_view from, std::string_view to, TCandidates& candidates) {
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
        candidates.insert({Join(fromParts, fromDepth), Join(toParts, toParts.size() - ending), fromDepth});
    }
}

// A set of folders (with trailing delimiters) and whether a line lies in one.
class TFolderSet {
public:
    void Add(const std::string& folder) { FFolders.insert(folder); }
    bool Holds(std::string_view line) const {
        if (FFolders.empty()) {
            return false;
        }
        for (std::size_t slash = line.find(PathDelim); slash != std::string_view::npos;
             slash = line.find(PathDelim, slash + 1)) {
            if (FFolders.contains(line.substr(0, slash + 1))) {
                return true;
            }
        }
        return false;
    }

private:
    struct TViewHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_set<std::string, TViewHash, std::equal_to<>> FFolders;
};

// How many new and deleted files carry a name, and (where one does) which.
struct TNameSides {
    int FNew = 0, FDelete = 0;
    std::size_t FNewIndex = 0, FDeleteIndex = 0;
};

class TMoveFinder {
public:
    TMoveFinder(TVolume& source, TVolume& target, const TStringList& newLines, const TStringList& deleteLines,
                const TMoveRules& rules, const TStopTest& stop)
        : FSource(source), FTarget(target), FNewLines(newLines), FDeleteLines(deleteLines), FRules(rules),
          FStop(stop) {}

    bool Run(TMovePlan& plan) {
        CountNames();
        if (FNames.empty()) {
            return true;
        }
        FWholeSeconds = FSource.FileSystem().FTimeStepMs >= 1000 || FTarget.FileSystem().FTimeStepMs >= 1000;
        FNewSet.reserve(FNewLines.size());
        FNewSet.insert(FNewLines.begin(), FNewLines.end());
        FDeleteSet.reserve(FDeleteLines.size());
        FDeleteSet.insert(FDeleteLines.begin(), FDeleteLines.end());
        // Renamed folders are found by their files' names first, so that their
        // files are listed once with their folders rather than looked up one by
        // one; the files left are then paired by their facts.
        if (!FindFolderRenames(NameCandidates(), true)) {
            return false;
        }
        std::vector<TPair> pairs;
        if (!FindFilePairs(pairs)) {
            return false;
        }
        TCandidates candidates;
        for (const TPair& pair : pairs) {
            AddCandidates(FDeleteLines[pair.FDelete], FNewLines[pair.FNew], candidates);
        }
        if (!FindFolderRenames(candidates, false)) {
            return false;
        }
        // Outer folders before inner ones, whichever way they were found.
        std::sort(FFolderMoves.begin(), FFolderMoves.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [candidate, move] : FFolderMoves) {
            plan.FMoves.push_back(std::move(move));
        }
        return AddFileMoves(pairs, plan);
    }

private:
    // The names of files both new and deleted somewhere: only those can move.
    void CountNames() {
        for (std::size_t i = 0; i < FDeleteLines.size(); ++i) {
            if (!IsFolderLine(FDeleteLines[i])) {
                TNameSides& sides = FNames[BaseName(FDeleteLines[i])];
                ++sides.FDelete;
                sides.FDeleteIndex = i;
            }
        }
        for (std::size_t i = 0; i < FNewLines.size(); ++i) {
            if (!IsFolderLine(FNewLines[i])) {
                if (const auto found = FNames.find(BaseName(FNewLines[i])); found != FNames.end()) {
                    ++found->second.FNew;
                    found->second.FNewIndex = i;
                }
            }
        }
        std::erase_if(FNames, [](const auto& entry) { return entry.second.FNew == 0; });
    }

    bool IsUniqueName(std::string_view name) const {
        const auto found = FNames.find(name);
        return found != FNames.end() && found->second.FNew == 1 && found->second.FDelete == 1;
    }

    // The folders that a file of a unique name may have moved with. Pairs of
    // the same two folders give the same candidates: one of them is enough.
    TCandidates NameCandidates() const {
        TCandidates candidates;
        std::unordered_set<std::string> folderPairs;
        for (const auto& [name, sides] : FNames) {
            if (sides.FNew != 1 || sides.FDelete != 1) {
                continue;
            }
            const std::string& from = FDeleteLines[sides.FDeleteIndex];
            const std::string& to = FNewLines[sides.FNewIndex];
            std::string folders(ParentOf(from));
            folders += '\0';
            folders += ParentOf(to);
            if (folderPairs.insert(std::move(folders)).second) {
                AddCandidates(from, to, candidates);
            }
        }
        return candidates;
    }

    // The unique pairs of a new and a deleted file with the same facts, among
    // the files outside the folders renamed so far. The files of those count
    // too, by the facts their listing gave: they may make a pair ambiguous.
    bool FindFilePairs(std::vector<TPair>& pairs) {
        std::vector<std::size_t> newCandidates, deleteCandidates;
        for (std::size_t i = 0; i < FNewLines.size(); ++i) {
            const std::string& line = FNewLines[i];
            if (!IsFolderLine(line) && FNames.contains(BaseName(line)) && !FRenamedTo.Holds(line)) {
                newCandidates.push_back(i);
            }
        }
        if (newCandidates.empty()) {
            return true;
        }
        for (std::size_t i = 0; i < FDeleteLines.size(); ++i) {
            const std::string& line = FDeleteLines[i];
            if (!IsFolderLine(line) && FNames.contains(BaseName(line)) && !FRenamedFrom.Holds(line)) {
                deleteCandidates.push_back(i);
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
        constexpr std::size_t Renamed = static_cast<std::size_t>(-1);
        struct TSides {
            int FNewCount = 0, FDeleteCount = 0;
            std::size_t FNew = 0, FDelete = 0;
        };
        std::unordered_map<std::string, TSides> sides;
        const auto keyOf = [&](std::string_view line, const TEntryFacts& facts) {
            return FactsKey(BaseName(line), facts.FSize, MoveTimeOf(facts.FModifiedNs, FWholeSeconds));
        };
        for (std::size_t k = 0; k < newCandidates.size(); ++k) {
            if (IsTellingFile(newFacts[k])) {
                TSides& s = sides[keyOf(FNewLines[newCandidates[k]], newFacts[k])];
                ++s.FNewCount;
                s.FNew = newCandidates[k];
            }
        }
        for (const TFolderTree& tree : FRenamedTrees) {
            for (const auto& [relative, entry] : tree) {
                if (!entry.FFolder && entry.FSize >= 1) {
                    const auto found = sides.find(FactsKey(BaseName(relative), entry.FSize, entry.FModified));
                    if (found != sides.end()) {
                        ++found->second.FNewCount;
                        ++found->second.FDeleteCount;
                        found->second.FNew = found->second.FDelete = Renamed;
                    }
                }
            }
        }
        for (std::size_t k = 0; k < deleteCandidates.size(); ++k) {
            if (IsTellingFile(deleteFacts[k])) {
                const auto found = sides.find(keyOf(FDeleteLines[deleteCandidates[k]], deleteFacts[k]));
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

    // Examines the candidates from the outermost in. By names, a folder is
    // taken only where one of its files would pair by its facts too: one of a
    // unique name and at least one byte.
    bool FindFolderRenames(const TCandidates& candidates, bool byNames) {
        for (const TFolderCandidate& candidate : candidates) {
            if (StopRequestedBy(FStop)) {
                return false;
            }
            const std::string from = candidate.FFrom + PathDelim;
            const std::string to = candidate.FTo + PathDelim;
            if (FRenamedFrom.Holds(from) || FRenamedTo.Holds(to) || FRefused.contains(candidate)) {
                continue;
            }
            TMove move;
            TFolderTree tree;
            if (!IsFolderRename(candidate, move, tree)) {
                FRefused.insert(candidate);
                continue;
            }
            if (byNames && !HoldsTellingUniqueName(tree)) {
                continue; // left to the pairs by facts
            }
            FRenamedFrom.Add(from);
            FRenamedTo.Add(to);
            FRenamedTrees.push_back(std::move(tree));
            FFolderMoves.emplace_back(candidate, std::move(move));
        }
        return true;
    }

    bool HoldsTellingUniqueName(const TFolderTree& tree) const {
        return std::any_of(tree.begin(), tree.end(), [&](const auto& entry) {
            return !entry.second.FFolder && entry.second.FSize >= 1 && IsUniqueName(BaseName(entry.first));
        });
    }

    bool IsFolderRename(const TFolderCandidate& candidate, TMove& move, TFolderTree& toTree) {
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
        // The two trees side by side.
        TFolderTree fromTree;
        bool listed[2] = {false, false};
        if (!ParallelFor(
                2,
                [&](std::size_t k) {
                    listed[k] = k == 0 ? ListFolderTree(FSource, to, FWholeSeconds, toTree)
                                       : ListFolderTree(FTarget, from, FWholeSeconds, fromTree);
                },
                FStop) ||
            !listed[0] || !listed[1]) {
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
        std::vector<std::string_view> files;
        move.FNewLines.reserve(move.FNewLines.size() + toTree.size());
        move.FDeleteLines.reserve(move.FDeleteLines.size() + toTree.size());
        for (const auto& [relative, entry] : toTree) {
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
                s = toFolder;
                s += files[k];
                t = fromFolder;
                t += files[k];
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
            if (!FRenamedFrom.Holds(FDeleteLines[pair.FDelete]) && !FRenamedTo.Holds(FNewLines[pair.FNew])) {
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
    bool FWholeSeconds = false;
    std::unordered_map<std::string_view, TNameSides> FNames;
    std::unordered_set<std::string_view> FNewSet, FDeleteSet;
    // The folders renamed so far (with trailing delimiters), their trees, and their moves.
    TFolderSet FRenamedFrom, FRenamedTo;
    std::vector<TFolderTree> FRenamedTrees;
    std::vector<std::pair<TFolderCandidate, TMove>> FFolderMoves;
    // Candidates examined and found no rename.
    std::set<TFolderCandidate> FRefused;
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

#include "Check.h"

#include "CheckEntry.h"
#include "config/CustomPublic.h"
#include "config/FileFacts.h"
#include "engine/index/FolderIndex.h"
#include "engine/project/ParallelFor.h"
#include "engine/versions/Versions.h"
#include "engine/volume/LostVolume.h"
#include "engine/volume/RootPaths.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

// Where one root lies inside the other, the relative path of the inner root
// as seen from the outer one ("backup/"); empty when neither holds the other.
// Without this, a target inside the source would be copied into itself on
// every run, and a source inside the target would be deleted as surplus.
std::string InnerRootPrefix(const std::string& outerRoot, const std::string& innerRoot) {
    const std::string outer = RealPathOf(outerRoot);
    const std::string inner = RealPathOf(innerRoot);
    std::string prefix;
    if (!outer.empty() && !inner.empty()) {
        const std::string outerPath = WithTrailingDelimiter(outer);
        const std::string innerPath = WithTrailingDelimiter(inner);
        if (innerPath.size() > outerPath.size() && innerPath.compare(0, outerPath.size(), outerPath) == 0) {
            prefix = innerPath.substr(outerPath.size());
        }
    }
    return prefix;
}

// True when the entry (relative to its root) is the inner root or lies below it.
bool IsInside(std::string_view relative, const std::string& innerPrefix) {
    return !innerPrefix.empty() && relative.substr(0, innerPrefix.size()) == innerPrefix;
}

// Relative paths (without trailing delimiter) of what one side could not
// list or examine: nothing at or below them is known.
class TUnknownPaths {
public:
    TUnknownPaths(const std::vector<TItemFailure>& errors, const std::string& root) {
        for (const TItemFailure& error : errors) {
            if (error.FPath.compare(0, root.size(), root) == 0) {
                FPaths.emplace_back(
                    WithoutTrailingDelimiter(std::string_view(error.FPath).substr(root.size())));
            }
        }
    }
    // True when the relative entry is one of the paths or lies below one.
    bool Covers(std::string_view relative) const {
        const std::string_view plain = WithoutTrailingDelimiter(relative);
        for (const std::string& path : FPaths) {
            if (path.empty() || (plain.substr(0, path.size()) == path &&
                                 (plain.size() == path.size() || plain[path.size()] == PathDelim))) {
                return true;
            }
        }
        return false;
    }

private:
    static std::string_view WithoutTrailingDelimiter(std::string_view path) {
        while (!path.empty() && path.back() == PathDelim) {
            path.remove_suffix(1);
        }
        return path;
    }
    std::vector<std::string> FPaths;
};

// The folder of the last surplus candidate, and whether the source lacks it.
// Target entries come a folder at a time: where the source lacks their folder
// (a renamed or removed folder), one look-up tells for all its entries.
class TSourceFolderGone {
public:
    explicit TSourceFolderGone(const TCheckSettings& settings) : FSettings(settings) {}

    // True when the folder that holds the relative entry is known to be
    // missing from the source, so that the entry's counterpart is too.
    bool Holds(std::string_view relative) {
        // Links kept as links are judged entry by entry.
        if (FSettings.FLinks == TLinkMode::Link) {
            return false;
        }
        while (!relative.empty() && relative.back() == PathDelim) {
            relative.remove_suffix(1);
        }
        const std::size_t slash = relative.rfind(PathDelim);
        if (slash == std::string_view::npos) {
            return false;
        }
        const std::string_view folder = relative.substr(0, slash);
        if (!FKnown || folder != FFolder) {
            FFolder.assign(folder);
            FKnown = true;
            const TEntryFacts facts = FSettings.FSourceVolume->Facts(FFolder, true);
            FGone = facts.FError == 0 && !(facts.FExists && facts.FIsFolder);
        }
        return FGone;
    }

private:
    const TCheckSettings& FSettings;
    std::string FFolder;
    bool FKnown = false;
    bool FGone = false;
};

// Source entries whose facts are read and classified together.
constexpr std::size_t FactsBlock = 32768;

// The delete pass: walks the target tree and decides, entry by entry, what
// is surplus, on its own thread while the source pass runs. An entry whose
// counterpart is in the source index exists; one at or below a source path
// that could not be listed or examined is never surplus; only the rest are
// looked up on disk. Abandoned when the check stops.
class TTargetPass {
public:
    explicit TTargetPass(const TCheckSettings& settings) : FSettings(settings) {
        if (settings.FDeletePass) {
            FThread = std::thread([this] { Run(); });
        }
    }
    ~TTargetPass() { Finish(true); }
    TTargetPass(const TTargetPass&) = delete;
    TTargetPass& operator=(const TTargetPass&) = delete;

    // The finished source index (paths relative to the source root) and what
    // the source pass could not know; both must stay unchanged until Wait returns.
    void PublishSourceIndex(const TStringList& sourceIndex, const TUnknownPaths& unknownSource) {
        FSourceIndex = &sourceIndex;
        FUnknownSource = &unknownSource;
        FSourceReady.store(true, std::memory_order_release);
    }

    // Waits for the pass, polling the stop test; false when it reported a stop.
    bool Wait(const TStopTest& stopRequested) {
        while (!FDone.load()) {
            if (StopRequestedBy(stopRequested)) {
                Finish(true);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        Finish(false);
        if (FError) {
            std::rethrow_exception(FError);
        }
        return true;
    }

    TStringList FIndex;
    std::vector<char> FSurplus;
    // What the walk could not list, then what the look-ups could not examine.
    std::vector<TItemFailure> FErrors;

private:
    bool Abandoned() const { return FAbandon.load(std::memory_order_relaxed); }

    void Run() {
        try {
            const TStopTest abandoned = [this] { return Abandoned(); };
            BuildFolderIndex(*FSettings.FTargetVolume, FSettings.FIncludeTypes, FSettings.FExcludeTypes,
                             FSettings.FIncludePaths, FSettings.FExcludePaths, FIndex,
                             FSettings.FIncludeFolders, true, true, abandoned, &FErrors, FSettings.FLinks);
            LeaveOutVersionFolder(FIndex, FSettings.FTargetRoot, FSettings.FTargetRoot,
                                  FSettings.FVersionRoot);
            while (!FSourceReady.load(std::memory_order_acquire)) {
                if (Abandoned()) {
                    FDone = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            const std::string sourceInsideTarget =
                InnerRootPrefix(FSettings.FTargetRoot, FSettings.FSourceRoot);
            std::unordered_set<std::string_view> sourceEntries;
            if (!FIndex.empty()) { // an empty target needs no look-up
                sourceEntries.reserve(FSourceIndex->size());
                for (const std::string& entry : *FSourceIndex) {
                    sourceEntries.insert(entry);
                }
            }
            FSurplus.resize(FIndex.size(), 0);
            TSourceFolderGone folderGone(FSettings);
            for (std::size_t i = 0; i < FIndex.size() && !Abandoned(); ++i) {
                const std::string_view relative =
                    std::string_view(FIndex[i]).substr(FSettings.FTargetRoot.size());
                if (IsInside(relative, sourceInsideTarget) || sourceEntries.contains(relative) ||
                    FUnknownSource->Covers(relative)) {
                    continue;
                }
                if (folderGone.Holds(relative)) {
                    FSurplus[i] = 1;
                    continue;
                }
                int error = 0;
                FSurplus[i] = CounterpartIsMissing(relative, FSettings, error);
                if (error != 0) {
                    FErrors.push_back({FSettings.FSourceRoot + std::string(relative), ErrorText(error)});
                }
            }
        } catch (...) {
            FError = std::current_exception();
        }
        FDone = true;
    }

    void Finish(bool abandon) {
        if (FThread.joinable()) {
            FAbandon = abandon;
            FThread.join();
        }
    }

    const TCheckSettings& FSettings;
    const TStringList* FSourceIndex = nullptr;
    const TUnknownPaths* FUnknownSource = nullptr;
    std::thread FThread;
    std::atomic<bool> FSourceReady{false};
    std::atomic<bool> FAbandon{false};
    std::atomic<bool> FDone{false};
    std::exception_ptr FError;
};

// Leaves out of the source index (entries relative to the source root) the
// entries at or below an inner root (the target or the deploy folder inside the source).
void RemoveInnerRoot(TStringList& sourceIndex, const std::string& sourceRoot, const std::string& innerRoot) {
    if (innerRoot.empty()) {
        return;
    }
    const std::string prefix = InnerRootPrefix(sourceRoot, innerRoot);
    if (!prefix.empty()) {
        std::erase_if(sourceIndex, [&](const std::string& entry) { return IsInside(entry, prefix); });
    }
}

// The source entries put in the new and update lists, by their place in the
// index. The lines are moved out of the index once nothing reads it any more
// (the delete pass looks entries up in it until it ends), so a big first run
// holds each path once. Whatever is pending when the check ends, also by a
// stop or an error, goes into the plan then.
class TPendingLines {
public:
    TPendingLines(TStringList& sourceIndex, TPlan& plan) : FSourceIndex(sourceIndex), FPlan(plan) {}
    ~TPendingLines() { Flush(); }
    TPendingLines(const TPendingLines&) = delete;
    TPendingLines& operator=(const TPendingLines&) = delete;

    void Flush() {
        MoveInto(FNew, FPlan.FNewList);
        MoveInto(FUpdate, FPlan.FUpdateList);
    }

    std::vector<std::size_t> FNew;
    std::vector<std::size_t> FUpdate;

private:
    void MoveInto(std::vector<std::size_t>& pending, TStringList& list) {
        list.reserve(list.size() + pending.size());
        for (const std::size_t i : pending) {
            list.push_back(std::move(FSourceIndex[i]));
        }
        std::vector<std::size_t>().swap(pending);
    }

    TStringList& FSourceIndex;
    TPlan& FPlan;
};

// A stop test that stays stopped: one stop seen anywhere in the check (at a
// folder of the walk, between blocks of look-ups, before an entry) ends it,
// even when the caller's test would answer false the next time.
class TLatchedStop {
public:
    explicit TLatchedStop(const TStopTest& stopRequested) : FStopRequested(stopRequested) {}
    bool operator()() {
        if (!FStopped && StopRequestedBy(FStopRequested)) {
            FStopped = true;
        }
        return FStopped;
    }
    bool Stopped() const { return FStopped; }

private:
    const TStopTest& FStopRequested;
    bool FStopped = false;
};

bool RunPasses(const TCheckSettings& givenSettings, TPlan& plan, TProgressSink& progress,
               const TStopTest& stopRequested) {
    const TCheckSettings settings = WithVolumes(givenSettings);
    plan.Clear();
    ForgetLinkLookups();
    TLatchedStop latch(stopRequested);
    const TStopTest stop = std::ref(latch);
    // Relative to the source root. Declared first: the target pass reads it until it ends.
    TStringList sourceIndex;
    std::vector<TItemFailure> sourceErrors;
    TPendingLines pending(sourceIndex, plan); // before the target pass: it moves lines once that has ended
    TTargetPass targetPass(settings);

    progress.ShowStatus(CheckStatusSourceIndex);
    BuildFolderIndex(*settings.FSourceVolume, settings.FIncludeTypes, settings.FExcludeTypes,
                     settings.FIncludePaths, settings.FExcludePaths, sourceIndex, settings.FIncludeFolders,
                     false, true, stop, &sourceErrors, settings.FLinks, true);
    if (latch.Stopped()) {
        return false;
    }
    RemoveInnerRoot(sourceIndex, settings.FSourceRoot, settings.FTargetRoot);
    RemoveInnerRoot(sourceIndex, settings.FSourceRoot, settings.FDeployRoot);
    // Neither what lies in the version folder nor what would land in it.
    LeaveOutVersionFolder(sourceIndex, "", settings.FSourceRoot, settings.FVersionRoot);
    LeaveOutVersionFolder(sourceIndex, "",
                          settings.FDeployRoot.empty() ? settings.FTargetRoot : settings.FDeployRoot,
                          settings.FVersionRoot);
    const TUnknownPaths unknownSource(sourceErrors, settings.FSourceRoot);
    targetPass.PublishSourceIndex(sourceIndex, unknownSource);
    plan.FErrors = sourceErrors;
    plan.FSourceEntries = sourceIndex.size();

    // The look-ups of both sides are what takes the time: they run on every
    // core first, and the entries are then classified in order.
    // A block at a time: the facts of a big tree never pile up.
    progress.ResetProgress(sourceIndex.size());
    std::vector<TPairFacts> facts;
    for (std::size_t begin = 0; begin < sourceIndex.size(); begin += FactsBlock) {
        const std::size_t end = std::min(begin + FactsBlock, sourceIndex.size());
        facts.assign(end - begin, TPairFacts{});
        if (!ParallelFor(
                end - begin,
                [&](std::size_t k) { facts[k] = ReadEntryFacts(sourceIndex[begin + k], settings); }, stop)) {
            return false;
        }
        if (settings.FCompareContent &&
            !CompareCandidateContents(sourceIndex, begin, facts, settings, stop)) {
            return false;
        }
        for (std::size_t i = begin; i < end; ++i) {
            if (stop()) {
                return false;
            }
            const std::string& relative = sourceIndex[i];
            const TPairFacts& f = facts[i - begin];
            const std::string entry = settings.FSourceRoot + relative;
            progress.ShowItem(CheckItemPrefix, entry);
            switch (Classify(TFmCustomPublic::IsFolderEntry(relative), f, settings)) {
            case TSourceVerdict::New:
                pending.FNew.push_back(i);
                break;
            case TSourceVerdict::Update:
                pending.FUpdate.push_back(i);
                break;
            case TSourceVerdict::Error:
                plan.FErrors.push_back(
                    {f.FErrorOnSource ? entry : settings.FTargetRoot + relative, ErrorText(f.FError)});
                break;
            case TSourceVerdict::Skip:
                break;
            }
        }
    }
    if (!settings.FDeletePass) {
        pending.Flush();
        return true;
    }

    progress.ShowStatus(CheckStatusTargetIndex);
    if (!targetPass.Wait(stop)) {
        return false;
    }
    pending.Flush();
    plan.FErrors.insert(plan.FErrors.end(), targetPass.FErrors.begin(), targetPass.FErrors.end());
    plan.FTargetEntries = targetPass.FIndex.size();
    progress.ResetProgress(targetPass.FIndex.size());
    for (std::size_t i = 0; i < targetPass.FIndex.size(); ++i) {
        if (stop()) {
            return false;
        }
        const std::string& entry = targetPass.FIndex[i];
        progress.ShowItem(CheckItemPrefix, entry);
        if (targetPass.FSurplus[i] != 0) {
            plan.FDeleteList.push_back(entry.substr(settings.FTargetRoot.size()));
        }
    }
    return true;
}

} // namespace

bool RunCheck(const TCheckSettings& givenSettings, TPlan& plan, TProgressSink& progress,
              const TStopTest& stopRequested) {
    const TCheckSettings settings = WithVolumes(givenSettings);
    // A folder lost mid-check ends it: what was not seen is never planned on.
    const std::vector<std::shared_ptr<TVolume>> volumes = {settings.FSourceVolume, settings.FTargetVolume};
    const bool completed = RunPasses(settings, plan, progress, StopWhenLost(stopRequested, volumes));
    plan.FLost = FindLostVolume(volumes);
    return completed && !plan.FLost.Lost();
}

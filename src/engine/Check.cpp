#include "Check.h"

#include "FolderIndex.h"
#include "ParallelFor.h"
#include "ProjectRecord.h"
#include "config/CustomPublic.h"
#include "config/FileFacts.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

bool IsFile(const TFileFacts& facts) {
    return facts.FExists && !facts.FIsFolder;
}
bool IsFolder(const TFileFacts& facts) {
    return facts.FExists && facts.FIsFolder;
}

bool PassesTimeMode(int mode, TDateTime target, TDateTime source) {
    switch (mode) {
    case TimeModeTargetOlder:
        return target < source;
    case TimeModeTargetNewer:
        return target > source;
    case TimeModeDifferent:
        return target != source;
    default:
        return true;
    }
}

// Where one root lies inside the other, the relative path of the inner root
// as seen from the outer one ("backup/"); empty when neither holds the other.
// Without this, a target inside the source would be copied into itself on
// every run, and a source inside the target would be deleted as surplus.
std::string InnerRootPrefix(const std::string& outerRoot, const std::string& innerRoot) {
    char* outer = realpath(outerRoot.c_str(), nullptr);
    char* inner = realpath(innerRoot.c_str(), nullptr);
    std::string prefix;
    if (outer != nullptr && inner != nullptr) {
        const std::string outerPath = WithTrailingDelimiter(outer);
        const std::string innerPath = WithTrailingDelimiter(inner);
        if (innerPath.size() > outerPath.size() && innerPath.compare(0, outerPath.size(), outerPath) == 0) {
            prefix = innerPath.substr(outerPath.size());
        }
    }
    free(outer);
    free(inner);
    return prefix;
}

// True when the entry (relative to its root) is the inner root or lies below it.
bool IsInside(std::string_view relative, const std::string& innerPrefix) {
    return !innerPrefix.empty() && relative.substr(0, innerPrefix.size()) == innerPrefix;
}

// What a source entry's comparison needs to know about both sides.
struct TEntryFacts {
    TFileFacts FSource;
    TFileFacts FCounterpart;
};

TEntryFacts ReadEntryFacts(const std::string& entry, const TCheckSettings& settings) {
    TEntryFacts facts;
    const std::string counterpart = settings.FTargetRoot + entry.substr(settings.FSourceRoot.size());
    if (TFmCustomPublic::IsFolderEntry(entry)) {
        facts.FCounterpart = ReadFileFacts(counterpart);
        return facts;
    }
    facts.FSource = ReadFileFacts(entry);
    // A source gone since the walk, or older than the threshold, needs no counterpart.
    if (IsFile(facts.FSource) &&
        !(settings.FCheckEditTime && facts.FSource.FModified < settings.FThreshold)) {
        facts.FCounterpart = ReadFileFacts(counterpart);
    }
    return facts;
}

TSourceVerdict Classify(bool isFolder, const TEntryFacts& facts, const TCheckSettings& settings) {
    if (isFolder) {
        return IsFolder(facts.FCounterpart) ? TSourceVerdict::Skip : TSourceVerdict::New;
    }
    if (!IsFile(facts.FSource)) {
        return TSourceVerdict::Skip; // gone since the walk
    }
    if (settings.FCheckEditTime && facts.FSource.FModified < settings.FThreshold) {
        return TSourceVerdict::Skip;
    }
    if (!IsFile(facts.FCounterpart)) {
        return TSourceVerdict::New;
    }
    if (!PassesTimeMode(settings.FTimeMode, facts.FCounterpart.FModified, facts.FSource.FModified)) {
        return TSourceVerdict::Skip;
    }
    if (settings.FCheckSize && facts.FCounterpart.FSize != facts.FSource.FSize) {
        return TSourceVerdict::Skip;
    }
    return TSourceVerdict::Update;
}

// The delete pass: walks the target tree and decides, entry by entry, what
// is surplus, on its own thread while the source pass runs. An entry whose
// counterpart is in the source index exists; only the rest are looked up on
// disk. Abandoned when the check stops.
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

    // The finished source index; it must stay unchanged until Wait returns.
    void PublishSourceIndex(const TStringList& sourceIndex) {
        FSourceIndex = &sourceIndex;
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

private:
    bool Abandoned() const { return FAbandon.load(std::memory_order_relaxed); }

    void Run() {
        try {
            const TStopTest abandoned = [this] { return Abandoned(); };
            BuildFolderIndex(FSettings.FTargetRoot, FSettings.FIncludeTypes, FSettings.FExcludeTypes,
                             FSettings.FIncludePaths, FSettings.FExcludePaths, FIndex,
                             FSettings.FIncludeFolders, true, true, abandoned);
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
            sourceEntries.reserve(FSourceIndex->size());
            for (const std::string& entry : *FSourceIndex) {
                sourceEntries.insert(std::string_view(entry).substr(FSettings.FSourceRoot.size()));
            }
            FSurplus.resize(FIndex.size(), 0);
            for (std::size_t i = 0; i < FIndex.size() && !Abandoned(); ++i) {
                const std::string_view relative =
                    std::string_view(FIndex[i]).substr(FSettings.FTargetRoot.size());
                FSurplus[i] = !IsInside(relative, sourceInsideTarget) && !sourceEntries.contains(relative) &&
                              IsSurplusTargetEntry(FIndex[i], FSettings);
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
    std::thread FThread;
    std::atomic<bool> FSourceReady{false};
    std::atomic<bool> FAbandon{false};
    std::atomic<bool> FDone{false};
    std::exception_ptr FError;
};

} // namespace

TSourceVerdict ClassifySourceEntry(const std::string& entry, const TCheckSettings& settings) {
    return Classify(TFmCustomPublic::IsFolderEntry(entry), ReadEntryFacts(entry, settings), settings);
}

bool IsSurplusTargetEntry(const std::string& entry, const TCheckSettings& settings) {
    const std::string counterpart = settings.FSourceRoot + entry.substr(settings.FTargetRoot.size());
    return TFmCustomPublic::IsFolderEntry(entry) ? !FolderExists(counterpart) : !FileExists(counterpart);
}

bool RunCheck(const TCheckSettings& settings, TPlan& plan, TProgressSink& progress,
              const TStopTest& stopRequested) {
    plan.Clear();
    TStringList sourceIndex; // declared first: the target pass reads it until it ends
    TTargetPass targetPass(settings);

    progress.ShowStatus(CheckStatusSourceIndex);
    BuildFolderIndex(settings.FSourceRoot, settings.FIncludeTypes, settings.FExcludeTypes,
                     settings.FIncludePaths, settings.FExcludePaths, sourceIndex, settings.FIncludeFolders,
                     false, true, stopRequested);
    const std::string targetInsideSource = InnerRootPrefix(settings.FSourceRoot, settings.FTargetRoot);
    if (!targetInsideSource.empty()) {
        std::erase_if(sourceIndex, [&](const std::string& entry) {
            return IsInside(std::string_view(entry).substr(settings.FSourceRoot.size()), targetInsideSource);
        });
    }
    targetPass.PublishSourceIndex(sourceIndex);

    // The look-ups of both sides are what takes the time: they run on every
    // core first, and the entries are then classified in order.
    std::vector<TEntryFacts> facts(sourceIndex.size());
    ParallelFor(
        sourceIndex.size(), [&](std::size_t i) { facts[i] = ReadEntryFacts(sourceIndex[i], settings); },
        stopRequested);

    progress.ResetProgress(sourceIndex.size());
    for (std::size_t i = 0; i < sourceIndex.size(); ++i) {
        if (StopRequestedBy(stopRequested)) {
            return false;
        }
        const std::string& entry = sourceIndex[i];
        progress.ShowItem(CheckItemPrefix, entry);
        switch (Classify(TFmCustomPublic::IsFolderEntry(entry), facts[i], settings)) {
        case TSourceVerdict::New:
            plan.FNewList.push_back(entry.substr(settings.FSourceRoot.size()));
            break;
        case TSourceVerdict::Update:
            plan.FUpdateList.push_back(entry.substr(settings.FSourceRoot.size()));
            break;
        case TSourceVerdict::Skip:
            break;
        }
    }
    if (!settings.FDeletePass) {
        return true;
    }

    progress.ShowStatus(CheckStatusTargetIndex);
    if (!targetPass.Wait(stopRequested)) {
        return false;
    }
    progress.ResetProgress(targetPass.FIndex.size());
    for (std::size_t i = 0; i < targetPass.FIndex.size(); ++i) {
        if (StopRequestedBy(stopRequested)) {
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

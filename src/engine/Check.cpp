#include "Check.h"

#include "FolderIndex.h"
#include "ProjectRecord.h"
#include "config/CustomPublic.h"
#include "config/FileFacts.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <thread>
#include <vector>

namespace {

bool IsFile(const TFileFacts& facts) { return facts.FExists && !facts.FIsFolder; }

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

// Walks the target tree and decides, entry by entry, what is surplus. Runs on
// its own thread while the source pass runs; abandoned when the check stops.
class TTargetPass {
public:
    explicit TTargetPass(const TCheckSettings& settings) {
        if (settings.FDeletePass) {
            FThread = std::thread([this, &settings] { Run(settings); });
        }
    }
    ~TTargetPass() { Finish(true); }
    TTargetPass(const TTargetPass&) = delete;
    TTargetPass& operator=(const TTargetPass&) = delete;

    // Waits for the walk, polling the stop test; false when it reported a stop.
    bool Wait(const TStopTest& stopRequested) {
        while (!FDone.load()) {
            if (StopRequestedBy(stopRequested)) {
                Finish(true);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
    void Run(const TCheckSettings& settings) {
        try {
            const TStopTest abandoned = [this] { return FAbandon.load(std::memory_order_relaxed); };
            BuildFolderIndex(settings.FTargetRoot, settings.FIncludeTypes, settings.FExcludeTypes,
                             settings.FIncludePaths, settings.FExcludePaths, FIndex, settings.FIncludeFolders,
                             true, true, abandoned);
            FSurplus.reserve(FIndex.size());
            for (const std::string& entry : FIndex) {
                if (abandoned()) {
                    break;
                }
                FSurplus.push_back(IsSurplusTargetEntry(entry, settings) ? 1 : 0);
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

    std::thread FThread;
    std::atomic<bool> FAbandon{false};
    std::atomic<bool> FDone{false};
    std::exception_ptr FError;
};

} // namespace

TSourceVerdict ClassifySourceEntry(const std::string& entry, const TCheckSettings& settings) {
    const std::string relative = entry.substr(settings.FSourceRoot.size());
    const std::string counterpart = settings.FTargetRoot + relative;
    if (TFmCustomPublic::IsFolderEntry(entry)) {
        return FolderExists(counterpart) ? TSourceVerdict::Skip : TSourceVerdict::New;
    }
    const TFileFacts source = ReadFileFacts(entry);
    if (!IsFile(source)) {
        return TSourceVerdict::Skip; // gone since the walk
    }
    if (settings.FCheckEditTime && source.FModified < settings.FThreshold) {
        return TSourceVerdict::Skip;
    }
    const TFileFacts target = ReadFileFacts(counterpart);
    if (!IsFile(target)) {
        return TSourceVerdict::New;
    }
    if (!PassesTimeMode(settings.FTimeMode, target.FModified, source.FModified)) {
        return TSourceVerdict::Skip;
    }
    if (settings.FCheckSize && target.FSize != source.FSize) {
        return TSourceVerdict::Skip;
    }
    return TSourceVerdict::Update;
}

bool IsSurplusTargetEntry(const std::string& entry, const TCheckSettings& settings) {
    const std::string counterpart = settings.FSourceRoot + entry.substr(settings.FTargetRoot.size());
    return TFmCustomPublic::IsFolderEntry(entry) ? !FolderExists(counterpart) : !FileExists(counterpart);
}

bool RunCheck(const TCheckSettings& settings, TPlan& plan, TProgressSink& progress,
              const TStopTest& stopRequested) {
    plan.Clear();
    TTargetPass targetPass(settings);

    progress.ShowStatus(CheckStatusSourceIndex);
    TStringList sourceIndex;
    BuildFolderIndex(settings.FSourceRoot, settings.FIncludeTypes, settings.FExcludeTypes, settings.FIncludePaths,
                     settings.FExcludePaths, sourceIndex, settings.FIncludeFolders, false, true, stopRequested);
    progress.ResetProgress(sourceIndex.size());
    for (const std::string& entry : sourceIndex) {
        if (StopRequestedBy(stopRequested)) {
            return false;
        }
        progress.ShowItem(CheckItemPrefix, entry);
        switch (ClassifySourceEntry(entry, settings)) {
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

#include "JobTriggers.h"

#include "JobRecord.h"
#include "config/PathText.h"
#include "engine/project/ProjectRecord.h"

TJobKind ReadJobKind(const TIniFile& ini, const std::string& jobName) {
    TJobRecord record;
    try {
        ReadJobOptions(ini, jobName, record);
    } catch (const EConvertError&) {
        return TJobKind::Invalid;
    }
    if (record.FRbChange) {
        return TJobKind::Change;
    }
    if (record.FRbConnect) {
        return TJobKind::Connect;
    }
    return TJobKind::Timed;
}

namespace {

std::vector<std::string> Folders(const TIniFile& ini, const std::string& jobName, bool targets) {
    std::vector<std::string> folders;
    for (const std::string& project : ReadJobProjects(ini, jobName)) {
        const TIniFile::TValues section = ini.ReadSectionValues(ProjectSection(project));
        const auto add = [&](const std::string& key) {
            const std::string folder = ValueOf(section, key, "");
            if (folder.find_first_not_of(" \t") != std::string::npos) {
                folders.push_back(ResolveBeside(ini.FileName(), folder));
            }
        };
        add(ProjectKey::Source);
        if (targets) {
            add(ProjectKey::Target);
        }
    }
    return folders;
}

} // namespace

std::vector<std::string> JobSourceFolders(const TIniFile& ini, const std::string& jobName) {
    return Folders(ini, jobName, false);
}

std::vector<std::string> JobFolders(const TIniFile& ini, const std::string& jobName) {
    return Folders(ini, jobName, true);
}

TJobTriggers::TJobTriggers(const TIniFile& ini, std::string jobName, TTriggerTuning tuning)
    : FIniFile(ini), FJobName(std::move(jobName)), FTuning(tuning), FState(ini.FileName()) {}

void TJobTriggers::Read(TSteadyTime steady, bool fresh) {
    TJobRecord record;
    TJobKind kind = TJobKind::Timed;
    try {
        ReadJobOptions(FIniFile, FJobName, record);
        kind = record.FRbChange ? TJobKind::Change : record.FRbConnect ? TJobKind::Connect : TJobKind::Timed;
    } catch (const EConvertError&) {
        kind = TJobKind::Invalid;
    }
    const TJobScheduleTexts texts = ReadJobScheduleTexts(FIniFile, FJobName);
    FEnabled = TextIsTrue(texts.FCbJobValid.value_or("False"));
    FCatchUp.Configure(FEnabled && kind == TJobKind::Timed && record.FCatchUp, texts);

    const TChangeTiming timing{std::chrono::seconds(record.FQuietSeconds),
                               std::chrono::seconds(record.FMaxWaitSeconds),
                               std::chrono::seconds(record.FMinIntervalSeconds)};
    std::vector<std::string> watched;
    if (FEnabled && kind == TJobKind::Change) {
        watched = JobSourceFolders(FIniFile, FJobName);
    } else if (FEnabled && kind == TJobKind::Connect) {
        watched = JobFolders(FIniFile, FJobName);
    }
    const bool same = !fresh && kind == FKind && watched == FWatched && timing.FQuiet == FTiming.FQuiet &&
                      timing.FMaxWait == FTiming.FMaxWait && timing.FMinInterval == FTiming.FMinInterval;
    FKind = kind;
    FTiming = timing;
    if (same) {
        return;
    }
    FWatched = watched;
    FChange.reset();
    FConnect.reset();
    if (FEnabled && kind == TJobKind::Change) {
        FChange = std::make_unique<TChangeTrigger>(FWatched, FTiming, steady, FTuning.FWatchCap);
    } else if (FEnabled && kind == TJobKind::Connect) {
        FConnect = std::make_unique<TConnectTrigger>(FWatched, steady, FTuning.FConnectRecheck,
                                                     FTuning.FConnectSettle);
    }
}

void TJobTriggers::Begin(TDateTime now, TSteadyTime steady) {
    Read(steady, true);
    FCatchUp.Begin(FState.Read(FJobName).FLastStart, now, steady);
}

void TJobTriggers::Reload(TDateTime, TSteadyTime steady) {
    Read(steady, false);
}

bool TJobTriggers::Poll(TDateTime now, TSteadyTime steady, bool paused) {
    // What comes while a run goes on or the row is paused waits for it to end.
    const bool mayRun = !FRunning && !paused;
    bool due = FCatchUp.Check([this] { return FState.Read(FJobName).FLastStart; }, now, steady, mayRun);
    if (FChange && FChange->Poll(steady)) {
        due = true;
    }
    if (FConnect && FConnect->Poll(steady, mayRun)) {
        due = true;
    }
    return due && mayRun;
}

void TJobTriggers::RunStarted(TDateTime, TSteadyTime steady) {
    FRunning = true;
    FCatchUp.Cancel();
    if (FChange) {
        FChange->RunStarted(steady);
    }
}

void TJobTriggers::RunEnded() {
    FRunning = false;
    if (FChange) {
        FChange->RunEnded();
    }
}

std::string TJobTriggers::InfoText() const {
    if (!FEnabled) {
        return "";
    }
    switch (FKind) {
    case TJobKind::Change:
        return FChange && FChange->LimitReached() ? WatchLimitText : ChangeKindText;
    case TJobKind::Connect:
        return ConnectKindText;
    case TJobKind::Timed:
        if (const auto at = FCatchUp.DueAt()) {
            return "执行预定：" + FormatNextRun(*at);
        }
        return "";
    case TJobKind::Invalid:
        break;
    }
    return "";
}

std::vector<int> TJobTriggers::Fds() const {
    std::vector<int> fds;
    if (FChange && FChange->Fd() >= 0) {
        fds.push_back(FChange->Fd());
    }
    if (FConnect) {
        // Not the mount table: a poll elsewhere would take its news away.
        if (FConnect->WatchFd() >= 0) {
            fds.push_back(FConnect->WatchFd());
        }
    }
    return fds;
}

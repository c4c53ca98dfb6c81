#pragma once

#include "CatchUp.h"
#include "ChangeTrigger.h"
#include "ConnectTrigger.h"
#include "JobState.h"
#include "config/IniFile.h"

#include <memory>
#include <string>
#include <vector>

// What starts a job besides its alarm: a catch-up of a missed run, its
// source folders changing, or its folders appearing. The same for a monitor
// row of the window and for the daemon; the owner calls Poll at every check
// of its alarm with both clocks, and RunStarted and RunEnded around every run.
enum class TJobKind {
    Timed,   // daily or periodic: the alarm runs it
    Change,  // "变化时"
    Connect, // "连接时"
    Invalid, // unreadable options: nothing runs it
};

// Shorter times for tests; a real scheduler keeps the defaults.
struct TTriggerTuning {
    std::chrono::milliseconds FConnectRecheck = ConnectRecheckPeriod;
    std::chrono::milliseconds FConnectSettle = ConnectSettleTime;
    std::size_t FWatchCap = 0; // 0: the system's limit only
};

// What the row shows when the limit of watches is reached.
inline const std::string WatchLimitText = "监视数已满，每5分钟检查";

// The job's kind as stored (a disabled job reads as its kind all the same).
TJobKind ReadJobKind(const TIniFile& ini, const std::string& jobName);
// The source folders, and the source and target folders, of the job's projects.
std::vector<std::string> JobSourceFolders(const TIniFile& ini, const std::string& jobName);
std::vector<std::string> JobFolders(const TIniFile& ini, const std::string& jobName);
// The folders the job's runs write into (each project's target, its deploy
// folder in deploy mode, and its version folder) that lie below one of the
// sources, as full paths spelt from that source: a change watch leaves them
// out, so that a run never sets off the next one.
std::vector<std::string> JobWrittenFoldersInSources(const TIniFile& ini, const std::string& jobName,
                                                    const std::vector<std::string>& sources);

class TJobTriggers {
public:
    TJobTriggers(const TIniFile& ini, std::string jobName, TTriggerTuning tuning = {});

    // The scheduler starts watching the job: reads it and sets up its
    // triggers; a missed run is made up for 2 minutes later.
    void Begin(TDateTime now, TSteadyTime steady);
    // The job was saved: reads it again; watchers are set up anew only when
    // what they watch changed.
    void Reload(TDateTime now, TSteadyTime steady);
    // True when a trigger wants a run now. Never true while a run goes on;
    // while paused the triggers keep what they saw for later.
    bool Poll(TDateTime now, TSteadyTime steady, bool paused);
    void RunStarted(TDateTime now, TSteadyTime steady);
    void RunEnded();

    TJobKind Kind() const { return FKind; }
    // The row's text for this job when its triggers decide it, else empty:
    // "变化时", "连接时", the watch limit, or the catch-up's "执行预定：HH:mm".
    std::string InfoText() const;
    std::optional<TDateTime> CatchUpAt() const { return FCatchUp.DueAt(); }
    // Descriptors a daemon may poll to wake sooner (inotify only; the mount
    // table is read at the next check).
    std::vector<int> Fds() const;

private:
    void Read(TSteadyTime steady, bool fresh);

    const TIniFile& FIniFile;
    std::string FJobName;
    TTriggerTuning FTuning;
    TJobState FState;
    TJobKind FKind = TJobKind::Invalid;
    bool FEnabled = false;
    TCatchUp FCatchUp;
    TChangeTiming FTiming;
    std::vector<std::string> FWatched;
    std::vector<std::string> FLeftOut;
    std::unique_ptr<TChangeTrigger> FChange;
    std::unique_ptr<TConnectTrigger> FConnect;
    bool FRunning = false;
};

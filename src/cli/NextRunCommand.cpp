#include "NextRunCommand.h"

#include "Commands.h"
#include "jobs/CatchUp.h"
#include "jobs/JobRecord.h"
#include "jobs/JobSchedule.h"
#include "jobs/JobState.h"
#include "jobs/JobTriggers.h"

#include <iostream>

namespace {

std::string NextRunText(const TIniFile& ini, const std::string& jobName, TDateTime at,
                        std::optional<TDateTime> lastRun) {
    const TJobScheduleTexts texts = ReadJobScheduleTexts(ini, jobName);
    if (!TextIsTrue(texts.FCbJobValid.value_or("False"))) {
        return NotArmedText;
    }
    switch (ReadJobKind(ini, jobName)) {
    case TJobKind::Change:
        return ChangeKindText;
    case TJobKind::Connect:
        return ConnectKindText;
    case TJobKind::Invalid:
        return NotArmedText;
    case TJobKind::Timed:
        break;
    }
    TJobRecord record;
    ReadJobOptions(ini, jobName, record);
    if (record.FCatchUp) {
        if (!lastRun) {
            lastRun = TJobState(ini.FileName()).Read(jobName).FLastStart;
        }
        if (lastRun && MissedRun(texts, *lastRun, at)) {
            return FormatNextRun(TDateTime{at.FMilliseconds + CatchUpDelay.count() * 60'000});
        }
    }
    return FormatNextRun(NextRunTime(texts, at));
}

} // namespace

int CommandNextRun(const TIniFile& ini, const std::string& jobName, TDateTime at,
                   std::optional<TDateTime> lastRun) {
    std::cout << NextRunText(ini, jobName, at, lastRun) << '\n';
    return ExitCompleted;
}

#include "RunItemEnd.h"

void WriteRunItemEnd(TLogBuffer& log, const TRunItemEnd& end) {
    log.WriteLogElement("Project", end.FProject);
    log.WriteLogElement("ProcessStatus", end.FCompleted ? ProcessStatusCompleted : ProcessStatusStopped);
    if (!end.FError.empty()) {
        log.WriteLogElement("Error", end.FError);
    }
    if (end.FVersionCount) {
        log.WriteLogElement("VersionCount", std::to_string(*end.FVersionCount));
    }
    log.WriteLogElement("BeginTime", FormatTimeOfDay(end.FBegin));
    log.WriteLogElement("EndTime", FormatTimeOfDay(end.FEnd));
    log.WriteLogElement("SpendTime", FormatSpendTime(end.FSpentMilliseconds));
}

#include "Notifier.h"

#include "ByteText.h"
#include "config/IniFile.h"

TNotifyMode TextToNotifyMode(const QString& text) {
    return NotifyModeOfValue(text.toStdString());
}

QString NotifyModeToText(TNotifyMode mode) {
    return QString::fromStdString(NotifyModeValue(mode));
}

namespace {

std::optional<TNotice> ToNotice(const std::optional<TRunNotice>& notice) {
    if (!notice) {
        return std::nullopt;
    }
    return TNotice{BytesToText(notice->FJobName), BytesToText(notice->FTitle), BytesToText(notice->FBody),
                   notice->FProblem};
}

} // namespace

std::optional<TNotice> RunNotice(const TJobRunOutcome& outcome, TNotifyMode mode) {
    return ToNotice(
        ChooseRunNotice(TextToBytes(outcome.FJobName), outcome.FResults, outcome.FFailureText, mode));
}

std::optional<TNotice> StaleNotice(const QString& jobName, int days, TNotifyMode mode) {
    return ToNotice(ChooseStaleNotice(TextToBytes(jobName), days, mode));
}

TNotifier::TNotifier(const TIniFile& ini, TNoticeSink* sink, QObject* parent)
    : QObject(parent), FIniFile(ini), FSink(sink), FStaleNotices(ini.FileName()) {}

void TNotifier::Tell(const std::optional<TNotice>& notice) {
    if (notice && FSink) {
        FSink->Show(*notice);
    }
}

void TNotifier::JobRunEnded(const TJobRunOutcome& outcome) {
    Tell(RunNotice(outcome, ReadNotifyMode(FIniFile)));
}

void TNotifier::JobStale(const QString& jobName, int days, TDateTime now) {
    const std::optional<TNotice> notice = StaleNotice(jobName, days, ReadNotifyMode(FIniFile));
    if (notice && FStaleNotices.Claim(TextToBytes(jobName), now)) {
        Tell(notice);
    }
}

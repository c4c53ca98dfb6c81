#include "Notifier.h"

#include "ByteText.h"
#include "config/IniFile.h"

#include <QStringList>

TNotifyMode TextToNotifyMode(const QString& text) {
    if (text == NotifyAlwaysText) {
        return TNotifyMode::Always;
    }
    if (text == NotifyNeverText) {
        return TNotifyMode::Never;
    }
    return TNotifyMode::OnFailure;
}

QString NotifyModeToText(TNotifyMode mode) {
    switch (mode) {
    case TNotifyMode::Always:
        return NotifyAlwaysText;
    case TNotifyMode::Never:
        return NotifyNeverText;
    case TNotifyMode::OnFailure:
        break;
    }
    return NotifyOnFailureText;
}

TNotifyMode ReadNotifyMode(const TIniFile& ini) {
    return TextToNotifyMode(BytesToText(ini.ReadString("system", NotifyKey, "")));
}

namespace {

// One line per project that did not end cleanly: what went wrong.
QString ProblemLine(const TProjectRunResult& result) {
    const QString project = BytesToText(result.FProjectName);
    if (!result.FCompleted) {
        // A refusal (a folder, the deletion guard) names its reason; a stop has none.
        const QString why =
            result.FErrorText.empty() ? QStringLiteral("中止") : BytesToText(result.FErrorText);
        return QStringLiteral("%1：%2").arg(project, why);
    }
    QStringList parts;
    if (result.FNewFailed > 0) {
        parts.append(QStringLiteral("新建失败 %1 项").arg(result.FNewFailed));
    }
    if (result.FUpdateFailed > 0) {
        parts.append(QStringLiteral("更新失败 %1 项").arg(result.FUpdateFailed));
    }
    if (result.FDeleteFailed > 0) {
        parts.append(QStringLiteral("删除失败 %1 项").arg(result.FDeleteFailed));
    }
    if (result.FCheckFailed > 0) {
        parts.append(QStringLiteral("%1 项无法检查").arg(result.FCheckFailed));
    }
    return parts.isEmpty() ? QString()
                           : QStringLiteral("%1：%2").arg(project, parts.join(QStringLiteral("，")));
}

QString DoneLine(const TProjectRunResult& result) {
    return QStringLiteral("%1：完成，新建 %2 项，更新 %3 项，删除 %4 项")
        .arg(BytesToText(result.FProjectName))
        .arg(result.FNewDone)
        .arg(result.FUpdateDone)
        .arg(result.FDeleteDone);
}

} // namespace

std::optional<TNotice> RunNotice(const TJobRunOutcome& outcome, TNotifyMode mode) {
    if (mode == TNotifyMode::Never) {
        return std::nullopt;
    }
    QStringList problems;
    for (const TProjectRunResult& result : outcome.FResults) {
        if (const QString line = ProblemLine(result); !line.isEmpty()) {
            problems.append(line);
        }
    }
    if (!outcome.FFailureText.empty()) {
        problems.append(QStringLiteral("任务中断：%1").arg(BytesToText(outcome.FFailureText)));
    }
    TNotice notice;
    notice.FJobName = outcome.FJobName;
    notice.FProblem = !problems.isEmpty();
    if (notice.FProblem) {
        notice.FTitle = QStringLiteral("任务\"%1\"同步失败").arg(outcome.FJobName);
        notice.FBody = problems.join(QLatin1Char('\n'));
        return notice;
    }
    if (mode != TNotifyMode::Always) {
        return std::nullopt;
    }
    QStringList lines;
    for (const TProjectRunResult& result : outcome.FResults) {
        lines.append(DoneLine(result));
    }
    notice.FTitle = QStringLiteral("任务\"%1\"同步完成").arg(outcome.FJobName);
    notice.FBody = lines.join(QLatin1Char('\n'));
    return notice;
}

std::optional<TNotice> StaleNotice(const QString& jobName, int days, TNotifyMode mode) {
    if (mode == TNotifyMode::Never) {
        return std::nullopt;
    }
    TNotice notice;
    notice.FJobName = jobName;
    notice.FProblem = true;
    notice.FTitle = QStringLiteral("任务\"%1\"已 %2 天未成功同步").arg(jobName).arg(days);
    notice.FBody = QStringLiteral("请查看日志，检查源文件夹和目标文件夹是否可用。");
    return notice;
}

TNotifier::TNotifier(const TIniFile& ini, TNoticeSink* sink, QObject* parent)
    : QObject(parent), FIniFile(ini), FSink(sink) {}

void TNotifier::Tell(const std::optional<TNotice>& notice) {
    if (notice && FSink) {
        FSink->Show(*notice);
    }
}

void TNotifier::JobRunEnded(const TJobRunOutcome& outcome) {
    Tell(RunNotice(outcome, ReadNotifyMode(FIniFile)));
}

void TNotifier::JobStale(const QString& jobName, int days, TDateTime now) {
    const TDateTime today = StartOfDay(now);
    const auto told = FStaleToldOn.constFind(jobName);
    if (told != FStaleToldOn.constEnd() && *told == today) {
        return;
    }
    const std::optional<TNotice> notice = StaleNotice(jobName, days, ReadNotifyMode(FIniFile));
    if (notice) {
        FStaleToldOn.insert(jobName, today);
    }
    Tell(notice);
}

#include "BackupSafety.h"

#include "ByteText.h"
#include "engine/check/DeleteGuard.h"
#include "engine/run/BackgroundRun.h"
#include "jobs/JobProcessor.h"

#include <QStringList>

QString DeleteGuardQuestion(const TProjectRecord& record, std::size_t sourceEntries,
                            std::size_t targetEntries, std::size_t deleteLines) {
    const TDeleteGuardVerdict verdict = WeighDeletions(record, sourceEntries, targetEntries, deleteLines);
    if (!verdict.FTripped) {
        return {};
    }
    return QStringLiteral("删除保护: 本次同步将删除 %1 项, 占目标的 %2%。\n"
                          "源文件夹可能未挂载或已被清空。\n"
                          "确实要同步并删除这些目标文件吗?")
        .arg(verdict.FDeletions)
        .arg(verdict.FPercent);
}

QString SourceMarkerRefusal(const TProjectRecord& record, const std::string& sourceRoot) {
    if (SourceMarkerProblem(record, sourceRoot).empty()) {
        return {};
    }
    return QStringLiteral("源文件夹无效: 缺少标记文件 %1").arg(BytesToText(record.FSourceMarker));
}

QString FlushFailureNotice(const std::string& reason) {
    return QString::fromStdString(ErrorFlushFailed) + QStringLiteral(": ") + BytesToText(reason);
}

QString DeleteGuardRowDetail(const std::vector<TProjectRunResult>& results) {
    QStringList refused;
    for (const TProjectRunResult& result : results) {
        if (IsDeleteGuardText(result.FErrorText)) {
            refused.append(BytesToText(result.FProjectName) + QStringLiteral(": ") +
                           BytesToText(result.FErrorText));
        }
    }
    return refused.join(QStringLiteral("; "));
}

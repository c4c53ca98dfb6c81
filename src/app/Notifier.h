#pragma once

#include "config/DateTime.h"
#include "jobs/JobProcessor.h"
#include "jobs/RunNotice.h"
#include "jobs/StaleAlert.h"

#include <QObject>
#include <QString>
#include <optional>
#include <string>
#include <vector>

class TIniFile;

// The window's side of "[system]" "Notify" (the rule itself is in jobs/RunNotice.h).
inline const QString NotifyOnFailureText = QStringLiteral("失败时");
inline const QString NotifyAlwaysText = QStringLiteral("总是");
inline const QString NotifyNeverText = QStringLiteral("从不");

TNotifyMode TextToNotifyMode(const QString& text);
QString NotifyModeToText(TNotifyMode mode);

// What a background run of a job came to.
struct TJobRunOutcome {
    QString FJobName;
    std::vector<TProjectRunResult> FResults;
    // The error that ended the run early, empty when none.
    std::string FFailureText;
};

// One desktop notification.
struct TNotice {
    QString FJobName;
    QString FTitle;
    QString FBody;
    // A failed item, a refused project, a stop or a stale backup.
    bool FProblem = false;
};

// ChooseRunNotice and ChooseStaleNotice for the window.
std::optional<TNotice> RunNotice(const TJobRunOutcome& outcome, TNotifyMode mode);
std::optional<TNotice> StaleNotice(const QString& jobName, int days, TNotifyMode mode);

// Where notices go. The window sends them to the desktop's notification
// service; tests watch them here.
class TNoticeSink {
public:
    virtual ~TNoticeSink() = default;
    virtual void Show(const TNotice& notice) = 0;
};

// Chooses what the desktop is told about the jobs, by the configuration's
// "Notify", and hands it to the sink.
class TNotifier : public QObject {
    Q_OBJECT
public:
    TNotifier(const TIniFile& ini, TNoticeSink* sink, QObject* parent = nullptr);

    void SetSink(TNoticeSink* sink) { FSink = sink; }

    // A background run of the job ended.
    void JobRunEnded(const TJobRunOutcome& outcome);
    // The job's row found its backup stale; told at most once a calendar day
    // per job, the daemon's notices and earlier starts included.
    void JobStale(const QString& jobName, int days, TDateTime now);

private:
    void Tell(const std::optional<TNotice>& notice);

    const TIniFile& FIniFile;
    TNoticeSink* FSink;
    TStaleNoticeDays FStaleNotices;
};

#pragma once

#include "Notifier.h"
#include "QueuedProgress.h"
#include "config/DateTime.h"
#include "jobs/Alarm.h"
#include "jobs/CatchUp.h"

#include <QFrame>
#include <QTimer>
#include <memory>

class TIniFile;
class TJobThread;
class TJobTriggers;
class TJobThreadKeeper;
class TRunLog;

namespace Ui {
class FrmItem;
}

// One enabled job's monitor row: its next run, the alarm that starts the job
// on a thread of its own, the run's progress, and the pause button.
class TFrmItem : public QFrame, public TProgressView {
    Q_OBJECT
public:
    enum TState { StateIdle = 0, StateRunning = 1 };

    // The keeper takes the runner of a row removed while its job runs.
    TFrmItem(TIniFile& iniFile, const TRunLog& runLog, TJobThreadKeeper& keeper, QWidget* parent = nullptr);
    ~TFrmItem() override;

    Ui::FrmItem& Controls() { return *ui; }
    const QString& JobName() const { return FJobName; }
    int State() const { return FState; }
    TDateTime NextRun() const { return FNextRun; }
    const TAlarm& Alarm() const { return FAlarm; }
    bool HasRunner() const { return FProcessor != nullptr; }
    TJobThread* Processor() const { return FProcessor.get(); }

    void SetJob(const QString& name);
    void SetState(int state);
    void SetNextRun(TDateTime time);
    void Reschedule();
    void SetInfo(const QString& text);
    void SetDetail(const QString& text);
    void SetDetailPath(const QString& status, const QString& path);

    // The alarm's check, every 450 ms: fires RxClock1Alarm at the armed
    // minute, or when a trigger of the job (catch-up, change, connect) asks.
    void CheckAlarm(TDateTime now, TSteadyTime steady = std::chrono::steady_clock::now());
    // The job's catch-up and its change and connect triggers.
    const TJobTriggers* Triggers() const { return FTriggers.get(); }
    // Another scheduler (the daemon) runs the configuration's jobs: the row
    // says so and runs nothing until it is handed back.
    void SetRunByService(bool byService);
    bool RunByService() const { return FRunByService; }
    // The stale-backup alert: while the job has gone "StaleDays" days without
    // a clean run the row is red and says "已 N 天未成功同步".
    void CheckStale(TDateTime now);
    // The days of a due alert, 0 when none is.
    int StaleDays() const { return FStaleDays; }
    void RxClock1Alarm();
    void ProcessorTerminated();
    void SpeedButton1Click();

    void ShowProgressStatus(const QString& text) override;
    void ShowProgressItem(const QString& prefix, const QString& path) override;
    void ShowProgressBar(std::size_t position, std::size_t maximum) override;

signals:
    // A run of this row's job began or ended.
    void RunStarted(const QString& jobName);
    void RunEnded(const QString& jobName);
    // How the run that just ended came out.
    void RunFinished(const TJobRunOutcome& outcome);
    // The stale alert is due at now (every check while it is).
    void StaleSeen(const QString& jobName, int days, TDateTime now);

private:
    TIniFile& FIniFile;
    const TRunLog& FRunLog;
    TJobThreadKeeper& FKeeper;
    std::unique_ptr<Ui::FrmItem> ui;

    QString FJobName;
    int FState = StateIdle;
    TDateTime FNextRun{};
    std::unique_ptr<TJobThread> FProcessor;
    std::unique_ptr<TQueuedProgress> FProgress;
    TAlarm FAlarm;
    QTimer FClock;
    std::unique_ptr<TJobTriggers> FTriggers;
    QTimer FStaleClock;
    int FStaleDays = 0;
    void ShowStale();
    bool FRunByService = false;

    void BeginTriggers();
    void ShowTriggerInfo();
};

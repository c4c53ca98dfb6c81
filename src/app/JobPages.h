#pragma once

#include "Notifier.h"
#include "jobs/JobRecord.h"
#include "jobs/JobThread.h"
#include "jobs/SchedulerLock.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

class QWidget;
class TFrmItem;
class TIniFile;
class TRunLog;

namespace Ui {
class JobEditorPage;
class AutoRunPage;
} // namespace Ui

// The job editor page and the automatic-run page with one monitor row per
// enabled job.
class TJobPages : public QObject {
    Q_OBJECT
public:
    TJobPages(TIniFile& iniFile, const TRunLog& runLog, QWidget* editorPage, QWidget* autoRunPage,
              QObject* parent = nullptr);
    ~TJobPages() override;

    Ui::JobEditorPage& Editor() { return *FEditor; }
    Ui::AutoRunPage& AutoRun() { return *FAutoRun; }
    QList<TFrmItem*> JobItems() const;
    // The window schedules the jobs only while it holds the configuration's
    // scheduler lock; while the daemon does, the rows say "由后台服务运行".
    bool SchedulesJobs() const { return FSchedulerLock->Result() != TSchedulerLock::HeldElsewhere; }

    void ListJobs();
    void LoadJob(const QString& name);
    void SaveJob(const QString& name);
    void DeleteJob(const QString& name);
    TJobRecord ShownJob() const;

    void BuildJobItems();
    void RefreshJobItem(const QString& name);
    void RemoveJobItem(const QString& name);
    // Ends every job run and waits for it; the rows stay.
    void StopAllRunners();
    // Removes every row, ending its run first; before the configuration goes.
    void RemoveAllJobItems();

    // The editor's project list follows the settings page's project box.
    void AutoJobExecute(const QStringList& projects);

    bool IsModified() const;
    void SetModified(bool modified);

    // Handlers.
    void cbJobClick(int index);
    void Button3Click();
    void Button4Click();
    void RbDayClick();
    void DateJobChange();
    void CbTimeChange();
    void BtnAddClick();
    void BtnDeleteClick();
    // "桌面通知" on the automatic-run page: stored at once as "[system]" "Notify".
    void cbNotifyChange(int index);

signals:
    // A row's background run ended, or found its backup stale.
    void JobRunFinished(const TJobRunOutcome& outcome);
    void JobStale(const QString& jobName, int days, TDateTime now);

private:
    TFrmItem* CreateJobItem(const QString& name);
    int FindJob(const QString& name) const;
    bool IsKnownProject(const QString& name) const;

    TIniFile& FIniFile;
    const TRunLog& FRunLog;
    std::unique_ptr<Ui::JobEditorPage> FEditor;
    std::unique_ptr<Ui::AutoRunPage> FAutoRun;
    QWidget* FEditorPanel = nullptr;
    QWidget* FAutoRunPanel = nullptr;
    TJobThreadKeeper FKeeper;
    QTimer FClockTimer;
    std::unique_ptr<TSchedulerLock> FSchedulerLock;
    // The shown job as last loaded: the keys this page has no control for.
    TJobRecord FLoadedJob;
};

#pragma once

#include <QObject>
#include <QStringList>

class QWidget;
class TIniFile;
class TRunLog;

// The job editor page and the automatic-run page with its monitor rows.
class TJobPages : public QObject {
    Q_OBJECT
public:
    TJobPages(TIniFile& iniFile, const TRunLog& runLog, QWidget* editorPage, QWidget* autoRunPage,
              QObject* parent = nullptr);
    ~TJobPages() override;

    // Fills the job box with the stored jobs and selects none.
    void ListJobs();
    // One monitor row per enabled job.
    void BuildJobItems();
    // Shows the project names in the editor's project list.
    void AutoJobExecute(const QStringList& projects);
    // Stops every running job and waits for it.
    void StopAllRunners();

private:
    TIniFile& FIniFile;
    const TRunLog& FRunLog;
    QWidget* FEditorPage;
    QWidget* FAutoRunPage;
};

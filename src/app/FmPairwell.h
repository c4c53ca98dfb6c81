#pragma once

#include "config/DateTime.h"
#include "config/IniFile.h"
#include "runlog/RunLog.h"

#include <QMainWindow>
#include <QString>
#include <atomic>
#include <exception>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWebEngineView;
class TDesktopNotices;
class TFmProcess;
class TNotifier;
class TJobPages;
class TResultsPage;
class TSettingsPage;
struct TMovePlan;

namespace Ui {
class FmPairwell;
}

// Where the window finds its files. The program itself uses the defaults;
// tests point it at a folder of their own.
struct TFmPairwellOptions {
    // The program's own files: the help page (beside the executable, or in
    // share/pairwell when installed).
    QString FProgramFolder;
    QString FConfigFileName;
    // The embedded browser of the log page.
    bool FWithBrowser = true;
    // Whether the desktop has a tray; asked of the system when not given.
    std::optional<bool> FTrayAvailable;
    // Whether notices go to the desktop's notification service on the
    // session bus; without it they go to the tray alone.
    bool FSessionBusNotices = true;
    // The program ssh runs to ask the window's passwords (SSH_ASKPASS): the
    // window's own. Empty: ssh is given none.
    QString FAskPassProgram;

    // The installed or build layout; a configuration file given on the
    // command line replaces the default one.
    static TFmPairwellOptions ForProgram(const std::string& configFileName = {});
};

// The main window: the toolbar and its five pages, the tray, and the
// interactive check and synchronisation.
class TFmPairwell : public QMainWindow {
    Q_OBJECT
public:
    explicit TFmPairwell(const TFmPairwellOptions& options, QWidget* parent = nullptr);
    ~TFmPairwell() override;

    Ui::FmPairwell& Controls() { return *ui; }
    TSettingsPage& SettingsPage() { return *FSettingsPage; }
    TResultsPage& ResultsPage() { return *FResultsPage; }
    TFmProcess& FmProcess() { return *FFmProcess; }
    TJobPages& JobPages() { return *FJobPages; }
    TNotifier& Notifier() { return *FNotifier; }
    TDesktopNotices& DesktopNotices() { return *FDesktopNotices; }
    TIniFile& IniFile() { return *FIniFile; }
    const TRunLog& RunLog() const { return *FRunLog; }
    bool IsRunning() const { return FRunning; }
    bool TrayAvailable() const { return FTrayAvailable; }
    QAction* TrayToggleAction() const { return Pairwell1; }

    // Actions.
    void FileCheckExecute();
    void FileUpdateExecute();
    void StopProcessExecute();
    void settingExecute();
    void ResultExecute();
    void ViewLogExecute();
    void ActPlanExecute();
    void AutoJobExecute();
    void showAboutExecute();
    void ActExitExecute();
    // SIGTERM or SIGINT: "关闭" without a person to ask. A run stops, unsaved
    // edits go to the working section, and nothing waits for an answer.
    void TerminateExecute();

    // Tray.
    void Pairwell1Click();
    void AppEvents1Minimize();
    void AppEvents1Restore();
    // A notice's action: the window comes back on its log page.
    void OpenLogPage();

    // Progress services of the interactive runs.
    void ShowProgressWindow(bool visible);
    bool StopRequested() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FormCreate();
    // Selects and loads the project the last close left shown; the first
    // project when none was ever stored.
    void ShowStartProject();
    // Stores the shown page or the shown project's name for the next start;
    // false when the configuration could not be written (the error was shown).
    bool StoreOnClose();
    // Ends the job runs and releases the run-log item buffer.
    void FormClose();
    void CreateTray();
    void CreateNotifier();
    void SetIcons();
    void ShowPage(QWidget* page, QAction* action);
    void ClearStopRequest();
    std::string ResolveFolder(const QString& typed) const;
    // Connects to the server of a folder on another machine, with the shown
    // project's ssh command, asking about an unknown host key; tells why it
    // cannot (invalidText: what the folder is then). True for a local folder.
    bool ReachRemoteFolder(const std::string& root, const std::string& invalidText);
    // Closes the progress window, reports what ended the run, and closes the
    // program when that was asked for during the run.
    void EndRun(std::exception_ptr failure);
    // The synchronisation itself, after its confirmation.
    // moves: what FindProjectMoves found in the memos before the question.
    void RunSynchronisation(const std::string& writeRoot, bool deployMode, const TMovePlan& moves);

    TFmPairwellOptions FOptions;
    std::unique_ptr<Ui::FmPairwell> ui;
    std::unique_ptr<TIniFile> FIniFile;
    std::unique_ptr<TRunLog> FRunLog;
    std::unique_ptr<TLogBuffer> FLogBuffer;
    TFmProcess* FFmProcess = nullptr;
    TSettingsPage* FSettingsPage = nullptr;
    TResultsPage* FResultsPage = nullptr;
    TJobPages* FJobPages = nullptr;
    TDesktopNotices* FDesktopNotices = nullptr;
    TNotifier* FNotifier = nullptr;
    QWebEngineView* WebBrowser1 = nullptr;
    QSystemTrayIcon* RxTrayIcon1 = nullptr;
    QMenu* RxPopupMenu1 = nullptr;
    QAction* Pairwell1 = nullptr;
    QAction* N1 = nullptr;
    bool FTrayAvailable = false;

    // The roots and project of the most recent check; a synchronisation
    // applies the memos joined to them.
    std::string FSourceRoot;
    std::string FTargetRoot;
    std::string FProjectName;
    std::string FDeployRoot;
    TDateTime FBeginTime;
    // The sizes of that check's indexes, for the deletion guard.
    std::size_t FCheckedSourceEntries = 0;
    std::size_t FCheckedTargetEntries = 0;

    // Mirrors the checked state of StopProcess for the run's thread.
    std::atomic<bool> FStopFlag{false};
    bool FRunning = false;
    // The progress window stands in for the main window.
    bool FProgressShown = false;
    // The main window comes back when the progress window closes.
    bool FShowAfterRun = false;
    bool FCloseAfterRun = false;
    bool FClosed = false;
    // Ending on a signal: errors go to standard error instead of a message box.
    bool FTerminating = false;
};

// The texts of the interactive runs.
inline const QString MsgInvalidSource = QStringLiteral("请选择有效的源文件夹!");
inline const QString MsgNoTarget = QStringLiteral("请选择目标文件夹!");
inline const QString MsgCheckDone = QStringLiteral("检查完成!");
inline const QString MsgSyncDone = QStringLiteral("同步完成!");
inline const QString MsgNoCheckYet = QStringLiteral("请先检查项目!");
inline const QString MsgInvalidDeploy = QStringLiteral("指定的发布目录无效");
inline const QString AskSyncWithDelete = QStringLiteral("将删除所有多余目标文件，是否确认要进行同步?");
inline const QString AskDeploy = QStringLiteral("是否确认要在发布目录中生成更新文件?");
inline const QString AskSync = QStringLiteral("是否开始同步?");
inline const QString AskCloseAnyway = QStringLiteral("配置文件无法写入，仍然关闭?");

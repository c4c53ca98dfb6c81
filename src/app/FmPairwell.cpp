#include "FmPairwell.h"

#include "Accessibility.h"
#include "AskPass.h"
#include "ByteText.h"
#include "DesktopNotices.h"
#include "FmProcess.h"
#include "FormServices.h"
#include "JobPages.h"
#include "LogPageRequests.h"
#include "Messages.h"
#include "Notifier.h"
#include "ResultsPage.h"
#include "SettingsPage.h"
#include "config/AsciiCase.h"
#include "config/CustomPublic.h"
#include "config/ProgramFolders.h"
#include "engine/volume/SftpVolume.h"
#include "runlog/RunLog.h"
#include "ui_FmPairwell.h"
#include "ui_SettingsPage.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWebEngineView>
#include <algorithm>
#include <iostream>

// The icons are compiled into the window's library, which a static link would
// otherwise leave out.
static void InitIconResources() {
    Q_INIT_RESOURCE(Pairwell);
}

TFmPairwellOptions TFmPairwellOptions::ForProgram(const std::string& configFileName) {
    TFmPairwellOptions options;
    const TProgramFolders folders =
        configFileName.empty() ? ProgramFolders() : ProgramFoldersWithConfig(configFileName);
    options.FProgramFolder = BytesToText(folders.FShareFolder);
    options.FConfigFileName = BytesToText(folders.FConfigFileName);
    options.FAskPassProgram = QCoreApplication::applicationFilePath();
    return options;
}

TFmPairwell::TFmPairwell(const TFmPairwellOptions& options, QWidget* parent)
    : QMainWindow(parent), FOptions(options), ui(std::make_unique<Ui::FmPairwell>()) {
    InitIconResources();
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFont(QFont(QStringLiteral("宋体"), 9));
    setFixedSize(547, 438);
    FTrayAvailable = FOptions.FTrayAvailable.value_or(QSystemTrayIcon::isSystemTrayAvailable());
    // A person sits at the window: ssh may ask for passwords, through the window's own dialog.
    SetSshMayPrompt(true, FOptions.FAskPassProgram.isEmpty() ? std::vector<std::string>()
                                                             : AskPassEnvironment(FOptions.FAskPassProgram));
    FormCreate();
    // Centred on the screen at start.
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen()->availableGeometry()));
}

TFmPairwell::~TFmPairwell() {
    // The rows and their runners use the configuration and the run log, which
    // are released with this window's members: end them first.
    FJobPages->RemoveAllJobItems();
    delete FJobPages;
}

void TFmPairwell::FormCreate() {
    FLogBuffer = std::make_unique<TLogBuffer>();
    FIniFile = std::make_unique<TIniFile>(TextToBytes(FOptions.FConfigFileName));
    FRunLog = std::make_unique<TRunLog>(LogFolderFor(FIniFile->FileName()));
    FFmProcess = new TFmProcess(this);

    const QString caption =
        QStringLiteral("Pairwell ") + QString::fromStdString(TFmCustomPublic::GetProductVersion());
    setWindowTitle(caption);
    CreateTray();

    FSettingsPage = new TSettingsPage(*FIniFile, ui->TabSheet5);
    ui->TabSheet5->layout()->addWidget(FSettingsPage);
    FResultsPage = new TResultsPage(ui->TabSheet6);
    ui->TabSheet6->layout()->addWidget(FResultsPage);
    FJobPages = new TJobPages(*FIniFile, *FRunLog, ui->TabSheet7, ui->TabItemHome, this);
    connect(FSettingsPage, &TSettingsPage::StayOnTopChanged, FFmProcess, &TFmProcess::SetStayOnTop);
    CreateNotifier();

    auto* pages = new QActionGroup(this);
    for (QAction* action : {ui->setting, ui->Result, ui->AutoJob, ui->ActPlan, ui->ViewLog}) {
        pages->addAction(action);
    }
    // The pages follow the checked state of their actions, however it changed:
    // a click, a key, or a screen reader's "Toggle", which checks the action
    // without triggering it. A click on the pressed button triggers only.
    const auto pageAction = [this](QAction* action, void (TFmPairwell::*execute)()) {
        connect(action, &QAction::triggered, this, execute);
        connect(action, &QAction::toggled, this, [this, execute](bool checked) {
            if (checked) {
                (this->*execute)();
            }
        });
    };
    pageAction(ui->setting, &TFmPairwell::settingExecute);
    pageAction(ui->Result, &TFmPairwell::ResultExecute);
    pageAction(ui->AutoJob, &TFmPairwell::AutoJobExecute);
    pageAction(ui->ActPlan, &TFmPairwell::ActPlanExecute);
    pageAction(ui->ViewLog, &TFmPairwell::ViewLogExecute);
    // Queued: a run turns the event loop until it ends, and whoever pressed the
    // button (a screen reader over the accessibility bus, say) gets its answer
    // at once instead.
    connect(ui->FileCheck, &QAction::triggered, this, &TFmPairwell::FileCheckExecute, Qt::QueuedConnection);
    connect(ui->FileUpdate, &QAction::triggered, this, &TFmPairwell::FileUpdateExecute, Qt::QueuedConnection);
    connect(ui->showAbout, &QAction::triggered, this, &TFmPairwell::showAboutExecute);
    connect(ui->StopProcess, &QAction::triggered, this, &TFmPairwell::StopProcessExecute);
    connect(ui->ActExit, &QAction::triggered, this, &TFmPairwell::ActExitExecute);
    // Esc reaches the stop action from the main window and from the progress window.
    addAction(ui->StopProcess);
    FFmProcess->addAction(ui->StopProcess);
    addAction(ui->showAbout);
    SetIcons();
    if (FTrayAvailable) {
        RxTrayIcon1->show();
    }

    HidePageTabs(ui->PageControl2);
    ui->PageControl2->setCurrentWidget(ui->TabSheet5);
    ui->setting->trigger();
    FSettingsPage->Controls().Time1->setDateTime(QDateTime::currentDateTime());
    if (FOptions.FWithBrowser) {
        // The log's table is read to a screen reader like every other page;
        // on Linux the web engine leaves its accessibility off unless asked
        // before it starts.
        if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY")) {
            qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
        }
        WebBrowser1 = new QWebEngineView(ui->TabSheet4);
        WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
        ui->TabSheet4->layout()->addWidget(WebBrowser1);
        WebBrowser1->setUrl(QUrl::fromLocalFile(
            QDir(BytesToText(FRunLog->LogFolder())).filePath(QStringLiteral("index.htm"))));
    }

    FSettingsPage->ListProjects();
    ShowStartProject();
    FJobPages->ListJobs();
    FJobPages->BuildJobItems();

    AssignAccessibleNames(this);
    AssignAccessibleNames(FFmProcess);
}

void TFmPairwell::ShowStartProject() {
    const TIniFile::TValues system = FIniFile->ReadSectionValues("system");
    const bool stored = std::any_of(system.begin(), system.end(), [](const auto& value) {
        return SameTextIgnoringAsciiCase(value.first, "project");
    });
    const QComboBox* box = FSettingsPage->Controls().cbProject;
    if (!stored && box->count() > 0) {
        // Nothing was ever closed on this configuration (a file written by
        // hand or by pairwell-cli): its first project rather than an empty page.
        FSettingsPage->SelectProject(box->itemText(0));
        FSettingsPage->LoadProject(FSettingsPage->ShownProjectName());
        return;
    }
    // A blank name is what a close with unsaved edits leaves: the working section.
    const std::string shown = ValueOf(system, "project", "");
    FSettingsPage->SelectProject(shown.empty() ? QString() : BytesToText(shown));
    FSettingsPage->LoadProject(FSettingsPage->ShownProjectName());
}

void TFmPairwell::CreateTray() {
    RxPopupMenu1 = new QMenu(this);
    Pairwell1 = RxPopupMenu1->addAction(QStringLiteral("隐藏"));
    Pairwell1->setObjectName(QStringLiteral("Pairwell1"));
    RxPopupMenu1->addSeparator();
    N1 = ui->ActExit;
    RxPopupMenu1->addAction(N1);
    connect(Pairwell1, &QAction::triggered, this, &TFmPairwell::Pairwell1Click);

    RxTrayIcon1 = new QSystemTrayIcon(this);
    RxTrayIcon1->setObjectName(QStringLiteral("RxTrayIcon1"));
    RxTrayIcon1->setToolTip(windowTitle());
    RxTrayIcon1->setContextMenu(RxPopupMenu1);
    connect(RxTrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::MiddleClick) {
            Pairwell1Click(); // a right click opens the menu instead
        }
    });
}

// Background runs and stale backups are told on the desktop; the rows report
// from their first check on, so this comes before they are built.
void TFmPairwell::CreateNotifier() {
    const QDBusConnection bus = FOptions.FSessionBusNotices
                                    ? QDBusConnection::sessionBus()
                                    : QDBusConnection(QStringLiteral("pairwell-no-bus"));
    FDesktopNotices = new TDesktopNotices(
        bus,
        [this](const TNotice& notice) {
            if (FTrayAvailable) {
                RxTrayIcon1->showMessage(notice.FTitle, notice.FBody,
                                         notice.FProblem ? QSystemTrayIcon::Warning
                                                         : QSystemTrayIcon::Information);
            }
        },
        this);
    FNotifier = new TNotifier(*FIniFile, FDesktopNotices, this);
    connect(FJobPages, &TJobPages::JobRunFinished, FNotifier, &TNotifier::JobRunEnded);
    connect(FJobPages, &TJobPages::JobStale, FNotifier, &TNotifier::JobStale);
    connect(FDesktopNotices, &TDesktopNotices::OpenLogRequested, this, &TFmPairwell::OpenLogPage);
    connect(RxTrayIcon1, &QSystemTrayIcon::messageClicked, this, &TFmPairwell::OpenLogPage);
    // The daemon's notices ask for the log page through this.
    auto* requests = new TLogPageRequests(TextToBytes(FOptions.FConfigFileName), this);
    connect(requests, &TLogPageRequests::ShowLogRequested, this, &TFmPairwell::OpenLogPage);
}

void TFmPairwell::OpenLogPage() {
    if (Pairwell1->text() == QStringLiteral("显示")) {
        Pairwell1Click();
    }
    ViewLogExecute();
}

void TFmPairwell::SetIcons() {
    const QIcon appIcon =
        QIcon::fromTheme(QStringLiteral("pairwell"), QIcon(QStringLiteral(":/icons/pairwell.svg")));
    setWindowIcon(appIcon);
    QApplication::setWindowIcon(appIcon);
    RxTrayIcon1->setIcon(appIcon);
    const auto set = [](QAction* action, const char* theme, const char* bundled) {
        action->setIcon(
            QIcon::fromTheme(QString::fromLatin1(theme),
                             QIcon(QStringLiteral(":/icons/toolbar/") + QString::fromLatin1(bundled))));
    };
    set(ui->FileCheck, "edit-find", "check.svg");
    set(ui->FileUpdate, "view-refresh", "sync.svg");
    set(ui->showAbout, "help-about", "about.svg");
    set(ui->Result, "view-list-details", "result.svg");
    set(ui->setting, "preferences-system", "settings.svg");
    set(ui->AutoJob, "x-office-calendar", "job.svg");
    set(ui->ViewLog, "text-x-generic", "log.svg");
    set(ui->ActPlan, "appointment-soon", "auto.svg");
    set(ui->ActExit, "application-exit", "exit.svg");
    Pairwell1->setIcon(QIcon::fromTheme(QStringLiteral("window-minimize"),
                                        QIcon(QStringLiteral(":/icons/toolbar/hide.svg"))));
}

void TFmPairwell::ShowPage(QWidget* page, QAction* action) {
    ui->PageControl2->setCurrentWidget(page);
    action->setChecked(true);
}

void TFmPairwell::settingExecute() {
    ShowPage(ui->TabSheet5, ui->setting);
}

void TFmPairwell::ResultExecute() {
    ShowPage(ui->TabSheet6, ui->Result);
}

void TFmPairwell::ViewLogExecute() {
    ShowPage(ui->TabSheet4, ui->ViewLog);
}

void TFmPairwell::ActPlanExecute() {
    ShowPage(ui->TabItemHome, ui->ActPlan);
}

void TFmPairwell::AutoJobExecute() {
    ShowPage(ui->TabSheet7, ui->AutoJob);
    QStringList projects;
    const QComboBox* box = FSettingsPage->Controls().cbProject;
    for (int i = 0; i < box->count(); ++i) {
        projects.append(box->itemText(i));
    }
    FJobPages->AutoJobExecute(projects);
}

void TFmPairwell::showAboutExecute() {
    const QString help = QDir(FOptions.FProgramFolder).filePath(QStringLiteral("Pairwell使用说明.html"));
    QDesktopServices::openUrl(QUrl::fromLocalFile(help));
}

// Tray toggle: "显示" brings the program back, "隐藏" sends it to the tray.
void TFmPairwell::Pairwell1Click() {
    if (Pairwell1->text() == QStringLiteral("显示")) {
        if (FProgressShown) {
            // The main window stays hidden while a run goes on, and comes back after it.
            FShowAfterRun = true;
            FFmProcess->show();
            FFmProcess->raise();
            FFmProcess->activateWindow();
        } else {
            showNormal();
            raise();
            activateWindow();
        }
        AppEvents1Restore();
    } else {
        if (FProgressShown) {
            FShowAfterRun = false; // the run's end leaves the program in the tray
            FFmProcess->hide();
        }
        hide();
        AppEvents1Minimize();
    }
}

void TFmPairwell::AppEvents1Minimize() {
    Pairwell1->setText(QStringLiteral("显示"));
}

void TFmPairwell::AppEvents1Restore() {
    Pairwell1->setText(QStringLiteral("隐藏"));
}

void TFmPairwell::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && FTrayAvailable) {
        // Minimising sends the program to the tray, without a task-bar button.
        QMetaObject::invokeMethod(
            this,
            [this] {
                hide();
                setWindowState(windowState() & ~Qt::WindowMinimized);
                AppEvents1Minimize();
            },
            Qt::QueuedConnection);
    }
}

void TFmPairwell::ActExitExecute() {
    ui->ActExit->setChecked(true);
    if (FRunning) {
        // The run ends at its next poll; the window closes after it.
        FCloseAfterRun = true;
        StopProcessExecute();
        return;
    }
    close();
}

void TFmPairwell::TerminateExecute() {
    FTerminating = true;
    if (!FClosed) {
        ActExitExecute();
    }
}

void TFmPairwell::closeEvent(QCloseEvent* event) {
    const bool mayClose = ui->ActExit->isChecked() || !FTrayAvailable;
    if (!mayClose) {
        event->ignore();
        Pairwell1Click(); // hides a shown window; a close request while hidden brings it back
        return;
    }
    if (FRunning) {
        event->ignore();
        FCloseAfterRun = true;
        StopProcessExecute();
        return;
    }
    if (!FClosed && !StoreOnClose() && !FTerminating && !AskQuestion(this, AskCloseAnyway)) {
        // The program goes on as it was; "关闭" may be chosen again.
        event->ignore();
        ui->ActExit->setChecked(false);
        FCloseAfterRun = false;
        return;
    }
    FormClose();
    event->accept();
    RxTrayIcon1->hide();
    QApplication::quit();
}

bool TFmPairwell::StoreOnClose() {
    const auto store = [this] {
        if (FSettingsPage->IsModified()) {
            FSettingsPage->SaveProject(QString());
            FIniFile->WriteString("system", "project", "");
        } else {
            FIniFile->WriteString("system", "project", TextToBytes(FSettingsPage->ShownProjectName()));
        }
        FIniFile->UpdateFile();
    };
    if (FTerminating) {
        try {
            store();
            return true;
        } catch (const std::exception& error) {
            std::cerr << "pairwell: " << error.what() << '\n';
            return false;
        }
    }
    return WriteOrShowError(this, store);
}

void TFmPairwell::FormClose() {
    if (FClosed) {
        return;
    }
    FClosed = true;
    FJobPages->StopAllRunners(); // nothing may use the configuration after it is released
    FLogBuffer.reset();
}

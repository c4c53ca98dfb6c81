// Telling the user: which ends of background runs are notified under each
// "Notify" value, a real run's notice, the stale-backup alert on its row,
// one real call to a notification service on a private D-Bus bus, and the
// daemon's notices through that service or its standard error.

#include "Notifier.h"
#include "DesktopNotices.h"
#include "FrmItem.h"
#include "JobPages.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "jobs/JobState.h"
#include "jobs/SchedulerLock.h"
#include "ui_AutoRunPage.h"
#include "ui_FmPairwell.h"
#include "ui_FrmItem.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

namespace {

// Keeps every notice it is shown.
class TRecordedNotices : public TNoticeSink {
public:
    void Show(const TNotice& notice) override { FNotices.append(notice); }
    QList<TNotice> FNotices;
};

TProjectRunResult Project(const char* name, bool completed, const char* error = "") {
    TProjectRunResult result;
    result.FProjectName = name;
    result.FCompleted = completed;
    result.FErrorText = error;
    return result;
}

TFrmItem* RowOf(TFmPairwell& window, const QString& job) {
    for (TFrmItem* row : window.JobPages().JobItems()) {
        if (row->JobName() == job) {
            return row;
        }
    }
    return nullptr;
}

// Starts a private session bus of the test's own; returns its address.
QString StartPrivateBus(QProcess& bus) {
    bus.start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
              {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!bus.waitForStarted() || !bus.waitForReadyRead(10000)) {
        return {};
    }
    while (!bus.canReadLine() && bus.waitForReadyRead(1000)) {
    }
    return QString::fromUtf8(bus.readLine()).trimmed();
}

} // namespace

// A minimal notification service, as a desktop's would answer.
class TTestNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct TCall {
        QString FApp, FSummary, FBody;
        QStringList FActions;
        uint FId = 0;
    };
    QList<TCall> FCalls;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        FCalls.append({app, summary, body, actions, 41 + static_cast<uint>(FCalls.size())});
        return FCalls.back().FId;
    }
};

class NotifierTest : public QObject {
    Q_OBJECT
private slots:
    void TheNoticeChosenForEachOutcomeAndEachNotifyValue() {
        QCOMPARE(TextToNotifyMode(QString()), TNotifyMode::OnFailure); // absent key
        QCOMPARE(TextToNotifyMode(QStringLiteral("总是")), TNotifyMode::Always);
        QCOMPARE(TextToNotifyMode(QStringLiteral("从不")), TNotifyMode::Never);
        QCOMPARE(TextToNotifyMode(QStringLiteral("sometimes")), TNotifyMode::OnFailure);

        TProjectRunResult failedItems = Project("照片", true);
        failedItems.FUpdateFailed = 2;
        TProjectRunResult unreadable = Project("照片", true);
        unreadable.FCheckFailed = 1;
        TProjectRunResult done = Project("文档", true);
        done.FNewDone = 3;
        struct TCase {
            const char* FWhat;
            TJobRunOutcome FOutcome;
            QString FBody; // the line naming the project and what failed; empty: a clean run
        };
        const std::string guard = "删除保护: 计划删除 12 项, 占目标的 60%";
        const QList<TCase> cases = {
            {"clean", {QStringLiteral("夜间"), {done}, ""}, QString()},
            {"failed items",
             {QStringLiteral("夜间"), {done, failedItems}, ""},
             QStringLiteral("照片：更新失败 2 项")},
            {"unreadable entries",
             {QStringLiteral("夜间"), {unreadable}, ""},
             QStringLiteral("照片：1 项无法检查")},
            {"refused folder",
             {QStringLiteral("夜间"), {Project("照片", false, "源文件夹无效"), done}, ""},
             QStringLiteral("照片：源文件夹无效")},
            {"deletion guard",
             {QStringLiteral("夜间"), {Project("照片", false, guard.c_str())}, ""},
             QStringLiteral("照片：删除保护: 计划删除 12 项, 占目标的 60%")},
            {"stop",
             {QStringLiteral("夜间"), {done, Project("照片", false)}, ""},
             QStringLiteral("照片：中止")},
            {"run error",
             {QStringLiteral("夜间"), {done}, "日志无法写入"},
             QStringLiteral("任务中断：日志无法写入")},
        };
        for (const TCase& c : cases) {
            const bool problem = !c.FBody.isEmpty();
            QVERIFY2(!RunNotice(c.FOutcome, TNotifyMode::Never), c.FWhat);
            const std::optional<TNotice> onFailure = RunNotice(c.FOutcome, TNotifyMode::OnFailure);
            const std::optional<TNotice> always = RunNotice(c.FOutcome, TNotifyMode::Always);
            QCOMPARE(onFailure.has_value(), problem);
            QVERIFY2(always.has_value(), c.FWhat);
            QCOMPARE(always->FProblem, problem);
            if (problem) {
                QCOMPARE(onFailure->FTitle, QStringLiteral("任务\"夜间\"同步失败"));
                QVERIFY2(onFailure->FBody.split(QLatin1Char('\n')).contains(c.FBody),
                         qPrintable(onFailure->FBody));
                QVERIFY2(!onFailure->FBody.contains(QStringLiteral("文档")), c.FWhat); // only what failed
            } else {
                QCOMPARE(always->FTitle, QStringLiteral("任务\"夜间\"同步完成"));
                QCOMPARE(always->FBody, QStringLiteral("文档：完成，新建 3 项，更新 0 项，删除 0 项"));
            }
        }
        QVERIFY(!StaleNotice(QStringLiteral("夜间"), 4, TNotifyMode::Never));
        QCOMPARE(StaleNotice(QStringLiteral("夜间"), 4, TNotifyMode::OnFailure)->FTitle,
                 QStringLiteral("任务\"夜间\"已 4 天未成功同步"));
    }

    void ARowsFailedRunIsToldAndNotifyIsChosenOnTheAutoRunPage() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_Bad", "source", folder.Bytes(QStringLiteral("missing")));
            ini.WriteString("project_Bad", "target", folder.Bytes(QStringLiteral("dst")));
            ini.WriteString("job_J", "CbJobValid", "True");
            ini.WriteString("job_J", "RbDay", "True");
            ini.WriteString("job_J", "DateJob", "2005-01-01 17:30:00");
            ini.WriteString("job-project_J", "0", "Bad");
        }
        auto window = folder.OpenWindow();
        TRecordedNotices recorded;
        window->Notifier().SetSink(&recorded);
        Ui::AutoRunPage& page = window->JobPages().AutoRun();
        QCOMPARE(page.cbNotify->currentText(), QStringLiteral("失败时"));
        QCOMPARE(page.cbNotify->accessibleName(), QStringLiteral("桌面通知(N):"));

        TFrmItem* row = RowOf(*window, QStringLiteral("J"));
        const auto runOnce = [&] {
            bool ended = false;
            const auto connection = connect(row, &TFrmItem::RunEnded, this, [&] { ended = true; });
            row->RxClock1Alarm();
            const bool done = WaitUntil([&] { return ended; });
            disconnect(connection);
            return done;
        };
        QVERIFY(runOnce());
        QCOMPARE(recorded.FNotices.size(), 1);
        QCOMPARE(recorded.FNotices[0].FJobName, QStringLiteral("J"));
        QCOMPARE(recorded.FNotices[0].FBody, QStringLiteral("Bad：源文件夹无效"));

        // The notice's action brings the window back on its log page.
        window->Pairwell1Click();
        QVERIFY(!window->isVisible());
        emit window->DesktopNotices().OpenLogRequested();
        QVERIFY(window->isVisible());
        QCOMPARE(window->Controls().PageControl2->currentWidget(), window->Controls().TabSheet4);

        page.cbNotify->setCurrentIndex(2);
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("system", "Notify", ""), std::string("从不"));
        QVERIFY(runOnce());
        QCOMPARE(recorded.FNotices.size(), 1);
        window->Notifier().SetSink(nullptr);
    }

    // On a clock of the test's own, never the wall clock's: the state lies in
    // the future, so the rows' own checks on the wall clock see nothing.
    void AStaleJobsRowTurnsRedAndIsToldOnceADay() {
        const TDateTime now = EncodeDateTime({2099, 3, 10, 9, 0, 0, 0});
        const auto later = [&](long long hours) { return TDateTime{now.FMilliseconds + hours * 3600'000LL}; };
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            for (const std::string job : {"Usb", "Fresh"}) {
                ini.WriteString("job_" + job, "CbJobValid", "True");
                ini.WriteString("job_" + job, "RbDay", "True");
                ini.WriteString("job_" + job, "DateJob", "2005-01-01 17:30:00");
                ini.WriteString("job_" + job, "StaleDays", "3");
            }
            const TJobState state(ini.FileName());
            const TDateTime fiveDaysAgo{now.FMilliseconds - 5 * 86'400'000LL - 60'000};
            state.RecordStart("Usb", fiveDaysAgo);
            state.RecordEnd("Usb", fiveDaysAgo, true);
            state.RecordStart("Usb", later(-24));
            state.RecordEnd("Usb", later(-24), false); // failed since
            state.RecordStart("Fresh", fiveDaysAgo);
            state.RecordEnd("Fresh", later(-1), true);
        }
        auto window = folder.OpenWindow();
        TRecordedNotices recorded;
        window->Notifier().SetSink(&recorded);
        TFrmItem* usb = RowOf(*window, QStringLiteral("Usb"));
        TFrmItem* fresh = RowOf(*window, QStringLiteral("Fresh"));
        usb->CheckStale(now);
        fresh->CheckStale(now);
        QCOMPARE(usb->StaleDays(), 5);
        QCOMPARE(usb->Controls().LabDetail->text(), QStringLiteral("已 5 天未成功同步"));
        QVERIFY(usb->styleSheet().contains(QStringLiteral("background-color")));
        QCOMPARE(fresh->StaleDays(), 0);
        QVERIFY(fresh->Controls().LabDetail->text().isEmpty() && fresh->styleSheet().isEmpty());

        // Told once a calendar day: not again at 23:00, again the next morning.
        QCOMPARE(recorded.FNotices.size(), 1);
        QCOMPARE(recorded.FNotices[0].FTitle, QStringLiteral("任务\"Usb\"已 5 天未成功同步"));
        QCOMPARE(recorded.FNotices[0].FJobName, QStringLiteral("Usb"));
        usb->CheckStale(later(14));
        QCOMPARE(recorded.FNotices.size(), 1);
        usb->CheckStale(later(24));
        QCOMPARE(recorded.FNotices.size(), 2);
        QCOMPARE(recorded.FNotices[1].FTitle, QStringLiteral("任务\"Usb\"已 6 天未成功同步"));

        // Started again the same day: the state file says it was told.
        window->Notifier().SetSink(nullptr);
        window.reset();
        window = folder.OpenWindow();
        window->Notifier().SetSink(&recorded);
        usb = RowOf(*window, QStringLiteral("Usb"));
        usb->CheckStale(later(30));
        QCOMPARE(recorded.FNotices.size(), 2);

        // Switched off in the editor: the row is plain again.
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        ini.WriteString("job_Usb", "StaleDays", "0");
        usb->CheckStale(later(31));
        QCOMPARE(usb->StaleDays(), 0);
        QVERIFY(usb->Controls().LabDetail->text().isEmpty() && usb->styleSheet().isEmpty());
        window->Notifier().SetSink(nullptr);
    }

    void ARealNotificationServiceGetsTheCallAndItsActionOpensTheLog() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            QSKIP("dbus-daemon is not installed");
        }
        QProcess bus;
        const QString address = StartPrivateBus(bus);
        QVERIFY2(!address.isEmpty(), "dbus-daemon printed no address");

        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("service"));
        QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        QVERIFY(service.isConnected() && client.isConnected());

        QList<TNotice> fallback;
        TDesktopNotices notices(client, [&](const TNotice& notice) { fallback.append(notice); });
        bool openLog = false;
        connect(&notices, &TDesktopNotices::OpenLogRequested, this, [&] { openLog = true; });
        QList<uint> delivered;
        connect(&notices, &TDesktopNotices::Delivered, this, [&](uint id) { delivered.append(id); });

        // No service on the bus yet: the tray's message instead.
        TNotice notice{QStringLiteral("夜间"), QStringLiteral("任务\"夜间\"同步失败"),
                       QStringLiteral("照片<1>：源文件夹无效"), true};
        notices.Show(notice);
        QVERIFY(WaitUntil([&] { return fallback.size() == 1; }));

        TTestNotificationService server;
        QVERIFY(service.registerObject(NotificationsPath, &server, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(NotificationsService));
        notices.Show(notice);
        QVERIFY(WaitUntil([&] { return delivered.size() == 1; }));
        QCOMPARE(fallback.size(), 1);
        QCOMPARE(server.FCalls.size(), 1);
        QCOMPARE(server.FCalls[0].FApp, QStringLiteral("Pairwell"));
        QCOMPARE(server.FCalls[0].FSummary, notice.FTitle);
        QCOMPARE(server.FCalls[0].FBody, notice.FBody); // this service shows no markup: as it is
        QCOMPARE(server.FCalls[0].FActions,
                 (QStringList{QStringLiteral("default"), QStringLiteral("查看日志")}));

        // Another notice's action is not ours; ours opens the log.
        const auto invoke = [&](uint id) {
            QDBusMessage signal = QDBusMessage::createSignal(NotificationsPath, NotificationsInterface,
                                                             QStringLiteral("ActionInvoked"));
            signal << id << QStringLiteral("default");
            service.send(signal);
        };
        invoke(7);
        QTest::qWait(200);
        QVERIFY(!openLog);
        invoke(delivered[0]);
        QVERIFY(WaitUntil([&] { return openLog; }));

        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        bus.terminate();
        bus.waitForFinished();
    }

    // The daemon without a window tells the same notices (a failed run, the
    // stale alert once a day, restarts included) through the session's
    // service, by "Notify" as it is read again, with the action that opens
    // the log; with no bus it writes them to its standard error.
    void TheDaemonNotifiesThroughTheServiceOrItsStandardError() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            QSKIP("dbus-daemon is not installed");
        }
        TProgramFolder folder;
        QDir(folder.Path()).mkpath(QStringLiteral("src"));
        QDir(folder.Path()).mkpath(QStringLiteral("old"));
        WriteFile(folder.File(QStringLiteral("file")), "a file where the target folder should be");
        const QString config = folder.File(QStringLiteral("pairwell.ini"));
        {
            TIniFile ini(config.toStdString());
            ini.WriteString("project_Bad", "source", folder.Bytes(QStringLiteral("src")));
            ini.WriteString("project_Bad", "target", folder.Bytes(QStringLiteral("file")));
            ini.WriteString("project_Old", "source", folder.Bytes(QStringLiteral("old")));
            ini.WriteString("project_Old", "target", folder.Bytes(QStringLiteral("old")));
            for (const std::string job : {"J", "Usb"}) {
                ini.WriteString("job_" + job, "CbJobValid", "True");
                ini.WriteString("job_" + job, "RbChange", "True");
                ini.WriteString("job_" + job, "QuietSeconds", "0");
                ini.WriteString("job_" + job, "MinIntervalSeconds", "0");
            }
            ini.WriteString("job-project_J", "0", "Bad");
            ini.WriteString("job-project_Usb", "0", "Old");
            ini.WriteString("job_Usb", "StaleDays", "2");
            TJobState(ini.FileName())
                .RecordStart("Usb", TDateTime{Now().FMilliseconds - 3 * 86'400'000LL - 60'000});
        }
        // Where the daemon's xdg-open writes what it was asked to open.
        const QString opened = folder.File(QStringLiteral("opened.txt"));
        WriteFile(folder.File(QStringLiteral("bin/xdg-open")),
                  "#!/bin/sh\necho \"$1\" >> '" + opened.toUtf8() + "'\n");
        QFile::setPermissions(folder.File(QStringLiteral("bin/xdg-open")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const auto startDaemon = [&](QProcess& daemon, const QString& busAddress) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
            environment.remove(QStringLiteral("DISPLAY"));
            environment.insert(QStringLiteral("PATH"), folder.File(QStringLiteral("bin")) + ':' +
                                                           environment.value(QStringLiteral("PATH")));
            daemon.setProcessEnvironment(environment);
            daemon.start(QDir(qEnvironmentVariable("PAIRWELL_BIN")).filePath(QStringLiteral("pairwell-cli")),
                         {QStringLiteral("--config"), config, QStringLiteral("daemon")});
            return daemon.waitForStarted() &&
                   WaitUntil([&] { return SchedulerLockHeld(config.toStdString()); });
        };
        int change = 0;
        const auto runJ = [&](QProcess& daemon, QString& err) {
            const qsizetype endsBefore = err.count(QStringLiteral("job J ended"));
            QTest::qWait(600); // the daemon watches the source
            WriteFile(folder.File(QStringLiteral("src/%1.txt").arg(++change)), "x");
            return WaitUntil([&] {
                err += QString::fromUtf8(daemon.readAllStandardError());
                return err.count(QStringLiteral("job J ended")) > endsBefore;
            });
        };
        const QString failedTitle = QStringLiteral("任务\"J\"同步失败");
        const QString staleTitle = QStringLiteral("任务\"Usb\"已 3 天未成功同步");

        QProcess bus;
        const QString address = StartPrivateBus(bus);
        QVERIFY2(!address.isEmpty(), "dbus-daemon printed no address");
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("daemon-service"));
        TTestNotificationService server;
        QVERIFY(service.registerObject(NotificationsPath, &server, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(NotificationsService));
        QString err;
        {
            QProcess daemon;
            QVERIFY(startDaemon(daemon, address));
            QVERIFY(WaitUntil([&] { return server.FCalls.size() == 1; }));
            QCOMPARE(server.FCalls[0].FSummary, staleTitle);
            QVERIFY(runJ(daemon, err));
            QVERIFY(WaitUntil([&] { return server.FCalls.size() == 2; }));
            QCOMPARE(server.FCalls[1].FApp, QStringLiteral("Pairwell"));
            QCOMPARE(server.FCalls[1].FSummary, failedTitle);
            QCOMPARE(server.FCalls[1].FBody, QStringLiteral("Bad：新建失败 1 项"));

            // Its action opens the log viewer through xdg-open while no window
            // runs, and brings a window on this configuration to its log page.
            QCOMPARE(server.FCalls[1].FActions,
                     (QStringList{QStringLiteral("default"), QStringLiteral("查看日志")}));
            const auto invoke = [&](uint id) {
                QDBusMessage signal = QDBusMessage::createSignal(NotificationsPath, NotificationsInterface,
                                                                 QStringLiteral("ActionInvoked"));
                signal << id << QStringLiteral("default");
                service.send(signal);
            };
            invoke(server.FCalls[1].FId + 100); // not its notice
            invoke(server.FCalls[1].FId);
            QVERIFY(WaitUntil([&] { return !ReadFile(opened).isEmpty(); }));
            QCOMPARE(QString::fromUtf8(ReadFile(opened)),
                     folder.File(QStringLiteral("log/index.htm")) + "\n");
            {
                auto window = folder.OpenWindow();
                window->Pairwell1Click();
                QVERIFY(!window->isVisible());
                invoke(server.FCalls[1].FId);
                QVERIFY(WaitUntil([&] { return window->isVisible(); }));
                QCOMPARE(window->Controls().PageControl2->currentWidget(), window->Controls().TabSheet4);
            }
            QCOMPARE(QString::fromUtf8(ReadFile(opened)).count(QLatin1Char('\n')), 1);

            TIniFile(config.toStdString()).WriteString("system", "Notify", "从不");
            QVERIFY(WaitUntil([&] {
                err += QString::fromUtf8(daemon.readAllStandardError());
                return err.contains(QStringLiteral("configuration changed"));
            }));
            QVERIFY(runJ(daemon, err));
            QTest::qWait(300);
            QCOMPARE(server.FCalls.size(), 2);
            QVERIFY2(!err.contains(QStringLiteral("notice:")), qPrintable(err));
            daemon.terminate();
            QVERIFY(daemon.waitForFinished(20000));
        }
        const std::optional<TDateTime> firstToldOn =
            TJobState(config.toStdString()).Read("Usb").FLastStaleNotice;
        QVERIFY(firstToldOn.has_value());
        QDBusConnection::disconnectFromBus(QStringLiteral("daemon-service"));
        bus.terminate();
        bus.waitForFinished();

        // No bus: one line each on standard error, for the journal.
        TIniFile(config.toStdString()).WriteString("system", "Notify", "失败时");
        QProcess daemon;
        QVERIFY(startDaemon(daemon, QStringLiteral("unix:path=") + folder.File(QStringLiteral("no-bus"))));
        err.clear();
        QVERIFY(runJ(daemon, err));
        // Three files of src now fail to be made where the target is a file.
        const QString failedLine =
            QStringLiteral("notice: ") + failedTitle + QStringLiteral(": Bad：新建失败 3 项\n");
        const bool told = WaitUntil([&] {
            err += QString::fromUtf8(daemon.readAllStandardError());
            return err.contains(failedLine);
        });
        QVERIFY2(told, qPrintable(err));
        // The stale alert is told again only on another day than the first
        // daemon's notice, as the state file keeps it across the restart.
        const std::optional<TDateTime> toldAgainOn =
            TJobState(config.toStdString()).Read("Usb").FLastStaleNotice;
        QCOMPARE(err.contains(QStringLiteral("notice: ") + staleTitle + QStringLiteral(": ")),
                 toldAgainOn != firstToldOn);
        daemon.terminate();
        QVERIFY(daemon.waitForFinished(20000));
    }
};

QTEST_MAIN(NotifierTest)
#include "NotifierTest.moc"

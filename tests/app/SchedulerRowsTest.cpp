// The monitor rows of the jobs run by their folders, and the rows while the
// daemon holds the configuration's jobs.

#include "FrmItem.h"
#include "JobPages.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "jobs/JobRecord.h"
#include "jobs/SchedulerLock.h"
#include "ui_FrmItem.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

TFrmItem* RowOf(TFmPairwell& window, const QString& job) {
    for (TFrmItem* row : window.JobPages().JobItems()) {
        if (row->JobName() == job) {
            return row;
        }
    }
    return nullptr;
}

void StoreJob(const TProgramFolder& folder, const std::string& name, TJobRecord record) {
    TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
    ini.WriteString("project_Site", "source", folder.Bytes(QStringLiteral("src")));
    ini.WriteString("project_Site", "target", folder.Bytes(QStringLiteral("dst")));
    record.FCbJobValid = true;
    record.FProjects = {"Site"};
    WriteJob(ini, name, record);
}

QString Cli() {
    return QDir(qEnvironmentVariable("PAIRWELL_BIN")).filePath(QStringLiteral("pairwell-cli"));
}

} // namespace

class SchedulerRowsTest : public QObject {
    Q_OBJECT
private slots:
    // A change under the source runs the job from its row; a paused row waits.
    void ChangeRowRunsOnChangesAndWaitsWhilePaused() {
        TProgramFolder folder;
        QDir(folder.Path()).mkpath(QStringLiteral("src/sub"));
        QDir(folder.Path()).mkpath(QStringLiteral("dst"));
        TJobRecord record;
        record.FRbChange = true;
        record.FQuietSeconds = 0;
        record.FMinIntervalSeconds = 0;
        StoreJob(folder, "OnChange", record);
        record.FRbChange = false;
        record.FRbConnect = true;
        StoreJob(folder, "OnConnect", record);

        auto window = folder.OpenWindow();
        TFrmItem* row = RowOf(*window, QStringLiteral("OnChange"));
        QVERIFY(row);
        QCOMPARE(row->Controls().LabInfo->text(), QStringLiteral("变化时"));
        QCOMPARE(RowOf(*window, QStringLiteral("OnConnect"))->Controls().LabInfo->text(),
                 QStringLiteral("连接时"));

        WriteFile(folder.File(QStringLiteral("src/sub/a.txt")), "a");
        QVERIFY(WaitUntil([&] { return QFile::exists(folder.File(QStringLiteral("dst/sub/a.txt"))); }));
        QVERIFY(WaitUntil([&] { return !row->HasRunner(); }));
        QCOMPARE(row->Controls().LabInfo->text(), QStringLiteral("变化时"));
        QVERIFY(ReadTodaysDayLog(folder).contains(QStringLiteral("<Project>Site</Project>")));

        row->Controls().SpeedButton1->click(); // paused
        QCOMPARE(row->Controls().LabInfo->text(), QStringLiteral("暂停"));
        WriteFile(folder.File(QStringLiteral("src/b.txt")), "b");
        QTest::qWait(1500);
        QVERIFY(!QFile::exists(folder.File(QStringLiteral("dst/b.txt"))));
        row->Controls().SpeedButton1->click(); // released: the change it kept runs the job
        QVERIFY(WaitUntil([&] { return QFile::exists(folder.File(QStringLiteral("dst/b.txt"))); }));
    }

    // Started while the daemon schedules the jobs, the window runs none and
    // says so; once the daemon ended it takes them over, and a daemon
    // started then exits 2.
    void RowsStandAsideWhileTheDaemonRuns() {
        TProgramFolder folder;
        TJobRecord record;
        record.FRbDay = true;
        record.FDateJob = EncodeDateTime({2005, 1, 1, 17, 30, 0, 0});
        StoreJob(folder, "Nightly", record);
        const QString config = folder.File(QStringLiteral("pairwell.ini"));

        QProcess daemon;
        daemon.start(Cli(), {QStringLiteral("--config"), config, QStringLiteral("daemon")});
        QVERIFY(daemon.waitForStarted());
        QVERIFY(WaitUntil([&] { return SchedulerLockHeld(config.toStdString()); }));

        auto window = folder.OpenWindow();
        TFrmItem* row = RowOf(*window, QStringLiteral("Nightly"));
        QVERIFY(row);
        QCOMPARE(row->Controls().LabInfo->text(), QStringLiteral("由后台服务运行"));
        QVERIFY(!row->Alarm().Enabled());
        QVERIFY(!window->JobPages().SchedulesJobs());

        daemon.terminate(); // SIGTERM
        QVERIFY(daemon.waitForFinished(20000));
        QCOMPARE(daemon.exitCode(), 0);
        QVERIFY(
            WaitUntil([&] { return row->Controls().LabInfo->text() == QStringLiteral("执行预定：17:30"); }));
        QVERIFY(row->Alarm().Enabled());

        QProcess second;
        second.start(Cli(), {QStringLiteral("--config"), config, QStringLiteral("daemon")});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 2);
        QVERIFY(QString::fromUtf8(second.readAllStandardError()).contains(QStringLiteral("Pairwell window")));
    }
};

QTEST_MAIN(SchedulerRowsTest)
#include "SchedulerRowsTest.moc"

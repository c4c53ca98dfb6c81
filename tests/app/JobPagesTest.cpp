// The job editor and the automatic-run page: composing, saving and deleting
// jobs, and the monitor rows that run them on threads of their own.

#include "JobPages.h"
#include "FrmItem.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "jobs/JobThread.h"
#include "ui_FmPairwell.h"
#include "ui_FrmItem.h"
#include "ui_JobEditorPage.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

const QString Tail = QString(22, QLatin1Char(' '));

void StoreProject(TIniFile& ini, const std::string& name, const QString& source, const QString& target) {
    ini.WriteString("project_" + name, "source", source.toStdString());
    ini.WriteString("project_" + name, "target", target.toStdString());
}

void StoreDailyJob(TIniFile& ini, const std::string& name, const std::string& projects, bool enabled = true) {
    ini.WriteString("job_" + name, "CbJobValid", enabled ? "True" : "False");
    ini.WriteString("job_" + name, "RbDay", "True");
    ini.WriteString("job_" + name, "DateJob", "2005-01-01 17:30:00");
    ini.WriteString("job-project_" + name, "0", projects);
}

TFrmItem* RowOf(TFmPairwell& window, const QString& job) {
    for (TFrmItem* row : window.JobPages().JobItems()) {
        if (row->JobName() == job) {
            return row;
        }
    }
    return nullptr;
}

// The job editor shown, with projects P1 and P2 in its project list.
std::unique_ptr<TFmPairwell> OpenJobEditorWithTwoProjects(const TProgramFolder& folder) {
    {
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        StoreProject(ini, "P1", "/a", "/b");
        StoreProject(ini, "P2", "/c", "/d");
    }
    auto window = folder.OpenWindow();
    window->Controls().AutoJob->trigger();
    return window;
}

} // namespace

class JobPagesTest : public QObject {
    Q_OBJECT
private slots:
    void EditorRulesAndTheModificationMark() {
        TProgramFolder folder;
        auto window = OpenJobEditorWithTwoProjects(folder);
        TJobPages& jobs = window->JobPages();
        Ui::JobEditorPage& e = jobs.Editor();
        QCOMPARE(e.LbProject->count(), 2);
        QVERIFY(!jobs.IsModified());

        e.LbProject->setCurrentRow(0);
        jobs.BtnAddClick();
        jobs.BtnAddClick(); // the same project twice: one entry
        QCOMPARE(e.LbSelect->count(), 1);
        QVERIFY(jobs.IsModified());
        // Listed already in another letter case: not added again.
        e.LbSelect->item(0)->setText(QStringLiteral("p1"));
        jobs.BtnAddClick();
        QCOMPARE(e.LbSelect->count(), 1);

        // Chosen without a click (arrow keys, a screen reader): the rules and
        // the mark follow all the same.
        jobs.SetModified(false);
        e.RbPeriod->toggle();
        QVERIFY(e.RbPeriod->isChecked());
        QVERIFY(e.EditMinute->isEnabled() && e.CbTime->isEnabled() && e.TimeBegin->isEnabled());
        QVERIFY(!e.DateJob->isEnabled());
        QVERIFY(jobs.IsModified());
        jobs.SetModified(false);
        e.CbJobValid->toggle();
        QVERIFY(jobs.IsModified());

        // The hour unit keeps a period of 24 and replaces 25 by 1, which marks the job.
        e.EditMinute->setValue(24);
        jobs.SetModified(false);
        e.CbTime->setCurrentIndex(1);
        QCOMPARE(e.EditMinute->value(), 24);
        e.CbTime->setCurrentIndex(0);
        e.EditMinute->setValue(25);
        jobs.SetModified(false);
        e.CbTime->setCurrentIndex(1);
        QCOMPARE(e.EditMinute->value(), 1);
        QVERIFY(jobs.IsModified());
        e.CbTime->setCurrentIndex(0);
        e.EditMinute->setValue(90);
        jobs.SetModified(false);
        e.CbTime->setCurrentIndex(1);
        QCOMPARE(e.EditMinute->value(), 1);
        QCOMPARE(e.EditMinute->maximum(), 24);
        QVERIFY(jobs.IsModified());
        e.CbTime->setCurrentIndex(0);
        QCOMPARE(e.EditMinute->value(), 1);
        QCOMPARE(e.EditMinute->maximum(), 1440);

        // Nothing chosen: removing does nothing.
        e.LbSelect->clearSelection();
        e.LbSelect->setCurrentRow(-1);
        jobs.BtnDeleteClick();
        QCOMPARE(e.LbSelect->count(), 1);
    }

    void SaveCreatesOneRowAndDisablingRemovesIt() {
        TProgramFolder folder;
        auto window = OpenJobEditorWithTwoProjects(folder);
        TJobPages& jobs = window->JobPages();
        Ui::JobEditorPage& e = jobs.Editor();
        for (int row : {0, 1}) {
            e.LbProject->setCurrentRow(row);
            jobs.BtnAddClick();
        }

        QString notice;
        AnswerInputWith(QStringLiteral("  "));
        AnswerNextMessageBox(QMessageBox::Ok, &notice);
        e.Button3->click();
        QCOMPARE(notice, QStringLiteral("Pairwell|任务名称不能为空白!") + Tail);

        AnswerInputWith(QStringLiteral("夜间 备份"));
        e.Button3->click();
        QCOMPARE(e.cbJob->currentText(), QStringLiteral("夜间 备份"));
        QVERIFY(!jobs.IsModified());
        TFrmItem* row = RowOf(*window, QStringLiteral("夜间 备份"));
        QVERIFY(row);
        QVERIFY(row->Controls().LabInfo->text().startsWith(QStringLiteral("执行预定：17:30")));
        QCOMPARE(row->Controls().LabMain->text(), QStringLiteral("任务：夜间 备份"));
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("job-project_夜间 备份", "1", ""), std::string("P2"));

        // Saved again with P1 removed: one row, one project key.
        e.LbSelect->setCurrentRow(0);
        jobs.BtnDeleteClick();
        AnswerInputWith(QStringLiteral("夜间 备份"));
        e.Button3->click();
        QCOMPARE(jobs.JobItems().size(), 1);
        QCOMPARE(ini.ReadString("job-project_夜间 备份", "0", ""), std::string("P2"));
        QCOMPARE(ini.ReadString("job-project_夜间 备份", "1", "none"), std::string("none"));

        e.CbJobValid->setChecked(false);
        AnswerInputWith(QStringLiteral("夜间 备份"));
        e.Button3->click();
        QCOMPARE(jobs.JobItems().size(), 0);
        QCOMPARE(ini.ReadString("job_夜间 备份", "CbJobValid", ""), std::string("False"));
    }

    void OverwriteAskedOnlyForAnotherJobAndDeleteRemovesEverything() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            StoreDailyJob(ini, "A", "P1");
            StoreDailyJob(ini, "B", "P2");
        }
        auto window = folder.OpenWindow();
        TJobPages& jobs = window->JobPages();
        Ui::JobEditorPage& e = jobs.Editor();
        QCOMPARE(jobs.JobItems().size(), 2);
        QCOMPARE(e.cbJob->currentIndex(), -1);

        e.cbJob->setCurrentIndex(0);
        jobs.cbJobClick(0);
        QString question;
        AnswerInputWith(QStringLiteral("a")); // another letter case: asked
        AnswerNextMessageBox(QMessageBox::No, &question);
        e.Button3->click();
        QCOMPARE(question, QStringLiteral("确认|\"a\" 已存在，是否覆盖?"));

        AnswerNextMessageBox(QMessageBox::Yes, &question);
        e.Button4->click();
        QCOMPARE(question, QStringLiteral("确认|是否删除任务 \"A\" ?"));
        QCOMPARE(e.cbJob->count(), 1);
        QCOMPARE(e.cbJob->currentText(), QString());
        QVERIFY(!RowOf(*window, QStringLiteral("A")));
        QVERIFY(RowOf(*window, QStringLiteral("B")));
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("job_A", "RbDay", "gone"), std::string("gone"));
        QCOMPARE(ini.ReadString("job-project_A", "0", "gone"), std::string("gone"));
        QCOMPARE(e.LbSelect->count(), 1); // the editor keeps its fields
    }

    void LoadingABadTimeKeepsThePickersButLoadsTheRest() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("job_J", "EditMinute", "30");
            ini.WriteString("job_J", "CbTime", "0");
            ini.WriteString("job_J", "DateJob", "2005-01-01 06:15:00");
            ini.WriteString("job_J", "TimeBegin", "not a time");
            ini.WriteString("job_J", "RbPeriod", "True");
            ini.WriteString("job_J", "CbJobValid", "True");
            ini.WriteString("job-project_J", "0", "P9");
        }
        auto window = folder.OpenWindow();
        TJobPages& jobs = window->JobPages();
        Ui::JobEditorPage& e = jobs.Editor();
        jobs.LoadJob(QStringLiteral("J"));
        QCOMPARE(e.EditMinute->value(), 30);
        QCOMPARE(e.DateJob->time(), QTime(6, 15));
        QCOMPARE(e.TimeBegin->time(), QTime(0, 0));
        QCOMPARE(e.TimeEnd->time(), QTime(23, 59));
        QVERIFY(e.RbPeriod->isChecked() && !e.RbDay->isChecked());
        QVERIFY(e.TimeEnd->isEnabled());
        QCOMPARE(e.LbSelect->item(0)->text(), QStringLiteral("P9"));
        QVERIFY(!jobs.IsModified());
        // Its row stays unarmed: the stored window cannot be read.
        QCOMPARE(RowOf(*window, QStringLiteral("J"))->Controls().LabInfo->text(), QStringLiteral("暂停"));
    }

    void ARowRunsItsJobOnceAndComesBackArmed() {
        TProgramFolder folder;
        MakeFiles(folder.File(QStringLiteral("src")), {QStringLiteral("a.txt"), QStringLiteral("b.txt")});
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            StoreProject(ini, "Site", folder.File(QStringLiteral("src")), folder.File(QStringLiteral("dst")));
            StoreProject(ini, "Bad", folder.File(QStringLiteral("missing")),
                         folder.File(QStringLiteral("dst")));
            StoreDailyJob(ini, "任务一", "Bad");
            ini.WriteString("job-project_任务一", "1", "Site");
        }
        auto window = folder.OpenWindow();
        TFrmItem* row = RowOf(*window, QStringLiteral("任务一"));
        QVERIFY(row);
        bool ended = false;
        connect(row, &TFrmItem::RunEnded, this, [&] { ended = true; });
        row->RxClock1Alarm();
        QCOMPARE(row->State(), int(TFrmItem::StateRunning));
        QCOMPARE(row->Controls().ProgressBar1->maximumWidth(), 180);
        row->RxClock1Alarm(); // an alarm during the run starts no second runner
        QVERIFY(WaitUntil([&] { return ended; }));
        QCOMPARE(row->State(), int(TFrmItem::StateIdle));
        QVERIFY(row->Controls().LabInfo->text().startsWith(QStringLiteral("执行预定：17:30")));
        QVERIFY(QFile::exists(folder.File(QStringLiteral("dst/a.txt"))));
        const QString log = ReadTodaysDayLog(folder);
        QCOMPARE(log.count(QStringLiteral("<item>")), 2);
        QVERIFY(log.contains(QStringLiteral(
            "<Project>Bad</Project>\r\n<ProcessStatus>中止</ProcessStatus>\r\n<Error>源文件夹无效</Error>")));
        QVERIFY(
            log.contains(QStringLiteral("<Project>Site</Project>\r\n<ProcessStatus>完成</ProcessStatus>")));
    }

    void PauseHoldsTheRunAndRemovalStopsIt() {
        TProgramFolder folder;
        QStringList names;
        for (int i = 0; i < 3000; ++i) {
            names.append(QStringLiteral("d%1/f%2.txt").arg(i % 30).arg(i));
        }
        MakeFiles(folder.File(QStringLiteral("src")), names);
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            StoreProject(ini, "Big", folder.File(QStringLiteral("src")), folder.File(QStringLiteral("dst")));
            StoreDailyJob(ini, "J", "Big");
            ini.WriteString("job-project_J", "1", "Big");
        }
        auto window = folder.OpenWindow();
        TFrmItem* row = RowOf(*window, QStringLiteral("J"));
        row->Controls().SpeedButton1->toggle(); // down while idle, as a screen reader presses it: disarmed
        QCOMPARE(row->Controls().LabInfo->text(), QStringLiteral("暂停"));
        QVERIFY(!row->Alarm().Enabled());
        row->Controls().SpeedButton1->click(); // up: armed again
        QVERIFY(row->Alarm().Enabled());

        const auto copiedFiles = [&] {
            int count = 0;
            for (int d = 0; d < 30; ++d) {
                count += static_cast<int>(
                    QDir(folder.File(QStringLiteral("dst/d%1").arg(d))).entryList(QDir::Files).size());
            }
            return count;
        };
        row->RxClock1Alarm();
        QVERIFY(WaitUntil([&] { return copiedFiles() > 0; }));
        row->Controls().SpeedButton1->click();
        QVERIFY(WaitUntil([&] { return row->Processor()->Suspended(); }));
        const int copied = copiedFiles();
        QTest::qWait(200);
        QCOMPARE(copiedFiles(), copied);
        QVERIFY(copied < 3000);
        QCOMPARE(row->State(), int(TFrmItem::StateRunning));
        row->Controls().SpeedButton1->click(); // resume
        QVERIFY(WaitUntil([&] { return copiedFiles() > copied; }));

        // Deleting the job while it runs: the current project is logged as
        // stopped and the second one never runs.
        window->JobPages().RemoveJobItem(QStringLiteral("J"));
        QVERIFY(!RowOf(*window, QStringLiteral("J")));
        window->JobPages().StopAllRunners();
        const QString log = ReadTodaysDayLog(folder);
        QVERIFY2(log.count(QStringLiteral("<item>")) == 1, qPrintable(log.right(300)));
        QVERIFY(log.contains(QStringLiteral("<ProcessStatus>中止</ProcessStatus>")));
    }

    void ARowWhoseLogCannotBePreparedReturnsToIdleArmed() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            StoreDailyJob(ini, "J", "P");
        }
        QDir(folder.File(QStringLiteral("log"))).removeRecursively();
        WriteFile(folder.File(QStringLiteral("log")), "a file where the log folder belongs");
        auto window = folder.OpenWindow();
        TFrmItem* row = RowOf(*window, QStringLiteral("J"));
        row->RxClock1Alarm();
        QCOMPARE(row->State(), int(TFrmItem::StateIdle));
        QVERIFY(!row->HasRunner());
        QVERIFY(row->Alarm().Enabled());
    }
};

QTEST_MAIN(JobPagesTest)
#include "JobPagesTest.moc"

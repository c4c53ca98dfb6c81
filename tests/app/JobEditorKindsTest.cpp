// The job editor's change and connect kinds, catch-up and stale alert
// controls: what a new job starts with, what a stored job without these keys
// shows, the enabling rules, and what a save stores.

#include "JobPages.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "ui_FmPairwell.h"
#include "ui_JobEditorPage.h"

#include <QTest>

class JobEditorKindsTest : public QObject {
    Q_OBJECT
private slots:
    void NewJobDefaultsEnablingAndSave() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_P", "source", "/a");
        }
        auto window = folder.OpenWindow();
        window->Controls().AutoJob->trigger();
        TJobPages& jobs = window->JobPages();
        Ui::JobEditorPage& e = jobs.Editor();
        // A new job: catch-up on, alert after 3 days.
        QVERIFY(e.CbCatchUp->isChecked());
        QCOMPARE(e.EditStaleDays->value(), 3);
        QVERIFY(e.RbDay->isChecked() && e.CbCatchUp->isEnabled());
        QVERIFY(!jobs.IsModified());

        // Selected by the program as by a click (toggled, not clicked).
        e.RbChange->setChecked(true);
        QVERIFY(jobs.IsModified());
        QVERIFY(!e.RbDay->isChecked());
        QVERIFY(!e.DateJob->isEnabled() && !e.EditMinute->isEnabled() && !e.TimeEnd->isEnabled());
        QVERIFY(!e.CbCatchUp->isEnabled()); // nothing to miss without set times
        QVERIFY(e.EditStaleDays->isEnabled());
        e.RbConnect->setChecked(true);
        QVERIFY(!e.RbChange->isChecked() && !e.CbCatchUp->isEnabled());
        e.RbPeriod->setChecked(true);
        QVERIFY(e.CbCatchUp->isEnabled() && e.EditMinute->isEnabled() && !e.DateJob->isEnabled());
        e.RbChange->setChecked(true);

        jobs.SetModified(false);
        e.EditStaleDays->setValue(5);
        QVERIFY(jobs.IsModified());
        jobs.SetModified(false);
        e.CbCatchUp->setChecked(false);
        QVERIFY(jobs.IsModified());
        e.CbCatchUp->setChecked(true);

        e.LbProject->setCurrentRow(0);
        jobs.BtnAddClick();
        AnswerInputWith(QStringLiteral("变化"));
        e.Button3->click();
        QVERIFY(!jobs.IsModified());
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        const auto stored = [&](const char* key) { return ini.ReadString("job_变化", key, "absent"); };
        QCOMPARE(stored("RbChange"), std::string("True"));
        QCOMPARE(stored("RbConnect"), std::string("False"));
        QCOMPARE(stored("RbDay"), std::string("False"));
        QCOMPARE(stored("RbPeriod"), std::string("False"));
        QCOMPARE(stored("CatchUp"), std::string("True"));
        QCOMPARE(stored("StaleDays"), std::string("5"));
    }

    void StoredJobsShowTheirKindAndKeepTheirKeys() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            // Stored before these keys existed.
            ini.WriteString("job_Old", "CbJobValid", "False");
            ini.WriteString("job_Old", "RbDay", "True");
            ini.WriteString("job_Old", "DateJob", "2005-01-01 02:30:00");
            ini.WriteString("job_Old", "QuietSeconds", "20");
            ini.WriteString("job_Usb", "CbJobValid", "False");
            ini.WriteString("job_Usb", "RbConnect", "True");
            ini.WriteString("job_Usb", "CatchUp", "True");
            ini.WriteString("job_Usb", "StaleDays", "7");
        }
        auto window = folder.OpenWindow();
        TJobPages& jobs = window->JobPages();
        Ui::JobEditorPage& e = jobs.Editor();

        const auto choose = [&](const QString& name) {
            e.cbJob->setCurrentIndex(e.cbJob->findText(name));
            jobs.cbJobClick(e.cbJob->currentIndex());
        };
        choose(QStringLiteral("Usb"));
        QVERIFY(e.RbConnect->isChecked());
        QVERIFY(!e.RbDay->isChecked() && !e.RbPeriod->isChecked() && !e.RbChange->isChecked());
        QVERIFY(e.CbCatchUp->isChecked() && !e.CbCatchUp->isEnabled());
        QCOMPARE(e.EditStaleDays->value(), 7);
        QVERIFY(!jobs.IsModified());

        choose(QStringLiteral("Old"));
        QVERIFY(e.RbDay->isChecked() && !e.RbConnect->isChecked());
        QVERIFY(!e.CbCatchUp->isChecked()); // absent: no catch-up
        QCOMPARE(e.EditStaleDays->value(), 0);
        QCOMPARE(e.EditStaleDays->text(), QStringLiteral("不提醒"));
        QVERIFY(!jobs.IsModified());

        AnswerInputWith(QStringLiteral("Old"));
        e.Button3->click();
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("job_Old", "CatchUp", ""), std::string("False"));
        QCOMPARE(ini.ReadString("job_Old", "StaleDays", ""), std::string("0"));
        QCOMPARE(ini.ReadString("job_Old", "QuietSeconds", ""), std::string("20")); // no control: kept
    }
};

QTEST_MAIN(JobEditorKindsTest)
#include "JobEditorKindsTest.moc"

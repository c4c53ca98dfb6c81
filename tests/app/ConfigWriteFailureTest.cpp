// A configuration file that cannot be written: every command that stores
// shows the error and keeps what the user had, and "关闭" asks before it lets
// the unsaved state go.

#include "FrmItem.h"
#include "JobPages.h"
#include "SettingsPage.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "ui_FmPairwell.h"
#include "ui_FrmItem.h"
#include "ui_JobEditorPage.h"
#include "ui_SettingsPage.h"

#include <QDir>
#include <QTest>

class ConfigWriteFailureTest : public QObject {
    Q_OBJECT
private slots:
    void EveryWriterShowsTheErrorAndKeepsItsState() {
        TProgramFolder folder;
        const QString config = folder.File(QStringLiteral("pairwell.ini"));
        {
            TIniFile ini(config.toStdString());
            ini.WriteString("project_a", "source", "/src/a");
            ini.WriteString("system", "project", "a");
            ini.WriteString("job_J", "CbJobValid", "True");
            ini.WriteString("job_J", "RbDay", "True");
            ini.WriteString("job_J", "DateJob", "2005-01-01 17:30:00");
            ini.WriteString("job-project_J", "0", "a");
        }
        auto window = folder.OpenWindow(true);
        TSettingsPage& settings = window->SettingsPage();
        Ui::SettingsPage& page = settings.Controls();
        TJobPages& jobs = window->JobPages();
        Ui::JobEditorPage& e = jobs.Editor();
        const QByteArray stored = ReadFile(config);

        // A folder where the lock file belongs: no write can go through, not even root's.
        const QString lock = config + QStringLiteral(".lock");
        QFile::remove(lock);
        QVERIFY(QDir().mkpath(lock));
        TMessageBoxes boxes;
        const auto lastErrorNamesFileAndReason = [&] {
            return boxes.Icons().last() == QMessageBox::Critical && boxes.Seen().last().contains(config) &&
                   boxes.Seen().last().endsWith(QStringLiteral("Is a directory"));
        };

        page.DirectoryEdit1->setText(QStringLiteral("/edited"));
        AnswerInputWith(QStringLiteral("b"));
        page.btnSaveSetting->click();
        QVERIFY(boxes.WaitFor(1));
        QVERIFY2(lastErrorNamesFileAndReason(), qPrintable(boxes.Seen().join('\n')));
        QVERIFY(settings.IsModified());
        QCOMPARE(page.cbProject->count(), 1); // "b" was not stored, so it is not listed

        boxes.Answer(QMessageBox::Yes);
        page.btnDeleteSetting->click();
        QVERIFY(boxes.WaitFor(3));
        QVERIFY(lastErrorNamesFileAndReason());
        QCOMPARE(page.cbProject->currentText(), QStringLiteral("a"));

        e.cbJob->setCurrentIndex(0);
        jobs.cbJobClick(0);
        e.RbPeriod->click();
        AnswerInputWith(QStringLiteral("J"));
        e.Button3->click();
        QVERIFY(boxes.WaitFor(4));
        QVERIFY(lastErrorNamesFileAndReason());
        QVERIFY(jobs.IsModified());
        QCOMPARE(jobs.JobItems().size(), 1);
        QVERIFY(jobs.JobItems().first()->Controls().LabInfo->text().startsWith(
            QStringLiteral("执行预定：17:30")));

        boxes.Answer(QMessageBox::Yes);
        e.Button4->click();
        QVERIFY(boxes.WaitFor(6));
        QVERIFY(lastErrorNamesFileAndReason());
        QCOMPARE(e.cbJob->count(), 1);
        QCOMPARE(jobs.JobItems().size(), 1);

        // "关闭": the error, then the question; No keeps the program as it was.
        boxes.Answer(QMessageBox::Ok);
        boxes.Answer(QMessageBox::No);
        window->Controls().ActExit->trigger();
        QVERIFY(boxes.WaitFor(8));
        QVERIFY(boxes.Seen()[6].contains(config));
        QCOMPARE(boxes.Seen()[7], QStringLiteral("确认|配置文件无法写入，仍然关闭?"));
        QVERIFY(window->isVisible());
        QVERIFY(!window->Controls().ActExit->isChecked());
        window->close(); // the close box still only hides
        QVERIFY(!window->isVisible());
        window->TrayToggleAction()->trigger();
        QVERIFY(window->isVisible());
        QCOMPARE(ReadFile(config), stored);

        // Writable again: "关闭" stores the unsaved page and ends.
        QVERIFY(QDir().rmdir(lock));
        window->Controls().ActExit->trigger();
        QVERIFY(!window->isVisible());
        QCOMPARE(boxes.Seen().size(), 8);
        TIniFile ini(config.toStdString());
        QCOMPARE(ini.ReadString("project_", "source", ""), std::string("/edited"));
        QCOMPARE(ini.ReadString("system", "project", "?"), std::string());
    }

    void CloseAnywayEndsWithoutStoring() {
        TProgramFolder folder;
        const QString config = folder.File(QStringLiteral("pairwell.ini"));
        auto window = folder.OpenWindow(true);
        window->SettingsPage().Controls().DirectoryEdit1->setText(QStringLiteral("/lost"));
        QVERIFY(QDir().mkpath(config + QStringLiteral(".lock")));
        TMessageBoxes boxes({QMessageBox::Ok, QMessageBox::Yes});
        window->Controls().ActExit->trigger();
        QVERIFY(boxes.WaitFor(2));
        QVERIFY(!window->isVisible());
        QVERIFY(!QFile::exists(config));
    }
};

QTEST_MAIN(ConfigWriteFailureTest)
#include "ConfigWriteFailureTest.moc"

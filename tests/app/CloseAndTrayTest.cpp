// Closing and the tray: what is stored when the program ends, what the next
// start shows, and how the close box behaves with and without a tray.

#include "FmProcess.h"
#include "SettingsPage.h"
#include "TerminationSignal.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "ui_FmPairwell.h"
#include "ui_SettingsPage.h"

#include <QDir>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <csignal>
#include <unistd.h>

class CloseAndTrayTest : public QObject {
    Q_OBJECT
private slots:
    void UnsavedEditsGoToTheWorkingSectionAndComeBack() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_a", "source", "/src/a");
            ini.WriteString("system", "project", "a");
        }
        {
            auto window = folder.OpenWindow(true);
            window->SettingsPage().Controls().DirectoryEdit2->setText(QStringLiteral("/edited"));
            window->Controls().ActExit->trigger();
            QVERIFY(!window->isVisible());
        }
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("system", "project", "?"), std::string());
        QCOMPARE(ini.ReadString("project_", "target", ""), std::string("/edited"));
        QCOMPARE(ini.ReadString("project_a", "target", "untouched"), std::string("untouched"));

        auto next = folder.OpenWindow(true);
        Ui::SettingsPage& page = next->SettingsPage().Controls();
        QCOMPARE(page.cbProject->currentIndex(), -1);
        QCOMPARE(page.DirectoryEdit2->text(), QStringLiteral("/edited"));
        QCOMPARE(page.DirectoryEdit1->text(), QStringLiteral("/src/a"));
        QVERIFY(!next->SettingsPage().IsModified());
    }

    void TheShownProjectIsRememberedWithoutEdits() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_a", "source", "/src/a");
            ini.WriteString("project_b", "source", "/src/b");
        }
        {
            auto window = folder.OpenWindow(true);
            Ui::SettingsPage& page = window->SettingsPage().Controls();
            page.cbProject->setCurrentIndex(1);
            window->SettingsPage().cbProjectClick(1);
            window->Controls().ActExit->trigger();
        }
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("system", "project", ""), std::string("b"));
        auto next = folder.OpenWindow(true);
        QCOMPARE(next->SettingsPage().Controls().cbProject->currentText(), QStringLiteral("b"));
        QCOMPARE(next->SettingsPage().Controls().DirectoryEdit1->text(), QStringLiteral("/src/b"));
    }

    // A stored threshold with a time of day is put back at midnight by a
    // check; that is no edit, so "关闭" keeps the shown project.
    void ACheckRaisesNoMarkAndTheProjectStaysShown() {
        TProgramFolder folder;
        QDir().mkpath(folder.File(QStringLiteral("src")));
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_a", "source", folder.Bytes(QStringLiteral("src")));
            ini.WriteString("project_a", "target", folder.Bytes(QStringLiteral("dst")));
            ini.WriteString("project_a", "Time1", "2004-08-13 15:20:00");
            ini.WriteString("system", "project", "a");
        }
        auto window = folder.OpenWindow(true);
        QCOMPARE(window->SettingsPage().Controls().Time1->time(), QTime(15, 20));
        AnswerNextMessageBox(QMessageBox::Ok);
        window->FileCheckExecute();
        QCOMPARE(window->SettingsPage().Controls().Time1->time(), QTime(0, 0));
        QVERIFY(!window->SettingsPage().IsModified());
        window->Controls().ActExit->trigger();
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("system", "project", ""), std::string("a"));
    }

    void AStoredNameWithoutItsProjectLoadsTheWorkingSection() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_", "source", "/working");
            ini.WriteString("system", "project", "gone");
        }
        auto window = folder.OpenWindow(true);
        QCOMPARE(window->SettingsPage().Controls().cbProject->currentIndex(), -1);
        QCOMPARE(window->SettingsPage().Controls().DirectoryEdit1->text(), QStringLiteral("/working"));
    }

    // SIGTERM is "关闭" with nobody to ask: the run stops at its next file
    // and is logged as stopped, the unsaved edits go to the working section,
    // and the window closes once the run has ended.
    void TerminationStopsTheRunAndKeepsTheEditsAsCloseDoes() {
        TProgramFolder folder;
        const QString source = folder.File(QStringLiteral("src"));
        const QString target = folder.File(QStringLiteral("dst"));
        QStringList names;
        for (int i = 0; i < 4000; ++i) {
            names.append(QStringLiteral("f%1.txt").arg(i));
        }
        MakeFiles(source, names);
        QDir().mkpath(target);
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_a", "source", source.toStdString());
            ini.WriteString("project_a", "target", "/stored");
            ini.WriteString("system", "project", "a");
        }
        auto window = folder.OpenWindow(true);
        TTerminationSignal termination;
        connect(&termination, &TTerminationSignal::Received, window.get(), &TFmPairwell::TerminateExecute);
        window->SettingsPage().Controls().DirectoryEdit2->setText(target);
        AnswerNextMessageBox(QMessageBox::Ok);
        window->FileCheckExecute();

        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&] {
            if (window->FmProcess().DetailLine().startsWith(QStringLiteral("新建: "))) {
                watcher.stop();
                QCOMPARE(::kill(::getpid(), SIGTERM), 0);
            }
        });
        watcher.start(1);
        AnswerNextMessageBox(QMessageBox::Yes);
        window->FileUpdateExecute();
        QVERIFY(!window->IsRunning());
        QVERIFY(!window->isVisible());
        QVERIFY(QDir(target).count() - 2 < 4000);
        QVERIFY(ReadTodaysDayLog(folder).contains(QStringLiteral("<ProcessStatus>中止</ProcessStatus>")));
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("system", "project", "?"), std::string());
        QCOMPARE(ini.ReadString("project_", "target", ""), target.toStdString());
        QCOMPARE(ini.ReadString("project_a", "target", ""), std::string("/stored"));
    }

    void WithATrayTheCloseBoxHidesAndTheTrayBringsItBack() {
        TProgramFolder folder;
        auto window = folder.OpenWindow(true);
        QCOMPARE(window->TrayToggleAction()->text(), QStringLiteral("隐藏"));
        window->close();
        QVERIFY(!window->isVisible());
        QCOMPARE(window->TrayToggleAction()->text(), QStringLiteral("显示"));
        // A close request while hidden is refused and brings the window back.
        window->close();
        QVERIFY(window->isVisible());
        QCOMPARE(window->TrayToggleAction()->text(), QStringLiteral("隐藏"));
        window->TrayToggleAction()->trigger();
        QVERIFY(!window->isVisible());
        window->TrayToggleAction()->trigger();
        QVERIFY(window->isVisible());
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("system", "project", "not written"), std::string("not written"));
    }

    void WithoutATrayTheCloseBoxEndsTheProgramAsCloseDoes() {
        TProgramFolder folder;
        auto window = folder.OpenWindow(false);
        window->SettingsPage().Controls().DirectoryEdit1->setText(QStringLiteral("/typed"));
        window->close();
        QVERIFY(!window->isVisible());
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("project_", "source", ""), std::string("/typed"));
    }

    void CaptionTrayHintAndPagesAtStart() {
        TProgramFolder folder;
        auto window = folder.OpenWindow(true);
        QVERIFY(window->windowTitle().startsWith(QStringLiteral("Pairwell ")));
        const QPoint offCentre = window->geometry().center() - window->screen()->availableGeometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 2, "centred on the screen at start");
        QCOMPARE(window->Controls().PageControl2->currentWidget(), window->Controls().TabSheet5);
        QVERIFY(window->Controls().setting->isChecked());
        QVERIFY(!window->Controls().PageControl2->tabBar()->isVisible());
        window->Controls().ViewLog->trigger();
        QCOMPARE(window->Controls().PageControl2->currentWidget(), window->Controls().TabSheet4);
        QVERIFY(!window->Controls().setting->isChecked());
        QCOMPARE(window->Controls().FileCheck->toolTip(), QStringLiteral("检查需要同步的内容"));

        // The pages follow their buttons' checked state, also when a screen
        // reader toggles a button without triggering its action.
        for (QToolButton* button : window->Controls().ToolBar1->findChildren<QToolButton*>()) {
            if (button->defaultAction() == window->Controls().AutoJob) {
                button->toggle();
            }
        }
        QCOMPARE(window->Controls().PageControl2->currentWidget(), window->Controls().TabSheet7);
        QVERIFY(!window->Controls().ViewLog->isChecked());
        window->Controls().Result->setChecked(true);
        QCOMPARE(window->Controls().PageControl2->currentWidget(), window->Controls().TabSheet6);
        QCOMPARE(window->Controls().StopProcess->shortcut(), QKeySequence(Qt::Key_Escape));
    }
};

QTEST_MAIN(CloseAndTrayTest)
#include "CloseAndTrayTest.moc"

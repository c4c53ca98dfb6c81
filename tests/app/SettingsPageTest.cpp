// The settings page: loading, the modification mark, and the save and delete
// commands with their questions, answered here as a person would.

#include "SettingsPage.h"
#include "FmInput.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "engine/project/ProjectRecord.h"
#include "ui_SettingsPage.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class SettingsPageTest : public QObject {
    Q_OBJECT
private slots:
    void LoadingFillsTheControlsAndHidesTheMark() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_网站", "source", "/data/站点");
            ini.WriteString("project_网站", "EditTime", "2");
            ini.WriteString("project_网站", "cbCheckEditTime", "True");
            ini.WriteString("project_网站", "cbCheckSize", "true"); // not exactly "True": off
            ini.WriteString("project_网站", "Time1", "2004-08-13");
            ini.WriteString("project_bad", "Time1", "abc");
            ini.WriteString("system", "project", "网站");
        }
        auto window = folder.OpenWindow();
        Ui::SettingsPage& page = window->SettingsPage().Controls();
        QCOMPARE(page.cbProject->currentText(), QStringLiteral("网站"));
        QCOMPARE(page.DirectoryEdit1->text(), QStringLiteral("/data/站点"));
        QCOMPARE(page.cbLastEditTime->currentIndex(), 2);
        QVERIFY(page.cbCheckEditTime->isChecked());
        QVERIFY(page.Time1->isEnabled());
        QVERIFY(!page.cbCheckSize->isChecked());
        QVERIFY(page.cbUpdateReadOnly->isChecked()); // missing key: on
        QCOMPARE(page.Time1->date(), QDate(2004, 8, 13));
        QVERIFY(!window->SettingsPage().IsModified());

        // A bad "Time1" keeps the picker's date; everything else still loads.
        page.cbProject->setCurrentIndex(page.cbProject->findText(QStringLiteral("bad")));
        window->SettingsPage().cbProjectClick(page.cbProject->currentIndex());
        QCOMPARE(page.Time1->date(), QDate(2004, 8, 13));
        QCOMPARE(page.DirectoryEdit1->text(), QString());
        QVERIFY(!page.cbCheckEditTime->isChecked());
        QVERIFY(!page.Time1->isEnabled());
    }

    void TickingAndUntickingAndTypingRaiseTheMark() {
        TProgramFolder folder;
        auto window = folder.OpenWindow();
        TSettingsPage& settings = window->SettingsPage();
        Ui::SettingsPage& page = settings.Controls();
        QVERIFY(!settings.IsModified());
        page.cbFileDelete->click();
        page.cbFileDelete->click();
        QVERIFY(settings.IsModified());
        for (QPlainTextEdit* memo : {page.Edit1, page.Edit2, page.Edit3, page.Edit4}) {
            settings.SetModified(false);
            QTest::keyClicks(memo, QStringLiteral("jpg"));
            QVERIFY2(settings.IsModified(), qPrintable(memo->objectName()));
        }
    }

    void SaveNewThenOverwriteAnotherWithYesAndNo() {
        TProgramFolder folder;
        auto window = folder.OpenWindow();
        TSettingsPage& settings = window->SettingsPage();
        Ui::SettingsPage& page = settings.Controls();

        page.DirectoryEdit1->setText(QStringLiteral("/src/a"));
        AnswerInputWith(QStringLiteral(" a "));
        page.btnSaveSetting->click();
        QCOMPARE(page.cbProject->count(), 1);
        QCOMPARE(page.cbProject->currentText(), QStringLiteral(" a ")); // blanks kept
        QVERIFY(!settings.IsModified());

        page.DirectoryEdit1->setText(QStringLiteral("/src/b"));
        AnswerInputWith(QStringLiteral("b"));
        page.btnSaveSetting->click();
        QCOMPARE(page.cbProject->currentText(), QStringLiteral("b"));

        // Saving the shown project under its own name asks nothing.
        page.DirectoryEdit1->setText(QStringLiteral("/src/b2"));
        AnswerInputWith(QStringLiteral("b"));
        page.btnSaveSetting->click();
        QVERIFY(!settings.IsModified());

        // Over another project, in another letter case: one question; No keeps it.
        QString question;
        page.DirectoryEdit1->setText(QStringLiteral("/src/over"));
        AnswerInputWith(QStringLiteral(" A "));
        AnswerNextMessageBox(QMessageBox::No, &question);
        page.btnSaveSetting->click();
        QCOMPARE(question, QStringLiteral("确认|\" A \" 已存在，是否覆盖?"));
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("project_ a ", "source", ""), std::string("/src/a"));
        QVERIFY(settings.IsModified());

        AnswerInputWith(QStringLiteral(" A "));
        AnswerNextMessageBox(QMessageBox::Yes);
        page.btnSaveSetting->click();
        QCOMPARE(ini.ReadString("project_ a ", "source", ""), std::string("/src/over"));
        QCOMPARE(page.cbProject->currentText(), QStringLiteral("b")); // the selection stays
        QCOMPARE(page.cbProject->count(), 2);
    }

    void BlankNamesAreRefused() {
        TProgramFolder folder;
        auto window = folder.OpenWindow();
        Ui::SettingsPage& page = window->SettingsPage().Controls();
        QString notice;
        AnswerInputWith(QStringLiteral("   "));
        AnswerNextMessageBox(QMessageBox::Ok, &notice);
        page.btnSaveSetting->click();
        WaitUntil([&] { return !notice.isEmpty(); }, 2000);
        QCOMPARE(notice, QStringLiteral("Pairwell|项目名称不能为空白!") + QString(22, QLatin1Char(' ')));
        QCOMPARE(page.cbProject->count(), 0);
        TStringList names;
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        ListProjects(ini, names);
        QVERIFY(names.empty());
    }

    void DeleteAsksAndKeepsTheFields() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_x", "source", "/src/x");
            ini.WriteString("system", "project", "x");
        }
        auto window = folder.OpenWindow();
        Ui::SettingsPage& page = window->SettingsPage().Controls();

        QString question;
        AnswerNextMessageBox(QMessageBox::No, &question);
        page.btnDeleteSetting->click();
        QCOMPARE(question, QStringLiteral("确认|是否删除项目 \"x\" ?"));
        QCOMPARE(page.cbProject->count(), 1);

        AnswerNextMessageBox(QMessageBox::Yes);
        page.btnDeleteSetting->click();
        QCOMPARE(page.cbProject->count(), 0);
        QCOMPARE(page.cbProject->currentText(), QString());
        QCOMPARE(page.DirectoryEdit1->text(), QStringLiteral("/src/x"));
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("project_x", "source", "gone"), std::string("gone"));

        // Nothing selected: no question at all.
        bool asked = false;
        WhenModalShows([&](QWidget* modal) {
            asked = true;
            modal->close();
        });
        page.btnDeleteSetting->click();
        QTest::qWait(100);
        QVERIFY(!asked);
    }
};

QTEST_MAIN(SettingsPageTest)
#include "SettingsPageTest.moc"

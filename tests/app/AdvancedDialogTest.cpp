// The settings page's "高级…" dialog: every key of the guard, versions, time
// comparison, links and content comparison, shown, edited and saved with the
// project, answered here as a person would.

#include "FmAdvanced.h"
#include "SettingsPage.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "ui_FmAdvanced.h"
#include "ui_SettingsPage.h"

#include <QTest>

namespace {

// Opens the dialog from the page and hands it to act once it shows.
void OnAdvancedDialog(TSettingsPage& page, const std::function<void(TFmAdvanced&)>& act) {
    bool shown = false;
    WhenModalShows([](QWidget* modal) { return qobject_cast<TFmAdvanced*>(modal) != nullptr; },
                   [&](QWidget* modal) {
                       shown = true;
                       act(*qobject_cast<TFmAdvanced*>(modal));
                       if (modal->isVisible()) {
                           qobject_cast<TFmAdvanced*>(modal)->Controls().BtnCancel->click();
                       }
                   });
    page.Controls().btnAdvanced->click();
    QVERIFY(shown);
}

} // namespace

class AdvancedDialogTest : public QObject {
    Q_OBJECT
private slots:
    void ShowsEditsAndSavesEveryKeyWithTheProject() {
        TProgramFolder folder;
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            const std::string p = "project_备份";
            ini.WriteString(p, "source", "/data/src");
            ini.WriteString(p, "DeleteGuard", "False");
            ini.WriteString(p, "DeleteGuardPercent", "30");
            ini.WriteString(p, "DeleteGuardCount", "5");
            ini.WriteString(p, "SourceMarker", ".mounted");
            ini.WriteString(p, "Versioning", "True");
            ini.WriteString(p, "VersionFolder", "/v/旧版本");
            ini.WriteString(p, "VersionKeepDays", "0");
            ini.WriteString(p, "TimeTolerance", "2");
            ini.WriteString(p, "IgnoreTimeShift", "60");
            ini.WriteString(p, "Links", "link");
            ini.WriteString(p, "CompareContent", "True");
            ini.WriteString("system", "project", "备份");
        }
        auto window = folder.OpenWindow();
        TSettingsPage& settings = window->SettingsPage();
        QVERIFY(!settings.IsModified());

        OnAdvancedDialog(settings, [](TFmAdvanced& dialog) {
            Ui::FmAdvanced& d = dialog.Controls();
            QVERIFY(!d.cbDeleteGuard->isChecked());
            QVERIFY(!d.EditDeleteGuardCount->isEnabled() && !d.EditDeleteGuardPercent->isEnabled());
            QCOMPARE(d.EditDeleteGuardPercent->value(), 30);
            QCOMPARE(d.EditDeleteGuardCount->value(), 5);
            QCOMPARE(d.EditSourceMarker->text(), QStringLiteral(".mounted"));
            QVERIFY(d.cbVersioning->isChecked() && d.DirectoryEdit4->isEnabled());
            QCOMPARE(d.DirectoryEdit4->text(), QStringLiteral("/v/旧版本"));
            QCOMPARE(d.EditVersionKeepDays->text(), QStringLiteral("永久"));
            QCOMPARE(d.EditTimeTolerance->value(), 2);
            QCOMPARE(d.EditIgnoreTimeShift->text(), QStringLiteral("60"));
            QCOMPARE(d.cbLinks->currentText(), QStringLiteral("保留为链接"));
            QVERIFY(d.cbCompareContent->isChecked() && !d.cbVerifyCopy->isChecked());
            QVERIFY(!dialog.IsModified());
            QVERIFY(d.DirectoryEdit4->BrowseButton()->isVisible());

            // Every control a person can reach speaks with a name.
            for (QWidget* control : dialog.findChildren<QWidget*>()) {
                const bool part = qobject_cast<QAbstractSpinBox*>(control->parentWidget()) ||
                                  qobject_cast<QComboBox*>(control->parentWidget());
                if (control->focusPolicy() != Qt::NoFocus && control->isVisibleTo(&dialog) && !part &&
                    !qobject_cast<QGroupBox*>(control)) {
                    QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
                }
            }
            QCOMPARE(d.EditDeleteGuardCount->accessibleName(), QStringLiteral("计划删除达到(N):"));
            QCOMPARE(d.DirectoryEdit4->Edit()->accessibleName(), QStringLiteral("版本文件夹(F):"));

            // A time shift that is not whole minutes is refused; the dialog stays.
            d.EditIgnoreTimeShift->setText(QStringLiteral("60|1h"));
            QString notice;
            AnswerNextMessageBox(QMessageBox::Ok, &notice);
            d.BtnOk->click();
            QVERIFY(notice.startsWith(QStringLiteral("Pairwell|忽略时差应为以\"|\"分隔的分钟数")));
            QVERIFY(dialog.isVisible());

            d.cbDeleteGuard->setChecked(true);
            QVERIFY(d.EditDeleteGuardCount->isEnabled());
            d.EditDeleteGuardPercent->setValue(51);
            d.EditDeleteGuardCount->setValue(9);
            d.EditSourceMarker->setText(QStringLiteral("盘符.txt"));
            d.cbVersioning->setChecked(false);
            QVERIFY(!d.DirectoryEdit4->isEnabled() && !d.EditVersionKeepDays->isEnabled());
            d.DirectoryEdit4->setText(QStringLiteral("versions"));
            d.EditVersionKeepDays->setValue(7);
            d.EditTimeTolerance->setValue(-1);
            QCOMPARE(d.EditTimeTolerance->text(), QStringLiteral("自动"));
            d.EditIgnoreTimeShift->setText(QStringLiteral("60 | 120"));
            d.cbLinks->setCurrentIndex(2);
            d.cbCompareContent->setChecked(false);
            d.cbVerifyCopy->setChecked(true);
            d.BtnOk->click();
            QVERIFY(!dialog.isVisible());
        });
        QVERIFY(settings.IsModified());

        AnswerInputWith(QStringLiteral("备份"));
        settings.Controls().btnSaveSetting->click();
        QVERIFY(!settings.IsModified());
        TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
        const auto stored = [&](const char* key) { return ini.ReadString("project_备份", key, "absent"); };
        QCOMPARE(stored("DeleteGuard"), std::string("True"));
        QCOMPARE(stored("DeleteGuardPercent"), std::string("51"));
        QCOMPARE(stored("DeleteGuardCount"), std::string("9"));
        QCOMPARE(stored("SourceMarker"), std::string("盘符.txt"));
        QCOMPARE(stored("Versioning"), std::string("False"));
        QCOMPARE(stored("VersionFolder"), std::string("versions"));
        QCOMPARE(stored("VersionKeepDays"), std::string("7"));
        QCOMPARE(stored("TimeTolerance"), std::string("auto"));
        QCOMPARE(stored("IgnoreTimeShift"), std::string("60|120"));
        QCOMPARE(stored("Links"), std::string("skip"));
        QCOMPARE(stored("CompareContent"), std::string("False"));
        QCOMPARE(stored("VerifyCopy"), std::string("True"));
        QCOMPARE(stored("source"), std::string("/data/src")); // the page's own keys stay

        // The interactive runs read the page as shown: the dialog's keys included.
        QCOMPARE(settings.ShownRecord().FLinks, TLinkMode::Skip);
    }

    void CancelOrNoChangeLeavesTheMarkDown() {
        TProgramFolder folder;
        auto window = folder.OpenWindow();
        TSettingsPage& settings = window->SettingsPage();
        OnAdvancedDialog(settings, [](TFmAdvanced& dialog) {
            Ui::FmAdvanced& d = dialog.Controls();
            // An absent key shows its default: the guard on, 50 %, from 10.
            QVERIFY(d.cbDeleteGuard->isChecked());
            QCOMPARE(d.EditDeleteGuardPercent->value(), 50);
            QCOMPARE(d.EditDeleteGuardCount->value(), 10);
            QCOMPARE(d.EditVersionKeepDays->value(), 30);
            QCOMPARE(d.EditTimeTolerance->text(), QStringLiteral("自动"));
            QCOMPARE(d.cbLinks->currentText(), QStringLiteral("复制为文件"));
            d.cbVerifyCopy->setChecked(true);
            d.BtnCancel->click();
        });
        QVERIFY(!settings.IsModified());
        QVERIFY(!settings.ShownRecord().FVerifyCopy);

        OnAdvancedDialog(settings, [](TFmAdvanced& dialog) { dialog.Controls().BtnOk->click(); });
        QVERIFY(!settings.IsModified());
    }
};

QTEST_MAIN(AdvancedDialogTest)
#include "AdvancedDialogTest.moc"

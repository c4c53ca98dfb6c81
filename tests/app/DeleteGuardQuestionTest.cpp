// After a check whose plan trips the deletion guard, "同步" asks the stronger
// question, with No as the default; Yes synchronises. A scheduled run refuses
// the project, goes on with the next, and its monitor row says why.

#include "FrmItem.h"
#include "JobPages.h"
#include "SettingsPage.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "ui_FrmItem.h"
#include "ui_SettingsPage.h"

#include <QDir>
#include <QPushButton>
#include <QTest>

class DeleteGuardQuestionTest : public QObject {
    Q_OBJECT
private slots:
    void AMassDeletionAsksTheStrongQuestionWithNoAsDefault() {
        TProgramFolder folder;
        const QString source = folder.File(QStringLiteral("src"));
        const QString target = folder.File(QStringLiteral("dst"));
        QDir().mkpath(source); // empty: as if the drive were not mounted
        MakeFiles(target, {QStringLiteral("a.txt"), QStringLiteral("b.txt")});
        const std::unique_ptr<TFmPairwell> window = folder.OpenWindow();
        Ui::SettingsPage& page = window->SettingsPage().Controls();
        page.DirectoryEdit1->setText(source);
        page.DirectoryEdit2->setText(target);
        page.cbFileDelete->setChecked(true);
        AnswerNextMessageBox(QMessageBox::Ok);
        window->FileCheckExecute();

        QString question;
        bool noIsDefault = false;
        WhenModalShows([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            question = box->text();
            noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
            box->button(QMessageBox::No)->click();
        });
        window->FileUpdateExecute();
        QVERIFY2(question.contains(QStringLiteral("删除 2 项, 占目标的 100%")), qPrintable(question));
        QVERIFY(question.contains(QStringLiteral("未挂载")));
        QVERIFY(noIsDefault);
        QVERIFY(QFile::exists(target + QStringLiteral("/a.txt")));

        AnswerNextMessageBox(QMessageBox::Yes);
        WhenModalShows(
            [](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                return box != nullptr && box->windowTitle() == QStringLiteral("Pairwell");
            },
            [](QWidget* modal) { static_cast<QMessageBox*>(modal)->button(QMessageBox::Ok)->click(); });
        window->FileUpdateExecute();
        QVERIFY(!QFile::exists(target + QStringLiteral("/a.txt")));
    }

    void AScheduledRunRefusesTheProjectAndItsRowSaysWhy() {
        TProgramFolder folder;
        QDir().mkpath(folder.File(QStringLiteral("empty")));
        MakeFiles(folder.File(QStringLiteral("mass")), {QStringLiteral("keep.txt")});
        MakeFiles(folder.File(QStringLiteral("src")), {QStringLiteral("a.txt")});
        {
            TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
            ini.WriteString("project_Mass", "source", folder.Bytes(QStringLiteral("empty")));
            ini.WriteString("project_Mass", "target", folder.Bytes(QStringLiteral("mass")));
            ini.WriteString("project_Mass", "FileDelete", "True");
            ini.WriteString("project_Site", "source", folder.Bytes(QStringLiteral("src")));
            ini.WriteString("project_Site", "target", folder.Bytes(QStringLiteral("dst")));
            ini.WriteString("job_J", "CbJobValid", "True");
            ini.WriteString("job_J", "RbDay", "True");
            ini.WriteString("job_J", "DateJob", "2005-01-01 17:30:00");
            ini.WriteString("job-project_J", "0", "Mass");
            ini.WriteString("job-project_J", "1", "Site");
        }
        const std::unique_ptr<TFmPairwell> window = folder.OpenWindow();
        TFrmItem* row = window->JobPages().JobItems().value(0);
        QVERIFY(row);
        bool ended = false;
        connect(row, &TFrmItem::RunEnded, this, [&] { ended = true; });
        row->RxClock1Alarm();
        QVERIFY(WaitUntil([&] { return ended; }));
        QCOMPARE(row->Controls().LabDetail->text(),
                 QStringLiteral("Mass: 删除保护: 计划删除 1 项, 占目标的 100%"));
        QVERIFY(QFile::exists(folder.File(QStringLiteral("mass/keep.txt"))));
        QVERIFY(QFile::exists(folder.File(QStringLiteral("dst/a.txt"))));
        QVERIFY(ReadTodaysDayLog(folder).contains(
            QStringLiteral("<Error>删除保护: 计划删除 1 项, 占目标的 100%</Error>")));
    }
};

QTEST_MAIN(DeleteGuardQuestionTest)
#include "DeleteGuardQuestionTest.moc"

// After a check whose plan trips the deletion guard, "同步" asks the stronger
// question, with No as the default; Yes synchronises.

#include "SettingsPage.h"
#include "UiTestSupport.h"
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
};

QTEST_MAIN(DeleteGuardQuestionTest)
#include "DeleteGuardQuestionTest.moc"

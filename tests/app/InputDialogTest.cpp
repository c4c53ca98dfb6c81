// The input dialog: Enter moves on to OK, only OK confirms, and the text comes
// back exactly as typed.

#include "FmInput.h"
#include "UiTestSupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class InputDialogTest : public QObject {
    Q_OBJECT
private slots:
    void FirstEnterMovesToOkAndSecondConfirms() {
        bool stillOpenAfterFirstEnter = false;
        bool okFocused = false;
        WhenModalShows([&](QWidget* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"));
            edit->selectAll();
            edit->insert(QStringLiteral("  站点")); // typed through an input method
            QTest::keyClicks(edit, QStringLiteral(" A "));
            QTest::keyClick(edit, Qt::Key_Return);
            stillOpenAfterFirstEnter = dialog->isVisible();
            auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("BtnOk"));
            okFocused = dialog->focusWidget() == ok;
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        });
        QString value = QStringLiteral("old");
        QVERIFY(TFmInput::InputValue(QStringLiteral("保存设置"), QStringLiteral("请输入项目名称"), value));
        QVERIFY(stillOpenAfterFirstEnter);
        QVERIFY(okFocused);
        QCOMPARE(value, QStringLiteral("  站点 A ")); // blanks kept: the callers decide
    }

    void EscapeCancelAndCloseLeaveTheValue() {
        for (int way = 0; way < 3; ++way) {
            WhenModalShows([way](QWidget* dialog) {
                auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("Edit1"));
                QTest::keyClicks(edit, QStringLiteral("typed"));
                if (way == 0) {
                    QTest::keyClick(edit, Qt::Key_Escape);
                } else if (way == 1) {
                    dialog->findChild<QPushButton*>(QStringLiteral("BtnCancel"))->click();
                } else {
                    dialog->close();
                }
            });
            QString value = QStringLiteral("kept");
            QVERIFY(
                !TFmInput::InputValue(QStringLiteral("保存设置"), QStringLiteral("请输入任务名称"), value));
            QCOMPARE(value, QStringLiteral("kept"));
        }
    }

    void ConfirmingUntouchedReturnsTheProposedValueEvenEmpty() {
        for (const QString& proposed : {QStringLiteral("网站"), QString()}) {
            WhenModalShows(
                [](QWidget* dialog) { dialog->findChild<QPushButton*>(QStringLiteral("BtnOk"))->click(); });
            QString value = proposed;
            QVERIFY(
                TFmInput::InputValue(QStringLiteral("保存设置"), QStringLiteral("请输入项目名称"), value));
            QCOMPARE(value, proposed);
        }
    }

    void CaptionInfoAndHeight() {
        int oneLineHeight = 0;
        WhenModalShows([&](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("保存设置"));
            oneLineHeight = dialog->height();
            dialog->close();
        });
        QString value;
        TFmInput::InputValue(QStringLiteral("保存设置"), QStringLiteral("请输入项目名称"), value);
        QCOMPARE(oneLineHeight, 155);

        int threeLineHeight = 0;
        WhenModalShows([&](QWidget* dialog) {
            threeLineHeight = dialog->height();
            dialog->close();
        });
        TFmInput::InputValue(QStringLiteral("x"), QStringLiteral("一\n二\n三"), value);
        QCOMPARE(threeLineHeight, 155 + 38);
    }
};

QTEST_MAIN(InputDialogTest)
#include "InputDialogTest.moc"

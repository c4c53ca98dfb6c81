// Versions in the window's own synchronisation: the project's keys reach the
// apply, the version folder stays out of the plan, and the item counts them.

#include "ResultsPage.h"
#include "UiTestSupport.h"
#include "ui_ResultsPage.h"

#include <QAbstractButton>
#include <QDir>
#include <QPlainTextEdit>
#include <QTest>

#include <sys/stat.h>
#include <utime.h>

class InteractiveVersionsTest : public QObject {
    Q_OBJECT
private slots:
    void TheWindowsSynchronisationKeepsVersionsAndCountsThem() {
        TProgramFolder folder;
        const QString source = folder.File(QStringLiteral("src"));
        const QString target = folder.File(QStringLiteral("dst"));
        MakeFiles(source, {QStringLiteral("a.txt")}, "new a");
        MakeFiles(target, {QStringLiteral("a.txt")}, "old a");
        MakeFiles(target,
                  {QStringLiteral("old.txt"), QStringLiteral(".pairwell-versions/2026-01-01 000000/x.txt")},
                  "old");
        const utimbuf older{1'000'000'000, 1'000'000'000};
        utime((target + QStringLiteral("/a.txt")).toLocal8Bit().constData(), &older);
        folder.WriteConfig(QStringLiteral("[project_]\r\nsource=%1\r\ntarget=%2\r\nFileDelete=True\r\n"
                                          "Versioning=True\r\n")
                               .arg(source, target));
        const auto window = folder.OpenWindow();
        Ui::ResultsPage& results = window->ResultsPage().Controls();

        AnswerNextMessageBox(QMessageBox::Ok);
        window->FileCheckExecute();
        QCOMPARE(results.Memo2->toPlainText(), QStringLiteral("a.txt"));
        QCOMPARE(results.Memo3->toPlainText(), QStringLiteral("old.txt"));

        AnswerNextMessageBox(QMessageBox::Yes);
        WhenModalShows(
            [](QWidget* modal) {
                return modal->isVisible() && modal->windowTitle() == QStringLiteral("Pairwell");
            },
            [](QWidget* modal) { static_cast<QMessageBox*>(modal)->button(QMessageBox::Ok)->click(); });
        window->FileUpdateExecute();
        QCOMPARE(ReadFile(target + QStringLiteral("/a.txt")), QByteArray("new a"));
        QVERIFY(!QFile::exists(target + QStringLiteral("/old.txt")));
        QDir versions(target + QStringLiteral("/.pairwell-versions"));
        const QStringList runs = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        QCOMPARE(runs.size(), 2);
        QCOMPARE(ReadFile(versions.filePath(runs[1] + QStringLiteral("/a.txt"))), QByteArray("old a"));
        QCOMPARE(ReadFile(versions.filePath(runs[1] + QStringLiteral("/old.txt"))), QByteArray("old"));
        const QString log = ReadTodaysDayLog(folder);
        QVERIFY2(log.contains(QStringLiteral(
                     "<ProcessStatus>完成</ProcessStatus>\r\n<VersionCount>2</VersionCount>\r\n"
                     "<BeginTime>")),
                 qPrintable(log));
    }
};

QTEST_MAIN(InteractiveVersionsTest)
#include "InteractiveVersionsTest.moc"

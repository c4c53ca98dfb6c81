// The interactive check and synchronisation as a person drives them: check,
// edit the plan, synchronise, stop with Esc, and read the log item.

#include "FmProcess.h"
#include "ResultsPage.h"
#include "SettingsPage.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "ui_FmPairwell.h"
#include "ui_ResultsPage.h"
#include "ui_SettingsPage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTest>

namespace {

const QString Tail = QString(22, QLatin1Char(' '));

struct TFixture {
    TProgramFolder FFolder;
    QString FSource = FFolder.File(QStringLiteral("src"));
    QString FTarget = FFolder.File(QStringLiteral("dst"));
    std::unique_ptr<TFmPairwell> FWindow;

    TFixture() {
        QDir().mkpath(FSource);
        QDir().mkpath(FTarget);
    }
    void Open(bool trayAvailable = false) {
        FWindow = FFolder.OpenWindow(trayAvailable);
        Ui::SettingsPage& page = FWindow->SettingsPage().Controls();
        page.DirectoryEdit1->setText(FSource);
        page.DirectoryEdit2->setText(FTarget);
    }
    Ui::SettingsPage& Page() { return FWindow->SettingsPage().Controls(); }
    Ui::ResultsPage& Results() { return FWindow->ResultsPage().Controls(); }
    // Runs a check and answers its completion notice; returns the notice.
    QString Check() {
        QString notice;
        AnswerNextMessageBox(QMessageBox::Ok, &notice);
        FWindow->FileCheckExecute();
        return notice;
    }
    // Runs a synchronisation, answering the question and the notice.
    QString Synchronise(QString* question = nullptr) {
        QString notice;
        AnswerNextMessageBox(QMessageBox::Yes, question);
        WhenModalShows(
            [](QWidget* modal) {
                return modal->isVisible() && qobject_cast<QMessageBox*>(modal) &&
                       static_cast<QMessageBox*>(modal)->windowTitle() == "Pairwell";
            },
            [&notice](QWidget* modal) {
                auto* box = static_cast<QMessageBox*>(modal);
                notice = box->text();
                box->button(QMessageBox::Ok)->click();
            });
        FWindow->FileUpdateExecute();
        return notice;
    }
};

} // namespace

class InteractiveRunTest : public QObject {
    Q_OBJECT
private slots:
    void CheckFillsTheMemosAndTheCountersFollowEdits() {
        TFixture f;
        MakeFiles(f.FSource, {QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("img/c.gif")});
        f.Open();
        f.Page().cbFileDelete->setChecked(true);
        MakeFiles(f.FTarget, {QStringLiteral("old.txt")});
        QCOMPARE(f.Check(), QStringLiteral("Pairwell|检查完成!") + Tail);
        QCOMPARE(f.Results().Memo1->toPlainText().split('\n').size(), 3);
        QCOMPARE(f.Results().Memo3->toPlainText(), QStringLiteral("old.txt"));
        QCOMPARE(f.Results().LabNewPlan->text(), QStringLiteral("3"));
        QCOMPARE(f.FWindow->Controls().PageControl2->currentWidget(), f.FWindow->Controls().TabSheet6);
        QVERIFY(f.FWindow->isVisible());
        QVERIFY(!f.FWindow->FmProcess().isVisible());

        // Deleting two lines by hand lowers the planned count at once.
        QPlainTextEdit* memo = f.Results().Memo1;
        memo->setFocus();
        QTextCursor cursor(memo->document());
        cursor.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor, 2);
        cursor.removeSelectedText();
        QCOMPARE(f.Results().LabNewPlan->text(), QStringLiteral("1"));
        // Ctrl+A with another modifier held, then Delete: "0".
        QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(memo, Qt::Key_Delete);
        QCOMPARE(f.Results().LabNewPlan->text(), QStringLiteral("0"));

        // Tab moves on and puts nothing into a plan line.
        for (QPlainTextEdit* plan : {f.Results().Memo1, f.Results().Memo2, f.Results().Memo3}) {
            plan->setPlainText(QStringLiteral("a.txt"));
            plan->moveCursor(QTextCursor::End);
            QTest::keyClick(plan, Qt::Key_Tab);
            QCOMPARE(plan->toPlainText(), QStringLiteral("a.txt"));
        }
    }

    void BadFoldersAreRefusedWithTheirMessages() {
        TFixture f;
        f.Open();
        QString notice;
        f.Page().DirectoryEdit1->setText(f.FFolder.File(QStringLiteral("missing")));
        AnswerNextMessageBox(QMessageBox::Ok, &notice);
        f.FWindow->FileCheckExecute();
        QCOMPARE(notice, QStringLiteral("Pairwell|请选择有效的源文件夹!") + Tail);

        f.Page().DirectoryEdit1->setText(f.FSource);
        f.Page().DirectoryEdit2->setText(QStringLiteral("   "));
        AnswerNextMessageBox(QMessageBox::Ok, &notice);
        f.FWindow->FileCheckExecute();
        QCOMPARE(notice, QStringLiteral("Pairwell|请选择目标文件夹!") + Tail);
    }

    // Every box is answered by one recorder, so a refusal that does not come
    // fails an assertion at once instead of leaving a box open.
    void SyncRefusalsComeBeforeTheQuestion() {
        TFixture f;
        MakeFiles(f.FSource, {QStringLiteral("a.txt")});
        f.Open();
        const QString noCheck = QStringLiteral("Pairwell|请先检查项目!") + Tail;
        const QString badDeploy = QStringLiteral("Pairwell|指定的发布目录无效") + Tail;
        TMessageBoxes boxes;
        f.FWindow->FileUpdateExecute();
        QCOMPARE(boxes.Seen(), QStringList{noCheck});

        // A check refused for its target leaves nothing to synchronise, also
        // after a check that went through.
        f.Page().DirectoryEdit2->setText(QStringLiteral(" "));
        f.FWindow->FileCheckExecute();
        f.FWindow->FileUpdateExecute();
        QCOMPARE(boxes.Seen().mid(1),
                 (QStringList{QStringLiteral("Pairwell|请选择目标文件夹!") + Tail, noCheck}));
        f.Page().DirectoryEdit2->setText(f.FTarget);
        f.FWindow->FileCheckExecute();
        f.Page().DirectoryEdit2->setText(QString());
        f.FWindow->FileCheckExecute();
        f.FWindow->FileUpdateExecute();
        QCOMPARE(boxes.Seen().mid(3).last(), noCheck);
        QCOMPARE(boxes.Seen().size(), 6);

        // Deploy folders that cannot take the run are refused before the question.
        f.Page().DirectoryEdit2->setText(f.FTarget);
        f.FWindow->FileCheckExecute();
        f.Page().cbUpdateToOther->setChecked(true);
        const QString file = f.FFolder.File(QStringLiteral("a-file"));
        WriteFile(file, "x");
        for (const QString& deploy :
             {QStringLiteral("  "), f.FFolder.File(QStringLiteral("no/such")), file}) {
            f.Page().DirectoryEdit3->setText(deploy);
            const qsizetype before = boxes.Seen().size();
            f.FWindow->FileUpdateExecute();
            QCOMPARE(boxes.Seen().mid(before), QStringList{badDeploy});
        }
        QVERIFY(!QFile::exists(f.FTarget + QStringLiteral("/a.txt")));
        QVERIFY(ReadTodaysDayLog(f.FFolder).isEmpty());

        // A missing deploy folder whose parent exists is made, as a scheduled run makes it.
        const QString deploy = f.FFolder.File(QStringLiteral("deploy"));
        f.Page().DirectoryEdit3->setText(deploy);
        boxes.Answer(QMessageBox::Yes);
        boxes.Answer(QMessageBox::Ok);
        const qsizetype before = boxes.Seen().size();
        f.FWindow->FileUpdateExecute();
        QCOMPARE(boxes.Seen().mid(before),
                 (QStringList{QStringLiteral("确认|是否确认要在发布目录中生成更新文件?"),
                              QStringLiteral("Pairwell|同步完成!") + Tail}));
        QCOMPARE(ReadFile(deploy + QStringLiteral("/a.txt")), QByteArray("x"));
        QCOMPARE(f.Page().DirectoryEdit3->text(), deploy + QLatin1Char('/'));
    }

    void SyncPutsFailuresBackAndLogsTheRun() {
        TFixture f;
        MakeFiles(f.FSource, {QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("new/m.jpg")},
                  "new");
        // The target holds m.jpg under its old folder: one move in the plan.
        MakeFiles(f.FTarget, {QStringLiteral("old/m.jpg")}, "new");
        QFile moved(f.FTarget + QStringLiteral("/old/m.jpg"));
        QVERIFY(moved.open(QIODevice::ReadWrite));
        QVERIFY(moved.setFileTime(QFileInfo(f.FSource + QStringLiteral("/new/m.jpg")).lastModified(),
                                  QFileDevice::FileModificationTime));
        moved.close();
        f.Open();
        f.Page().cbFileDelete->setChecked(true);
        f.Check();
        QCOMPARE(f.Results().LabMove->text(), QStringLiteral("移动 1"));
        // A target that appeared after the check is not overwritten by a new-file copy.
        MakeFiles(f.FTarget, {QStringLiteral("b.txt")}, "theirs");
        QString question;
        QCOMPARE(f.Synchronise(&question), QStringLiteral("同步完成!") + Tail);
        QCOMPARE(question, QStringLiteral("确认|将删除所有多余目标文件，是否确认要进行同步?"));
        QCOMPARE(ReadFile(f.FTarget + QStringLiteral("/a.txt")), QByteArray("new"));
        QCOMPARE(ReadFile(f.FTarget + QStringLiteral("/b.txt")), QByteArray("theirs"));
        QVERIFY(QFile::exists(f.FTarget + QStringLiteral("/new/m.jpg")));
        QCOMPARE(f.Results().LabMove->text(), QStringLiteral("移动 1"));
        QCOMPARE(f.Results().Memo1->toPlainText(), QStringLiteral("b.txt"));
        QCOMPARE(f.Results().LabNew->text(), QStringLiteral("2"));
        QCOMPARE(f.Results().LabNewFail->text(), QStringLiteral("1"));
        QCOMPARE(f.Results().LabNewPlan->text(), QStringLiteral("1"));

        const QString log = ReadTodaysDayLog(f.FFolder);
        QVERIFY(log.contains(QStringLiteral("<MoveCount>1</MoveCount>")));
        QVERIFY(log.contains(QStringLiteral("<item><Project></Project>\r\n<ProcessType>同步</ProcessType>")));
        QVERIFY(log.contains(QStringLiteral("<NewFail>") + f.FTarget + QStringLiteral("/b.txt</NewFail>")));
        QVERIFY(log.contains(QStringLiteral("<DeleteCount>1</DeleteCount>")));
        QVERIFY(log.contains(QStringLiteral("<ProcessStatus>完成</ProcessStatus>")));
        QCOMPARE(log.count(QStringLiteral("<item>")), 1);
        QVERIFY(log.contains(QStringLiteral("<SpendTime>00:00:0")));
    }

    void EscDuringTheUpdatePhaseStopsBeforeTheNextItem() {
        TFixture f;
        QStringList names;
        for (int i = 0; i < 4000; ++i) {
            names.append(QStringLiteral("f%1.txt").arg(i, 5, 10, QLatin1Char('0')));
        }
        MakeFiles(f.FTarget, names, "old");
        QTest::qWait(20); // the source files are newer
        MakeFiles(f.FSource, names, "new");
        MakeFiles(f.FSource, {QStringLiteral("fresh.txt")});
        f.Open();
        f.Page().cbFileDelete->setChecked(true);
        MakeFiles(f.FTarget, {QStringLiteral("surplus.txt")});
        f.Check();
        QCOMPARE(f.Results().LabUpdatePlan->text(), QStringLiteral("4000"));

        // Esc as soon as the progress window shows the update phase.
        QString heading;
        auto* watcher = new QTimer(this);
        connect(watcher, &QTimer::timeout, [&] {
            if (f.FWindow->FmProcess().DetailLine().startsWith(QStringLiteral("更新: "))) {
                watcher->stop();
                QTest::keyClick(&f.FWindow->FmProcess(), Qt::Key_Escape);
                heading = f.FWindow->FmProcess().Heading();
            }
        });
        watcher->start(1);
        AnswerNextMessageBox(QMessageBox::Yes);
        f.FWindow->FileUpdateExecute();
        watcher->stop();

        QCOMPARE(heading, QStringLiteral("取消中......"));
        QVERIFY(f.FWindow->isVisible());
        QCOMPARE(f.FWindow->Controls().PageControl2->currentWidget(), f.FWindow->Controls().TabSheet6);
        QCOMPARE(f.Results().Memo2->toPlainText(), QString()); // only failures so far: none
        QCOMPARE(f.Results().Memo3->toPlainText(), QStringLiteral("surplus.txt")); // never ran
        const int updated = f.Results().LabUpdate->text().toInt();
        QVERIFY2(updated > 0 && updated < 4000, qPrintable(f.Results().LabUpdate->text()));
        QVERIFY(QFile::exists(f.FTarget + QStringLiteral("/surplus.txt")));

        const QString log = ReadTodaysDayLog(f.FFolder);
        QCOMPARE(log.count(QStringLiteral("<ProcessStatus>中止</ProcessStatus>")), 1);
        QVERIFY(!log.contains(QStringLiteral("<DeleteCount>")));
        // The stop comes before the interrupted phase's counts.
        const qsizetype status = log.indexOf(QStringLiteral("<ProcessStatus>"));
        QVERIFY(log.indexOf(QStringLiteral("<NewFailCount>")) < status);
        QVERIFY(status < log.indexOf(QStringLiteral("<UpdateCount>")));
        QVERIFY(log.indexOf(QStringLiteral("<UpdateFailCount>")) <
                log.indexOf(QStringLiteral("<BeginTime>")));
    }

    void EscDuringTheLastFilesBlockCopyStopsTheRun() {
        TFixture f;
        // One large file, the run's only item (written out: a sparse one copies at once).
        {
            QFile big(f.FSource + QStringLiteral("/big.bin"));
            QVERIFY(big.open(QIODevice::WriteOnly));
            const QByteArray block(1 << 20, 'b');
            for (int i = 0; i < 256; ++i) {
                big.write(block);
            }
        }
        f.Open();
        f.Check();
        // Esc once the item is shown: the phase's own stop test is behind it,
        // so only the block copy can see the stop.
        auto* watcher = new QTimer(this);
        connect(watcher, &QTimer::timeout, [&] {
            if (f.FWindow->FmProcess().DetailLine().startsWith(QStringLiteral("新建: "))) {
                watcher->stop();
                QTest::keyClick(&f.FWindow->FmProcess(), Qt::Key_Escape);
            }
        });
        watcher->start(1);
        TMessageBoxes boxes({QMessageBox::Yes});
        f.FWindow->FileUpdateExecute();
        watcher->stop();

        QCOMPARE(boxes.Seen(), QStringList{QStringLiteral("确认|是否开始同步?")}); // no completion notice
        QVERIFY(QDir(f.FTarget).isEmpty(QDir::Files | QDir::Hidden));
        QCOMPARE(f.Results().Memo1->toPlainText(), QStringLiteral("big.bin"));
        QCOMPARE(f.Results().LabNewFail->text(), QStringLiteral("1"));
        const QString log = ReadTodaysDayLog(f.FFolder);
        QCOMPARE(log.count(QStringLiteral("<ProcessStatus>中止</ProcessStatus>")), 1);
        QVERIFY(!log.contains(QStringLiteral("完成")));
        QVERIFY(log.indexOf(QStringLiteral("<ProcessStatus>")) < log.indexOf(QStringLiteral("<NewCount>")));
        QVERIFY(!log.contains(QStringLiteral("<UpdateCount>"))); // the next phase did not run
    }

    void HidingToTheTrayDuringARunLastsBeyondIt() {
        TFixture f;
        QStringList names;
        for (int i = 0; i < 4000; ++i) {
            names.append(QStringLiteral("f%1.txt").arg(i));
        }
        MakeFiles(f.FSource, names);
        f.Open(true);
        f.Check();
        auto* watcher = new QTimer(this);
        connect(watcher, &QTimer::timeout, [&] {
            if (f.FWindow->FmProcess().DetailLine().startsWith(QStringLiteral("新建: "))) {
                watcher->stop();
                f.FWindow->TrayToggleAction()->trigger(); // "隐藏"
            }
        });
        watcher->start(1);
        TMessageBoxes boxes({QMessageBox::Yes, QMessageBox::Ok});
        f.FWindow->FileUpdateExecute();
        watcher->stop();
        QCOMPARE(boxes.Seen().last(), QStringLiteral("Pairwell|同步完成!") + Tail);
        QVERIFY(!f.FWindow->isVisible());
        QVERIFY(!f.FWindow->FmProcess().isVisible());
        QCOMPARE(f.FWindow->TrayToggleAction()->text(), QStringLiteral("显示"));
        f.FWindow->TrayToggleAction()->trigger();
        QVERIFY(f.FWindow->isVisible());
        QCOMPARE(f.FWindow->TrayToggleAction()->text(), QStringLiteral("隐藏"));
        f.FWindow->close(); // the close box hides it again
        QVERIFY(!f.FWindow->isVisible());
    }

    void ADayFileThatCannotBePreparedRestoresTheWindow() {
        TFixture f;
        MakeFiles(f.FSource, {QStringLiteral("a.txt")});
        f.Open();
        f.Check();
        QDir(f.FFolder.File(QStringLiteral("log"))).removeRecursively();
        WriteFile(f.FFolder.File(QStringLiteral("log")), "a file where the log folder belongs");
        QString error;
        AnswerNextMessageBox(QMessageBox::Yes);
        WhenModalShows(
            [](QWidget* modal) {
                return qobject_cast<QMessageBox*>(modal) &&
                       static_cast<QMessageBox*>(modal)->icon() == QMessageBox::Critical;
            },
            [&](QWidget* modal) {
                error = static_cast<QMessageBox*>(modal)->text();
                modal->close();
            });
        f.FWindow->FileUpdateExecute();
        QVERIFY(!error.isEmpty());
        QVERIFY(f.FWindow->isVisible());
        QVERIFY(!f.FWindow->FmProcess().isVisible());
        QVERIFY(!f.FWindow->IsRunning());
        QVERIFY(!QFile::exists(f.FTarget + QStringLiteral("/a.txt")));
        QCOMPARE(f.Results().Memo1->toPlainText(), QStringLiteral("a.txt")); // the plan is kept
    }

    void ClosingDuringASynchronisationStopsItAndWaits() {
        TFixture f;
        QStringList names;
        for (int i = 0; i < 4000; ++i) {
            names.append(QStringLiteral("f%1.txt").arg(i));
        }
        MakeFiles(f.FSource, names);
        f.Open();
        f.Check();
        auto* watcher = new QTimer(this);
        connect(watcher, &QTimer::timeout, [&] {
            if (f.FWindow->FmProcess().DetailLine().startsWith(QStringLiteral("新建: "))) {
                watcher->stop();
                f.FWindow->Controls().ActExit->trigger();
            }
        });
        watcher->start(1);
        AnswerNextMessageBox(QMessageBox::Yes);
        f.FWindow->FileUpdateExecute();
        watcher->stop();
        QVERIFY(!f.FWindow->IsRunning());
        QVERIFY(!f.FWindow->isVisible()); // closed once the run had ended
        const QString log = ReadTodaysDayLog(f.FFolder);
        QCOMPARE(log.count(QStringLiteral("<item>")), 1);
        QVERIFY(log.contains(QStringLiteral("<ProcessStatus>中止</ProcessStatus>")));
        TIniFile ini(f.FFolder.Bytes(QStringLiteral("pairwell.ini")));
        QCOMPARE(ini.ReadString("project_", "source", ""), f.FSource.toStdString());
    }

    void StoppedCheckWritesNothingIntoTheNextItem() {
        TFixture f;
        QStringList names;
        for (int i = 0; i < 20000; ++i) {
            names.append(QStringLiteral("d%1/f%2.txt").arg(i % 500).arg(i));
        }
        MakeFiles(f.FSource, names);
        f.Open();
        auto* watcher = new QTimer(this);
        connect(watcher, &QTimer::timeout, [&] {
            if (f.FWindow->IsRunning()) {
                watcher->stop();
                f.FWindow->Controls().StopProcess->trigger();
            }
        });
        watcher->start(1);
        bool noticeShown = false;
        QObject* noticeWatcher = WhenModalShows([&](QWidget* modal) {
            noticeShown = true;
            modal->close();
        });
        f.FWindow->FileCheckExecute();
        QTest::qWait(50);
        QVERIFY(!noticeShown); // a stopped check shows no completion notice
        delete noticeWatcher;
        QVERIFY(f.Results().Memo1->document()->blockCount() < 20000);

        f.Check();
        f.Synchronise();
        const QString log = ReadTodaysDayLog(f.FFolder);
        QVERIFY2(log.contains(QStringLiteral("<item><Project>")), qPrintable(log.left(400)));
        QVERIFY(!log.contains(QStringLiteral("中止")));
    }
};

QTEST_MAIN(InteractiveRunTest)
#include "InteractiveRunTest.moc"

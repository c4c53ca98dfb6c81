// Folders on another machine in the window, against a real sshd of the test's
// own: the question about an unknown host key and the refusal of a changed
// one, the password dialog that ssh asks through (this test program stands in
// for the window's program), and the "远程…" dialog that browses the server.

#include "AskPass.h"
#include "FmAskPass.h"
#include "FmRemote.h"
#include "Messages.h"
#include "RemoteReach.h"
#include "SettingsPage.h"
#include "TestSshd.h"
#include "UiTestSupport.h"
#include "config/IniFile.h"
#include "ui_FmAskPass.h"
#include "ui_FmRemote.h"
#include "ui_SettingsPage.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

// What the password program of this test answers, and where it notes ssh's prompts.
constexpr char AnswerVariable[] = "PAIRWELL_TEST_ANSWER";
constexpr char PromptsVariable[] = "PAIRWELL_TEST_PROMPTS";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

// "SHA256:…" of a public key file.
QString FingerprintOf(const std::string& publicKey) {
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"), {QStringLiteral("-lf"), QString::fromStdString(publicKey)});
    keygen.waitForFinished();
    return QString::fromLatin1(keygen.readAllStandardOutput()).section(QLatin1Char(' '), 1, 1);
}

QStringList ChildTexts(QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; item && i < item->childCount(); ++i) {
        texts.append(item->child(i)->text(0));
    }
    return texts;
}

// A project of a local source with one file and the given target and ssh command.
void WriteProject(const TProgramFolder& folder, const std::string& name, const std::string& target,
                  const std::string& sshCommand) {
    MakeFiles(folder.File(QStringLiteral("src")), {QStringLiteral("a.txt")});
    TIniFile ini(folder.Bytes(QStringLiteral("pairwell.ini")));
    ini.WriteString("project_" + name, "source", folder.Bytes(QStringLiteral("src")));
    ini.WriteString("project_" + name, "target", target);
    ini.WriteString("project_" + name, "SshCommand", sshCommand);
}

void ShowProject(TFmPairwell& window, const QString& name) {
    window.SettingsPage().ListProjects();
    window.SettingsPage().SelectProject(name);
    window.SettingsPage().LoadProject(name);
}

} // namespace

class RemoteFoldersTest : public QObject {
    Q_OBJECT
private slots:
    void AnUnknownHostKeyIsAskedAboutAndAChangedOneRefused() {
        TTempDir dir;
        TTestSshd sshd(dir);
        QVERIFY(sshd.Running());
        const std::string keys = dir.Path() + "/ssh";
        MakeFolder(dir / "remote");
        // The same server known under another key: its key has changed.
        const std::string changedHosts = keys + "/changed_known_hosts";
        WriteTextFile(changedHosts, "[127.0.0.1]:" + std::to_string(sshd.Port()) + " " +
                                        ReadTextFile(keys + "/user_key.pub"));
        WriteTextFile(keys + "/changed_config", Replaced(ReadTextFile(keys + "/unknown_config"),
                                                         "empty_known_hosts", "changed_known_hosts"));
        // As ssh is set up by default: it would ask about a new key itself.
        WriteTextFile(keys + "/ask_config",
                      Replaced(ReadTextFile(keys + "/unknown_config"), "StrictHostKeyChecking yes",
                               "StrictHostKeyChecking ask"));
        TProgramFolder folder;
        WriteProject(folder, "Unknown", sshd.Address(dir / "remote"), "ssh -F " + keys + "/ask_config");
        WriteProject(folder, "Changed", sshd.Address(dir / "remote"), "ssh -F " + keys + "/changed_config");
        const std::unique_ptr<TFmPairwell> window = folder.OpenWindow();

        ShowProject(*window, QStringLiteral("Unknown"));
        {
            TMessageBoxes boxes({QMessageBox::Yes});
            window->FileCheckExecute();
            QVERIFY(boxes.WaitFor(2));
            const QString question = boxes.Seen().value(0);
            QVERIFY2(question.startsWith(UnknownHostCaption + QLatin1Char('|')), qPrintable(question));
            QVERIFY2(question.contains(FingerprintOf(keys + "/host_key.pub")), qPrintable(question));
            QVERIFY(question.contains(QString::number(sshd.Port())));
            QCOMPARE(boxes.Seen().value(1), QStringLiteral("Pairwell|检查完成!") + NoticeTail);
        }
        const std::string hostKey = ReadTextFile(keys + "/host_key.pub").substr(0, 80);
        QVERIFY(ReadTextFile(keys + "/empty_known_hosts").find(hostKey) != std::string::npos);

        ShowProject(*window, QStringLiteral("Changed"));
        const std::string before = ReadTextFile(changedHosts);
        TMessageBoxes boxes({QMessageBox::Yes});
        window->FileCheckExecute();
        QVERIFY(boxes.WaitFor(1));
        QTest::qWait(200);
        QCOMPARE(boxes.Seen().size(), 1);
        QVERIFY2(boxes.Seen()[0].startsWith(ChangedHostKeyCaption + QLatin1Char('|')),
                 qPrintable(boxes.Seen()[0]));
        QCOMPARE(boxes.Icons()[0], QMessageBox::Warning);
        QCOMPARE(ReadTextFile(changedHosts), before);
    }

    void SshAsksThroughThePasswordDialogAndACancelRefuses() {
        const QString prompt = QStringLiteral("Enter passphrase for key '/k': ");
        QString title;
        QString shown;
        bool hidden = false;
        QString spoken;
        WhenModalShows([](QWidget* modal) { return qobject_cast<TFmAskPass*>(modal) != nullptr; },
                       [&](QWidget* modal) {
                           Ui::FmAskPass& controls = static_cast<TFmAskPass*>(modal)->Controls();
                           title = modal->windowTitle();
                           shown = controls.LabPrompt->text();
                           hidden = controls.EditPassword->echoMode() == QLineEdit::Password;
                           spoken = controls.EditPassword->accessibleName();
                           controls.EditPassword->setText(QStringLiteral("秘密 word"));
                           controls.BtnOk->click();
                       });
        QByteArray answer;
        QCOMPARE(AskPass(prompt, TAskPassKind::Secret, answer), 0);
        QCOMPARE(answer, QStringLiteral("秘密 word\n").toUtf8());
        QCOMPARE(title, QStringLiteral("SSH 身份验证"));
        QCOMPARE(shown, prompt);
        QVERIFY(hidden);
        QVERIFY(!spoken.isEmpty());
        WhenModalShows(
            [](QWidget* modal) { return qobject_cast<TFmAskPass*>(modal) != nullptr; },
            [](QWidget* modal) { static_cast<TFmAskPass*>(modal)->Controls().BtnCancel->click(); });
        QCOMPARE(AskPass(prompt, TAskPassKind::Secret, answer), 1);
        QVERIFY(answer.isEmpty());

        // Through ssh: a key with a passphrase and no agent.
        TTempDir dir;
        TTestSshd sshd(dir);
        QVERIFY(sshd.Running());
        const std::string keys = dir.Path() + "/ssh";
        QCOMPARE(
            std::system(("ssh-keygen -q -t ed25519 -N 'pass phrase' -f " + keys + "/locked_key").c_str()), 0);
        WriteTextFile(keys + "/authorized_keys", ReadTextFile(keys + "/locked_key.pub"));
        WriteTextFile(keys + "/locked_config",
                      Replaced(ReadTextFile(keys + "/ssh_config"), keys + "/user_key", keys + "/locked_key"));
        MakeFolder(dir / "remote");
        TProgramFolder folder;
        const std::string command = "ssh -F " + keys + "/locked_config";
        WriteProject(folder, "Answered", sshd.Address(dir / "remote"), command);
        // Another command: a connection of its own, asked again.
        WriteProject(folder, "Cancelled", sshd.Address(dir / "remote"), command + " -oConnectTimeout=30");
        qunsetenv("SSH_AUTH_SOCK");
        qputenv(PromptsVariable, QByteArray::fromStdString(dir / "prompts"));
        const std::unique_ptr<TFmPairwell> window =
            folder.OpenWindow(false, QCoreApplication::applicationFilePath());

        ShowProject(*window, QStringLiteral("Answered"));
        qputenv(AnswerVariable, "pass phrase");
        {
            TMessageBoxes boxes;
            window->FileCheckExecute();
            QVERIFY(boxes.WaitFor(1));
            QCOMPARE(boxes.Seen()[0], QStringLiteral("Pairwell|检查完成!") + NoticeTail);
        }
        QVERIFY2(ReadTextFile(dir / "prompts").find("Enter passphrase for key '" + keys + "/locked_key'") !=
                     std::string::npos,
                 ReadTextFile(dir / "prompts").c_str());

        ShowProject(*window, QStringLiteral("Cancelled"));
        qunsetenv(AnswerVariable);
        TMessageBoxes boxes;
        window->FileCheckExecute();
        QVERIFY(boxes.WaitFor(1));
        QVERIFY2(boxes.Seen()[0].startsWith(QStringLiteral("Pairwell|目标文件夹无效: sftp://")),
                 qPrintable(boxes.Seen()[0]));
        QVERIFY2(boxes.Seen()[0].contains(QStringLiteral("Permission denied")), qPrintable(boxes.Seen()[0]));
    }

    void TheRemoteDialogBrowsesTheServersFoldersAndOkWritesTheAddress() {
        TTempDir dir;
        TTestSshd sshd(dir);
        QVERIFY(sshd.Running());
        MakeFolder(dir / "remote/a/b");
        MakeFolder(dir / "remote/c");
        WriteTextFile(dir / "remote/f.txt", "x");
        TProgramFolder folder;
        WriteProject(folder, "P", folder.Bytes(QStringLiteral("dst")), sshd.SshCommand());
        const std::unique_ptr<TFmPairwell> window = folder.OpenWindow();
        ShowProject(*window, QStringLiteral("P"));
        const QString remote = QString::fromStdString(dir / "remote");

        QString home;
        QString top;
        QStringList folders;
        QStringList below;
        QString chosen;
        bool treeKeptFocus = false; // the keys that open folders stay in the tree
        WhenModalShows([](QWidget* modal) { return qobject_cast<TFmRemote*>(modal) != nullptr; },
                       [&](QWidget* modal) {
                           Ui::FmRemote& controls = static_cast<TFmRemote*>(modal)->Controls();
                           controls.EditHost->setText(QString::fromStdString(sshd.HostAlias()));
                           controls.BtnConnect->click(); // no path: the home folder
                           home = controls.TreeFolders->topLevelItem(0)
                                      ? controls.TreeFolders->topLevelItem(0)->text(0)
                                      : controls.LabStatus->text();
                           controls.EditPath->setText(remote);
                           controls.BtnConnect->click();
                           QTreeWidgetItem* item = controls.TreeFolders->topLevelItem(0);
                           top = item ? item->text(0) : controls.LabStatus->text();
                           folders = ChildTexts(item);
                           QTreeWidgetItem* a = item && item->childCount() > 0 ? item->child(0) : nullptr;
                           if (a) {
                               a->setExpanded(true);
                               below = ChildTexts(a);
                               treeKeptFocus = QApplication::focusWidget() == controls.TreeFolders;
                               controls.TreeFolders->setCurrentItem(a->child(0));
                           }
                           chosen = controls.EditPath->text();
                           controls.BtnOk->click();
                       });
        window->SettingsPage().Controls().btnRemote2->click();
        QCOMPARE(home, QStringLiteral("~"));
        QCOMPARE(top, remote);
        QCOMPARE(folders, (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
        QCOMPARE(below, QStringList{QStringLiteral("b")});
        QVERIFY(treeKeptFocus);
        QCOMPARE(chosen, remote + QStringLiteral("/a/b"));
        QCOMPARE(window->SettingsPage().Controls().DirectoryEdit2->text(),
                 QString::fromStdString(sshd.Address(dir / "remote/a/b")));

        // An address below the home folder comes back as it was written.
        TFmRemote dialog(sshd.SshCommand());
        dialog.SetAddress(QStringLiteral("sftp://u@h:2222/~/x y"));
        QCOMPARE(dialog.Controls().EditPath->text(), QStringLiteral("~/x y"));
        QCOMPARE(dialog.Address(), QStringLiteral("sftp://u@h:2222/~/x y"));
    }
};

// ssh starts this program as the window's password program: it answers as
// the test told it through the environment (cancels when told nothing).
int main(int argc, char** argv) {
    if (IsAskPassStart()) {
        const QString prompt = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
        QApplication application(argc, argv);
        QFile prompts(qEnvironmentVariable(PromptsVariable));
        if (prompts.open(QIODevice::Append)) {
            prompts.write(prompt.toLocal8Bit() + '\n');
        }
        const QString answer = qEnvironmentVariable(AnswerVariable);
        WhenModalShows([answer](QWidget* modal) {
            Ui::FmAskPass& controls = static_cast<TFmAskPass*>(modal)->Controls();
            controls.EditPassword->setText(answer);
            (answer.isEmpty() ? controls.BtnCancel : controls.BtnOk)->click();
        });
        return RunAskPass(prompt);
    }
    QApplication application(argc, argv);
    RemoteFoldersTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "RemoteFoldersTest.moc"

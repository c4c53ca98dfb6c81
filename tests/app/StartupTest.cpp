// The real program: one window per configuration file, the project it shows
// at start, and a signal that ends it as "关闭" does.

#include "config/IniFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

namespace {

void WriteText(const QString& path, const QByteArray& text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private:
    // Each test has a runtime folder of its own: a killed window leaves its lock file.
    std::unique_ptr<QTemporaryDir> FRuntime;

    void Start(QProcess& process, const QString& configFile) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), FRuntime->path());
        environment.remove(QStringLiteral("QT_LOGGING_RULES"));
        process.setProcessEnvironment(environment);
        process.start(QDir(qEnvironmentVariable("PAIRWELL_BIN")).filePath(QStringLiteral("pairwell")),
                      {QStringLiteral("--config"), configFile});
        QVERIFY(process.waitForStarted());
    }

    qsizetype WindowsRunning() const {
        return QDir(FRuntime->path()).entryList({QStringLiteral("Pairwell*.lock")}, QDir::Files).size();
    }

private slots:
    void init() { FRuntime = std::make_unique<QTemporaryDir>(); }

    // Each configuration has its window and its log; a second start on one,
    // by whatever name, ends at once with status 0 and no window.
    void OneWindowRunsPerConfigurationFile() {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(QStringLiteral("other")));
        WriteText(dir.filePath(QStringLiteral("one.ini")), "[project_a]\nsource = /a\n");
        WriteText(dir.filePath(QStringLiteral("other/two.ini")), "[project_b]\nsource = /b\n");
        QVERIFY(
            QFile::link(dir.filePath(QStringLiteral("one.ini")), dir.filePath(QStringLiteral("link.ini"))));

        QProcess one, two, again;
        Start(one, dir.filePath(QStringLiteral("one.ini")));
        QTRY_COMPARE_WITH_TIMEOUT(WindowsRunning(), 1, 20000);
        Start(two, dir.filePath(QStringLiteral("other/two.ini")));
        QTRY_COMPARE_WITH_TIMEOUT(WindowsRunning(), 2, 20000);
        // Through the link, from another folder: the same file, the same window.
        again.setWorkingDirectory(dir.filePath(QStringLiteral("other")));
        Start(again, QStringLiteral("../link.ini"));
        QVERIFY(again.waitForFinished(10000));
        QCOMPARE(again.exitStatus(), QProcess::NormalExit);
        QCOMPARE(again.exitCode(), 0);
        QCOMPARE(one.state(), QProcess::Running);
        QCOMPARE(two.state(), QProcess::Running);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("log/index.htm"))), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("other/log/index.htm"))), 20000);

        for (QProcess* window : {&one, &two}) {
            window->kill();
            window->waitForFinished();
        }
    }

    // A configuration that never saw a close shows its first project; SIGTERM
    // ends the window with status 0 after storing what "关闭" stores, and the
    // web engine's start says nothing on standard error.
    void TerminationClosesAsCloseDoesAndTheFirstProjectIsShown() {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("pairwell.ini"));
        WriteText(config, "[project_first]\nsource = /first\n[project_second]\nsource = /second\n");

        QProcess window;
        Start(window, config);
        QTRY_COMPARE_WITH_TIMEOUT(WindowsRunning(), 1, 20000);
        QTest::qWait(3000); // the window and its browser are up
        QCOMPARE(window.state(), QProcess::Running);
        QCOMPARE(::kill(static_cast<pid_t>(window.processId()), SIGTERM), 0);
        QVERIFY(window.waitForFinished(20000));
        QCOMPARE(window.exitStatus(), QProcess::NormalExit);
        QCOMPARE(window.exitCode(), 0);
        QCOMPARE(WindowsRunning(), 0);

        const TIniFile ini(config.toStdString());
        QCOMPARE(ini.ReadString("system", "project", "not stored"), std::string("first"));
        const QString errors = QString::fromUtf8(window.readAllStandardError());
        QVERIFY2(!errors.contains(QStringLiteral("qt.webenginecontext")), qPrintable(errors));
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"

// The real program: a second start while one runs ends at once with status 0.

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void ASecondStartEndsAtOnce() {
        QTemporaryDir runtime;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        const QString program =
            QDir(qEnvironmentVariable("PAIRWELL_BIN")).filePath(QStringLiteral("pairwell"));

        QProcess first;
        first.setProcessEnvironment(environment);
        first.start(program, {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runtime.filePath(QStringLiteral("Pairwell.lock"))), 20000);

        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(program, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        first.kill();
        first.waitForFinished();
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"

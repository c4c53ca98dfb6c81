// Pairwell: the window. One instance per user; it lives in the tray.

#include "FmPairwell.h"
#include "runlog/FirstStart.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <unistd.h>

namespace {

// The per-user lock that keeps a second copy from starting.
QString InstanceLockFileName() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return QDir(folder).filePath(QStringLiteral("Pairwell.lock"));
}

} // namespace

int main(int argc, char** argv) {
    // The embedded browser refuses to start as root unless its sandbox is off.
    if (geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    QApplication application(argc, argv);
    QLockFile instanceLock(InstanceLockFileName());
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock(0)) {
        return 0; // another copy runs: end at once, with no window
    }
    QApplication::setQuitOnLastWindowClosed(false);
    PrepareProgramFolders(ProgramFolders());
    TFmPairwell window(TFmPairwellOptions::ForProgram());
    window.show();
    QApplication::exec();
    return 0;
}

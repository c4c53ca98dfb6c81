// Pairwell: the window. One instance per configuration and user; it lives in the tray.

#include "AskPass.h"
#include "ByteText.h"
#include "FmPairwell.h"
#include "InstanceLock.h"
#include "TerminationSignal.h"
#include "runlog/FirstStart.h"

#include <QApplication>
#include <QLockFile>
#include <QLoggingCategory>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

const char* const UsageText =
    "Usage: pairwell [--config FILE]\n"
    "\n"
    "The window of Pairwell. One window runs per configuration file; a second\n"
    "start on the same file ends at once.\n"
    "\n"
    "  --config FILE   the configuration file; runs are logged in the folder \"log\"\n"
    "                  beside it. Without it: pairwell.ini beside the program, or,\n"
    "                  installed, $XDG_CONFIG_HOME/pairwell/pairwell.ini\n"
    "                  (~/.config) with its log in $XDG_DATA_HOME/pairwell/log\n"
    "  -h, --help      this text\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well. SIGTERM or\n"
    "SIGINT ends the window as the tray menu's close entry does: a run stops,\n"
    "unsaved edits are kept, and the exit status is 0.\n";

constexpr int ExitUsage = 2;

int Usage(const std::string& problem) {
    std::cerr << "pairwell: " << problem << "\n\n" << UsageText;
    return ExitUsage;
}

// The web engine tells its graphics set-up at every start: that is for
// whoever asks for it with QT_LOGGING_RULES or a logging configuration.
void QuietWebEngineStart() {
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES") && !qEnvironmentVariableIsSet("QT_LOGGING_CONF")) {
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    }
}

} // namespace

int main(int argc, char** argv) {
    // Started by ssh to ask a password: the dialog alone, before anything else.
    if (IsAskPassStart()) {
        return AskPassMain(argc, argv);
    }
    // Help needs no display: it is answered before the application connects to one.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << UsageText;
            return 0;
        }
    }
    // The embedded browser refuses to start as root unless its sandbox is off.
    if (geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    QuietWebEngineStart();
    // The embedded browser shares its graphics contexts with the window; asked
    // for late, it warns at every start.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);

    // What is left once Qt has taken its own options out of argv; file names are bytes.
    std::string configFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--config") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                return Usage("--config needs a file name");
            }
            configFile = argv[++i];
        } else if (arg.rfind("--config=", 0) == 0 && arg.size() > 9) {
            configFile = arg.substr(9);
        } else {
            return Usage("unknown argument \"" + arg + "\"");
        }
    }
    if (!configFile.empty()) {
        // The log page and the lock need the whole path wherever the window was started from.
        std::error_code error;
        if (const std::filesystem::path whole = std::filesystem::absolute(configFile, error); !error) {
            configFile = whole.lexically_normal().string();
        }
    }
    const TFmPairwellOptions options = TFmPairwellOptions::ForProgram(configFile);

    // Installed before anything can be seen of this start: a signal that
    // comes while the window is being made waits for the event loop.
    TTerminationSignal termination;
    QLockFile instanceLock(InstanceLockFileName(TextToBytes(options.FConfigFileName)));
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock(0)) {
        return 0; // a window runs on this configuration: end at once, with no window
    }
    QApplication::setQuitOnLastWindowClosed(false);
    PrepareProgramFolders(configFile.empty() ? ProgramFolders() : ProgramFoldersWithConfig(configFile));
    TFmPairwell window(options);
    QObject::connect(&termination, &TTerminationSignal::Received, &window, &TFmPairwell::TerminateExecute);
    window.show();
    QApplication::exec();
    return 0;
}

#include "ProgramFolders.h"

#include "InstallLayout.h"
#include "PathText.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A base folder of the user's: the variable when it holds an absolute path
// (a relative one is ignored, as the XDG rules ask), else home + fallback.
std::string UserBase(const std::string& variable, const std::string& home, const char* fallback) {
    if (!variable.empty() && variable[0] == '/') {
        return variable;
    }
    return (home.empty() || home == "/" ? std::string() : home) + fallback;
}

} // namespace

TUserEnvironment TUserEnvironment::FromProcess() {
    TUserEnvironment environment;
    environment.FHome = Variable("HOME");
    if (environment.FHome.empty()) {
        if (const passwd* account = getpwuid(getuid()); account != nullptr && account->pw_dir != nullptr) {
            environment.FHome = account->pw_dir;
        }
    }
    environment.FConfigHome = Variable("XDG_CONFIG_HOME");
    environment.FDataHome = Variable("XDG_DATA_HOME");
    return environment;
}

TProgramFolders ProgramFoldersFor(const std::string& executableFolder, const TUserEnvironment& environment) {
    TProgramFolders folders;
    // The installed layout is recognised by its files, not by whether the
    // program's folder can be written: /usr/bin can be written by root.
    const std::string share =
        std::filesystem::path(executableFolder + "/" + PAIRWELL_SHARE_FROM_BIN).lexically_normal().string();
    const bool shared = IsRegularFile(share + "/log/index.htm");
    folders.FShareFolder = shared ? share : executableFolder;
    folders.FInstalled = shared || access(executableFolder.c_str(), W_OK) != 0;
    if (folders.FInstalled) {
        folders.FConfigFileName =
            UserBase(environment.FConfigHome, environment.FHome, "/.config") + "/pairwell/pairwell.ini";
        folders.FLogFolder =
            UserBase(environment.FDataHome, environment.FHome, "/.local/share") + "/pairwell/log";
    } else {
        folders.FConfigFileName = executableFolder + "/pairwell.ini";
        folders.FLogFolder = LogFolderBeside(folders.FConfigFileName);
    }
    return folders;
}

TProgramFolders ProgramFolders() {
    return ProgramFoldersFor(ExecutableFolder(), TUserEnvironment::FromProcess());
}

TProgramFolders ProgramFoldersWithConfig(const std::string& configFileName) {
    TProgramFolders folders = ProgramFolders();
    folders.FLogFolder = LogFolderFor(configFileName);
    folders.FConfigFileName = configFileName;
    return folders;
}

std::string LogFolderBeside(const std::string& configFileName) {
    return ExtractFileDir(configFileName) + "/log";
}

std::string LogFolderFor(const std::string& configFileName) {
    const TProgramFolders folders = ProgramFolders();
    return configFileName == folders.FConfigFileName ? folders.FLogFolder : LogFolderBeside(configFileName);
}

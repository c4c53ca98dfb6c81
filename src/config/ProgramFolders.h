#pragma once

#include <string>

// The user's folders as the environment names them; blank where unset.
struct TUserEnvironment {
    std::string FHome;       // $HOME, else the account's home folder
    std::string FConfigHome; // $XDG_CONFIG_HOME
    std::string FDataHome;   // $XDG_DATA_HOME

    static TUserEnvironment FromProcess();
};

// Where the program finds its own files and where it keeps the user's.
struct TProgramFolders {
    // True for a program that cannot keep the user's files beside itself: one
    // installed with its own files in share/pairwell (as /usr/bin/pairwell with
    // /usr/share/pairwell, whoever runs it), or one in a folder it cannot
    // write. Its configuration lives in $XDG_CONFIG_HOME/pairwell and its run
    // log in $XDG_DATA_HOME/pairwell/log (~/.config and ~/.local/share by
    // default). Otherwise (the build folder, a copy in a folder of one's own)
    // everything sits beside the program.
    bool FInstalled = false;
    // The program's own files: the log viewer in "log" and the help page.
    std::string FShareFolder;
    // The configuration the window and pairwell-cli share unless told otherwise.
    std::string FConfigFileName;
    // The run log of that configuration.
    std::string FLogFolder;
};

// The folders of a program whose executable lies in executableFolder.
TProgramFolders ProgramFoldersFor(const std::string& executableFolder, const TUserEnvironment& environment);

// The folders of this program in this process's environment.
TProgramFolders ProgramFolders();

// The folders of this program working on the given configuration file (a
// "--config FILE"), whose run log LogFolderFor names.
TProgramFolders ProgramFoldersWithConfig(const std::string& configFileName);

// The run log of a configuration: the folder "log" beside its file.
std::string LogFolderBeside(const std::string& configFileName);

// The run log of a configuration as the programs keep it: the default one's
// log folder for the default configuration, else the folder "log" beside it.
std::string LogFolderFor(const std::string& configFileName);

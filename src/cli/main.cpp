// pairwell-cli: the headless face of the synchronisation engine, for cron,
// systemd timers, scripts and benchmarks.

#include "CommandLine.h"
#include "CommandTable.h"
#include "Commands.h"
#include "NextRunCommand.h"
#include "RestoreCommand.h"
#include "StaleCommand.h"
#include "StopSignal.h"
#include "VersionsCommand.h"
#include "config/PathText.h"
#include "config/ProgramFolders.h"
#include "jobs/JobDaemon.h"
#include "runlog/FirstStart.h"

#include <climits>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int Usage(const std::string& problem) {
    std::cerr << "pairwell-cli: " << problem << "\n\n" << CliUsageText();
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    const TCommandLine line = ParseCommandLine(argc, argv);
    if (line.FHelp) {
        std::cout << CliUsageText();
        return ExitCompleted;
    }
    if (!line.FProblem.empty()) {
        return Usage(line.FProblem);
    }
    const std::vector<std::string>& words = line.FWords;
    const std::string& command = words[0];
    const bool isVersions = command == "versions";
    const bool isRestore = command == "restore";
    const std::optional<std::string> atText = line.Value("--at");
    const std::optional<TDateTime> at = atText ? TryTextToDateTime(*atText) : Now();
    if (!at) {
        return Usage("--at needs a date and time such as \"2026-03-10 17:45:00\"");
    }
    int jobs = 0;
    if (const std::optional<std::string> jobsText = line.Value("--jobs")) {
        const std::string& text = *jobsText;
        const bool digits =
            !text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos;
        jobs = digits ? std::stoi(text) : 0;
        if (jobs < 1 || jobs > 16) {
            return Usage("--jobs needs a number from 1 to 16, not \"" + text + "\"");
        }
    }
    const std::optional<std::string> lastRunText = line.Value("--last-run");
    const std::optional<TDateTime> lastRun = lastRunText ? TryTextToDateTime(*lastRunText) : std::nullopt;
    if (lastRunText && !lastRun) {
        return Usage("--last-run needs a date and time such as \"2026-03-10 17:45:00\"");
    }
    const std::optional<std::string> toFolder = line.Value("--to");
    const bool json = line.Has("--json");
    const bool forceDelete = line.Has("--force-delete");
    const bool breakLock = line.Has("--break-lock");
    std::string configFile = line.Value("--config").value_or("");
    const bool defaultConfig = configFile.empty();
    if (defaultConfig) {
        configFile = DefaultConfigFileName();
    }
    // A service started before anything was set up waits for its default
    // configuration to be written, as the window's first start does, rather
    // than failing and being restarted over and over.
    const bool daemonAwaitsConfig =
        command == "daemon" && defaultConfig && access(configFile.c_str(), F_OK) != 0;
    if (daemonAwaitsConfig) {
        PrepareProgramFolders(ProgramFolders());
        std::cerr << "pairwell-cli: no configuration at " << configFile << " yet; waiting for it\n";
    }
    // Reading a missing file as an empty one suits the window's first start,
    // not a command: a mistyped path would look like "no such project".
    if (const std::string problem = RegularFileProblem(configFile); !daemonAwaitsConfig && !problem.empty()) {
        std::cerr << "pairwell-cli: configuration file " << configFile << ": " << problem << '\n';
        return ExitNotCompleted;
    }
    InstallStopSignals();
    if (command == "daemon") {
        TDaemonOptions options;
        options.FStopRequested = StopSignalTest();
        options.FMessages = &std::cerr;
        try {
            return RunJobDaemon(configFile, options);
        } catch (const std::exception& error) {
            std::cerr << "pairwell-cli: " << error.what() << '\n';
            return ExitNotCompleted;
        }
    }

    try {
        const TIniFile ini(configFile);
        const TRunLog runLog(LogFolderFor(configFile));
        if (command == "projects") {
            return CommandProjects(ini);
        }
        if (command == "jobs") {
            return CommandJobs(ini);
        }
        if (command == "check") {
            return CommandCheck(ini, words[1], line.Has("--null") ? '\0' : '\n', line.Has("--moves"));
        }
        if (isVersions) {
            return CommandVersions(ini, words[1],
                                   words.size() > 2 ? std::optional<std::string>(words[2]) : std::nullopt);
        }
        if (isRestore) {
            return CommandRestore(ini, runLog, words[1], words[2], atText ? at : std::nullopt, toFolder, json,
                                  breakLock);
        }
        if (command == "next-run") {
            return CommandNextRun(ini, words[1], *at, lastRun);
        }
        if (command == "stale") {
            return CommandStale(ini, *at);
        }
        if (command == "sync") {
            return CommandSync(ini, runLog, words[1], json, jobs, forceDelete, breakLock);
        }
        return CommandRunJob(ini, runLog, words[1], json, jobs, forceDelete, breakLock);
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << "pairwell-cli: " << error.what() << '\n';
        return ExitNotCompleted;
    }
}

// pairwell-cli: the headless face of the synchronisation engine, for cron,
// systemd timers, scripts and benchmarks.

#include "Commands.h"
#include "NextRunCommand.h"
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

const char* const UsageText =
    "Usage: pairwell-cli [--config FILE] COMMAND [NAME]\n"
    "\n"
    "Commands:\n"
    "  projects          list the stored projects, one per line\n"
    "  jobs              list the stored jobs, one per line\n"
    "  check PROJECT     check a stored project and print its plan\n"
    "                    (lines \"new\", \"update\", \"delete\", a tab, the path)\n"
    "  check -0 PROJECT  the same with every line ended by NUL instead of a newline\n"
    "  sync PROJECT      check and synchronise a stored project, logging the run\n"
    "  run-job JOB       run every project of a stored job, as its schedule would\n"
    "  next-run JOB [--at \"yyyy-MM-dd HH:mm:ss\"] [--last-run \"yyyy-MM-dd HH:mm:ss\"]\n"
    "                    print when the job's schedule would run it next if\n"
    "                    rescheduled at that moment (default: now), as HH:mm,\n"
    "                    暂停 when it would not be armed, 变化时 or 连接时 for jobs\n"
    "                    run by their folders; with CatchUp on and a run missed\n"
    "                    since the last start (default: from the state file),\n"
    "                    the catch-up time 2 minutes after that moment\n"
    "  stale [--at \"yyyy-MM-dd HH:mm:ss\"]\n"
    "                    list the enabled jobs without a clean run for their\n"
    "                    StaleDays days at that moment (default: now): the job,\n"
    "                    a tab, the days; exit status 1 when any is listed\n"
    "  daemon            run every enabled job on its schedule without a window,\n"
    "                    until SIGTERM or SIGINT; one scheduler per configuration\n"
    "                    tells the desktop of runs as [system] Notify says\n"
    "  versions PROJECT [PATH]\n"
    "                    list the kept versions of replaced and deleted files, one\n"
    "                    per line: run start \"yyyy-MM-dd HH:mm:ss\", a tab, the\n"
    "                    path, a tab, the size in bytes; with PATH only that file's\n"
    "                    (or those below that folder)\n"
    "  restore PROJECT PATH [--at \"yyyy-MM-dd HH:mm:ss\"] [--to DIR]\n"
    "                    copy back the newest version of PATH (of each file below\n"
    "                    it, for a folder) kept at or before --at (default: the\n"
    "                    newest) to its place in the receiving folder, or to\n"
    "                    DIR/PATH; a file it replaces is kept as a version first\n"
    "\n"
    "Options:\n"
    "  --config FILE     the configuration file; runs are logged in the folder \"log\"\n"
    "                    beside it. Default: pairwell.ini beside this program, or for\n"
    "                    the installed program $XDG_CONFIG_HOME/pairwell/pairwell.ini\n"
    "                    (~/.config) with its log in $XDG_DATA_HOME/pairwell/log\n"
    "                    (~/.local/share)\n"
    "  -0, --null        end plan lines with NUL (check only)\n"
    "  --at TIME         the moment for next-run and stale; for restore, the\n"
    "                    latest version to take\n"
    "  --to DIR          restore below DIR instead of the receiving folder\n"
    "  --jobs N          copy N files at once, 1 to 16 (sync and run-job; default: the\n"
    "                    [system] key ParallelCopies, auto = the cores, at most 8, 1 on a\n"
    "                    rotating disk)\n"
    "  --json            print one JSON object on standard output when the run\n"
    "                    ends (sync and run-job; schema in the README)\n"
    "  --force-delete    sync and run-job: go ahead with deletions that the deletion\n"
    "                    guard refuses (an empty source, or more than the project's\n"
    "                    DeleteGuardPercent of the target and at least DeleteGuardCount)\n"
    "  --help            show this text\n"
    "\n"
    "A project folder may be sftp://[user@]host[:port]/path (or /~/path below the\n"
    "home folder), reached through ssh -s sftp with the project's SshCommand\n"
    "(default: ssh); ssh never prompts here (BatchMode=yes).\n"
    "\n"
    "Ctrl+C or SIGTERM stops a run at its next file; the run is logged as stopped.\n"
    "Exit status of sync and run-job: 0 completed, 1 completed with failed items,\n"
    "2 not completed (rejected, stopped, an error, or no such job), 4 refused by the\n"
    "deletion guard (run-job: any of its projects; the others still run); 64 bad usage.\n"
    "Exit status of daemon: 0 stopped by SIGTERM or SIGINT once its runs ended,\n"
    "2 another scheduler (a daemon or the window) holds the configuration, or it\n"
    "cannot be read; 64 bad usage.\n";

int Usage(const std::string& problem) {
    std::cerr << "pairwell-cli: " << problem << "\n\n" << UsageText;
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    std::string configFile;
    std::optional<std::string> atText;      // next-run, stale and restore
    std::optional<std::string> lastRunText; // next-run only
    std::optional<std::string> toFolder;    // restore only
    bool nulLineEnds = false;
    std::optional<std::string> jobsText; // sync and run-job only
    bool json = false;
    bool forceDelete = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << UsageText;
            return ExitCompleted;
        }
        if (arg == "--config") {
            if (i + 1 >= argc || std::string(argv[i + 1]).empty()) {
                return Usage("--config needs a file name");
            }
            configFile = argv[++i];
        } else if (arg.rfind("--config=", 0) == 0 && arg.size() > 9) {
            configFile = arg.substr(9);
        } else if (arg == "--at") {
            if (i + 1 >= argc) {
                return Usage("--at needs a date and time");
            }
            atText = argv[++i];
        } else if (arg.rfind("--at=", 0) == 0) {
            atText = arg.substr(5);
        } else if (arg == "--to") {
            if (i + 1 >= argc || std::string(argv[i + 1]).empty()) {
                return Usage("--to needs a folder");
            }
            toFolder = argv[++i];
        } else if (arg.rfind("--to=", 0) == 0 && arg.size() > 5) {
            toFolder = arg.substr(5);
        } else if (arg == "--jobs" || arg == "-j") {
            if (i + 1 >= argc) {
                return Usage("--jobs needs a number from 1 to 16");
            }
            jobsText = argv[++i];
        } else if (arg.rfind("--jobs=", 0) == 0) {
            jobsText = arg.substr(7);
        } else if (arg == "--last-run") {
            if (i + 1 >= argc) {
                return Usage("--last-run needs a date and time");
            }
            lastRunText = argv[++i];
        } else if (arg.rfind("--last-run=", 0) == 0) {
            lastRunText = arg.substr(11);
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "-0" || arg == "--null") {
            nulLineEnds = true;
        } else if (arg == "--force-delete") {
            forceDelete = true;
        } else if (arg.size() > 1 && arg[0] == '-' && words.empty()) {
            return Usage("unknown option " + arg);
        } else {
            words.push_back(arg);
        }
    }
    if (words.empty()) {
        return Usage("no command given");
    }
    const std::string& command = words[0];
    const bool takesName =
        command == "check" || command == "sync" || command == "run-job" || command == "next-run";
    const bool takesNothing =
        command == "projects" || command == "jobs" || command == "daemon" || command == "stale";
    const bool isVersions = command == "versions";
    const bool isRestore = command == "restore";
    if (!takesName && !takesNothing && !isVersions && !isRestore) {
        return Usage("unknown command " + command);
    }
    if (isVersions && words.size() != 2 && words.size() != 3) {
        return Usage("versions takes a project and perhaps a path");
    }
    if (isRestore && words.size() != 3) {
        return Usage("restore takes a project and a path");
    }
    if (toFolder && !isRestore) {
        return Usage("--to belongs to restore");
    }
    if (takesName && words.size() != 2) {
        return Usage(command + " takes one name");
    }
    if (takesNothing && words.size() != 1) {
        return Usage(command + " takes no name");
    }
    if (atText && command != "next-run" && command != "stale" && !isRestore) {
        return Usage("--at belongs to next-run, stale and restore");
    }
    const std::optional<TDateTime> at = atText ? TryTextToDateTime(*atText) : Now();
    if (!at) {
        return Usage("--at needs a date and time such as \"2026-03-10 17:45:00\"");
    }
    int jobs = 0;
    if (jobsText) {
        if (command != "sync" && command != "run-job") {
            return Usage("--jobs belongs to sync and run-job");
        }
        const std::string& text = *jobsText;
        const bool digits =
            !text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos;
        jobs = digits ? std::stoi(text) : 0;
        if (jobs < 1 || jobs > 16) {
            return Usage("--jobs needs a number from 1 to 16, not \"" + text + "\"");
        }
    }
    if (lastRunText && command != "next-run") {
        return Usage("--last-run belongs to next-run");
    }
    const std::optional<TDateTime> lastRun = lastRunText ? TryTextToDateTime(*lastRunText) : std::nullopt;
    if (lastRunText && !lastRun) {
        return Usage("--last-run needs a date and time such as \"2026-03-10 17:45:00\"");
    }
    if (json && command != "sync" && command != "run-job") {
        return Usage("--json applies to sync and run-job only");
    }
    if (nulLineEnds && command != "check") {
        return Usage("-0 applies to check only");
    }
    if (forceDelete && command != "sync" && command != "run-job") {
        return Usage("--force-delete applies to sync and run-job only");
    }
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
            return CommandCheck(ini, words[1], nulLineEnds ? '\0' : '\n');
        }
        if (isVersions) {
            return CommandVersions(ini, words[1],
                                   words.size() > 2 ? std::optional<std::string>(words[2]) : std::nullopt);
        }
        if (isRestore) {
            return CommandRestore(ini, words[1], words[2], atText ? at : std::nullopt, toFolder);
        }
        if (command == "next-run") {
            return CommandNextRun(ini, words[1], *at, lastRun);
        }
        if (command == "stale") {
            return CommandStale(ini, *at);
        }
        if (command == "sync") {
            return CommandSync(ini, runLog, words[1], json, jobs, forceDelete);
        }
        return CommandRunJob(ini, runLog, words[1], json, jobs, forceDelete);
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << "pairwell-cli: " << error.what() << '\n';
        return ExitNotCompleted;
    }
}

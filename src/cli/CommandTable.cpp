#include "CommandTable.h"

#include "Commands.h"

#include <algorithm>

namespace {

// Where the help of a command or an option starts on its line.
constexpr std::size_t HelpColumn = 20;

std::string OptionSynopsis(const TCliOption& option) {
    return option.FValue.empty() ? option.FName : option.FName + " " + option.FValue;
}

// Columns on a terminal: a CJK character (three bytes in UTF-8) takes two.
std::size_t DisplayWidth(const std::string& text) {
    std::size_t width = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) {
            width += (byte & 0xF0) == 0xE0 ? 2 : 1;
        }
    }
    return width;
}

// The head, then its help wrapped into the column at the blanks.
void AppendEntry(std::string& text, const std::string& head, const std::string& help) {
    constexpr std::size_t lineWidth = 80;
    text += "  " + head;
    std::size_t column = 2 + head.size();
    if (column + 1 >= HelpColumn) {
        text += '\n';
        column = 0;
    }
    bool lineStart = true;
    std::size_t from = 0;
    while (from < help.size()) {
        std::size_t end = help.find(' ', from);
        end = end == std::string::npos ? help.size() : end;
        const std::string word = help.substr(from, end - from);
        from = end + 1;
        if (!lineStart && column + 1 + DisplayWidth(word) > lineWidth) {
            text += '\n';
            column = 0;
            lineStart = true;
        }
        if (lineStart) {
            text += std::string(HelpColumn - column, ' ');
            column = HelpColumn;
        } else {
            text += ' ';
            ++column;
        }
        text += word;
        column += DisplayWidth(word);
        lineStart = false;
    }
    text += '\n';
}

} // namespace

const std::vector<TCliCommand>& CliCommands() {
    static const std::vector<TCliCommand> commands{
        {"projects", {}, "list the stored projects, one per line"},
        {"jobs", {}, "list the stored jobs, one per line"},
        {"check",
         {"PROJECT"},
         "check a stored project and print its plan, changing nothing (lines \"new\", \"update\", "
         "\"delete\", a tab, the path)"},
        {"sync", {"PROJECT"}, "check and synchronise a stored project, logging the run"},
        {"run-job", {"JOB"}, "run every project of a stored job, as its schedule would"},
        {"next-run",
         {"JOB"},
         "print when the job's schedule would run it next if rescheduled at that moment (default: now), as "
         "HH:mm, 暂停 when it would not be armed, 变化时 or 连接时 for jobs run by their folders; with "
         "CatchUp on and a run missed since the last start (default: from the state file), the catch-up time "
         "2 minutes after that moment"},
        {"stale",
         {},
         "list the enabled jobs without a clean run for their StaleDays days at that moment (default: now): "
         "the job, a tab, the days; exit status 1 when any is listed"},
        {"daemon",
         {},
         "run every enabled job on its schedule without a window, until SIGTERM or SIGINT; one scheduler per "
         "configuration; tells the desktop of runs as [system] Notify says"},
        {"versions",
         {"PROJECT", "[PATH]"},
         "list the kept versions of replaced and deleted files, one per line: run start \"yyyy-MM-dd "
         "HH:mm:ss\", a tab, the path, a tab, the size in bytes; with PATH only that file's (or those below "
         "that folder)"},
        {"restore",
         {"PROJECT", "PATH"},
         "copy back the newest version of PATH (of each file below it, for a folder) kept at or before --at "
         "(default: the newest) to its place in the receiving folder, or to DIR/PATH; a file it replaces is "
         "kept as a version first; the restore is logged as a run of its own"},
    };
    return commands;
}

const std::vector<TCliOption>& CliOptions() {
    static const std::vector<TCliOption> options{
        {"--config",
         "",
         "FILE",
         {},
         "the configuration file; runs are logged in the folder \"log\" beside it. Default: pairwell.ini "
         "beside this program, or for the installed program $XDG_CONFIG_HOME/pairwell/pairwell.ini "
         "(~/.config) with its log in $XDG_DATA_HOME/pairwell/log (~/.local/share)"},
        {"--null", "-0", "", {"check"}, "end plan lines with NUL instead of a newline"},
        {"--moves",
         "",
         "",
         {"check"},
         "after the plan, a line \"move\", a tab, the old path, a tab, the new path for each file or folder "
         "a "
         "sync would rename in the target instead of copying it again"},
        {"--at",
         "",
         "TIME",
         {"next-run", "stale", "restore"},
         "a moment, \"yyyy-MM-dd HH:mm:ss\": for next-run and stale the moment to judge at; for restore the "
         "latest version to take"},
        {"--last-run",
         "",
         "TIME",
         {"next-run"},
         "the job's last start, \"yyyy-MM-dd HH:mm:ss\", instead of the one in the state file"},
        {"--to", "", "DIR", {"restore"}, "restore below DIR instead of the receiving folder"},
        {"--jobs",
         "-j",
         "N",
         {"sync", "run-job"},
         "copy N files at once, 1 to 16 (default: the [system] key ParallelCopies, auto = the cores, at most "
         "8, 1 on a rotating disk)"},
        {"--json",
         "",
         "",
         {"sync", "run-job", "restore"},
         "print one JSON object on standard output when the run ends (schema in the README)"},
        {"--force-delete",
         "",
         "",
         {"sync", "run-job"},
         "go ahead with deletions that the deletion guard refuses (an empty source, or more than the "
         "project's DeleteGuardPercent of the target and at least DeleteGuardCount)"},
        {"--break-lock",
         "",
         "",
         {"sync", "run-job", "restore"},
         "take over the lock (.pairwell-lock) of a receiving folder on another machine that another run "
         "holds; only when that run is gone (a lock left by an ended process of this machine is taken over "
         "without it)"},
        {"--help", "-h", "", {}, "show this text"},
    };
    return options;
}

const std::vector<TCliExitStatus>& CliExitStatuses() {
    static const std::vector<TCliExitStatus> statuses{
        {ExitCompleted, "completed; daemon: stopped by SIGTERM or SIGINT once its runs ended"},
        {ExitItemsFailed, "completed with failed items; stale: a job is listed"},
        {ExitNotCompleted, "not completed (rejected, stopped, an error, or no such project or job);"
                           " daemon: another scheduler (a daemon or the window) holds the"
                           " configuration, or it cannot be read"},
        {ExitDeleteGuard, "sync and run-job: refused by the deletion guard (run-job: any of its"
                          " projects; the others still run)"},
        {ExitUsage, "bad usage"},
    };
    return statuses;
}

const TCliCommand* FindCliCommand(const std::string& name) {
    const auto& commands = CliCommands();
    const auto found =
        std::find_if(commands.begin(), commands.end(), [&](const TCliCommand& c) { return c.FName == name; });
    return found == commands.end() ? nullptr : &*found;
}

const TCliOption* FindCliOption(const std::string& name) {
    const auto& options = CliOptions();
    const auto found = std::find_if(options.begin(), options.end(), [&](const TCliOption& o) {
        return o.FName == name || (!o.FShortName.empty() && o.FShortName == name);
    });
    return found == options.end() ? nullptr : &*found;
}

bool OptionBelongsTo(const TCliOption& option, const std::string& command) {
    return option.FCommands.empty() ||
           std::find(option.FCommands.begin(), option.FCommands.end(), command) != option.FCommands.end();
}

std::string CliUsageText() {
    std::string text = "Usage: pairwell-cli [--config FILE] COMMAND [ARGUMENTS] [OPTIONS]\n\nCommands:\n";
    for (const TCliCommand& command : CliCommands()) {
        std::string head = command.FName;
        for (const std::string& argument : command.FArguments) {
            head += " " + argument;
        }
        for (const TCliOption& option : CliOptions()) {
            if (!option.FCommands.empty() && OptionBelongsTo(option, command.FName)) {
                head += " [" + OptionSynopsis(option) + "]";
            }
        }
        AppendEntry(text, head, command.FHelp);
    }
    text += "\nOptions:\n";
    for (const TCliOption& option : CliOptions()) {
        const std::string names = option.FShortName.empty()
                                      ? OptionSynopsis(option)
                                      : option.FShortName + ", " + OptionSynopsis(option);
        AppendEntry(text, names, option.FHelp);
    }
    text += "\nA project folder may be sftp://[user@]host[:port]/path (or /~/path below the\n"
            "home folder), reached through ssh -s sftp with the project's SshCommand\n"
            "(default: ssh); ssh never prompts here (BatchMode=yes).\n"
            "\nCtrl+C or SIGTERM stops a run at its next file; the run is logged as stopped.\n"
            "\nExit status:\n";
    for (const TCliExitStatus& status : CliExitStatuses()) {
        AppendEntry(text, std::to_string(status.FStatus), status.FMeaning);
    }
    return text;
}

#pragma once

#include <string>
#include <vector>

// The commands, options and exit statuses of pairwell-cli in one place: the
// parser, --help, and the test that holds the bash completion and the manual
// page to them all read this table.

struct TCliCommand {
    std::string FName;
    // In order; "[PATH]" may be left out.
    std::vector<std::string> FArguments;
    std::string FHelp; // wrapped by --help
};

struct TCliOption {
    std::string FName;      // "--at"
    std::string FShortName; // "-0", or empty
    std::string FValue;     // what follows it ("FILE"), or empty for a switch
    // The commands it belongs to; empty: every command.
    std::vector<std::string> FCommands;
    std::string FHelp; // wrapped by --help
};

struct TCliExitStatus {
    int FStatus;
    std::string FMeaning;
};

const std::vector<TCliCommand>& CliCommands();
const std::vector<TCliOption>& CliOptions();
const std::vector<TCliExitStatus>& CliExitStatuses();

const TCliCommand* FindCliCommand(const std::string& name);
// By its long or short name.
const TCliOption* FindCliOption(const std::string& name);
bool OptionBelongsTo(const TCliOption& option, const std::string& command);

// The text of --help.
std::string CliUsageText();

#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// pairwell-cli's arguments read by its table of commands and options.
struct TCommandLine {
    std::vector<std::string> FWords; // the command, then its arguments
    // By long name: the value, or empty for a switch; a repeated option's last.
    std::map<std::string, std::string> FOptions;
    bool FHelp = false;
    std::string FProblem; // a usage mistake, or empty

    bool Has(const std::string& option) const { return FOptions.count(option) != 0; }
    std::optional<std::string> Value(const std::string& option) const;
};

// Options are taken wherever they stand, "--name VALUE" or "--name=VALUE";
// after the command a word starting with "-" that names no option is an
// argument (a path may start so).
TCommandLine ParseCommandLine(int argc, const char* const* argv);

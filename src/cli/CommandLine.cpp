#include "CommandLine.h"

#include "CommandTable.h"

namespace {

std::string JoinedWithAnd(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += i == 0 ? "" : i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

// The mistake in a parsed line whose options and words are all known.
std::string LineProblem(const TCommandLine& line) {
    if (line.FWords.empty()) {
        return "no command given";
    }
    const std::string& name = line.FWords[0];
    const TCliCommand* command = FindCliCommand(name);
    if (!command) {
        return "unknown command " + name;
    }
    std::size_t required = 0;
    for (const std::string& argument : command->FArguments) {
        required += argument.front() == '[' ? 0 : 1;
    }
    const std::size_t given = line.FWords.size() - 1;
    if (given < required || given > command->FArguments.size()) {
        std::string arguments;
        for (const std::string& argument : command->FArguments) {
            arguments += " " + argument;
        }
        return name + " takes" + (arguments.empty() ? std::string(" no name") : arguments);
    }
    for (const auto& [optionName, value] : line.FOptions) {
        const TCliOption& option = *FindCliOption(optionName);
        if (!OptionBelongsTo(option, name)) {
            return optionName + " belongs to " + JoinedWithAnd(option.FCommands);
        }
    }
    return "";
}

} // namespace

std::optional<std::string> TCommandLine::Value(const std::string& option) const {
    const auto found = FOptions.find(option);
    return found == FOptions.end() ? std::nullopt : std::optional<std::string>(found->second);
}

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
    TCommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const TCliOption* option = FindCliOption(arg.substr(0, equals));
        if (!option) {
            if (arg.size() > 1 && arg[0] == '-' && line.FWords.empty()) {
                line.FProblem = "unknown option " + arg;
                return line;
            }
            line.FWords.push_back(arg);
            continue;
        }
        if (option->FName == "--help") {
            line.FHelp = true;
            return line;
        }
        std::string value;
        if (!option->FValue.empty()) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            }
            if (value.empty()) {
                line.FProblem = option->FName + " needs " + option->FValue;
                return line;
            }
        } else if (equals != std::string::npos) {
            line.FProblem = option->FName + " takes no value";
            return line;
        }
        line.FOptions[option->FName] = value;
    }
    line.FProblem = LineProblem(line);
    return line;
}

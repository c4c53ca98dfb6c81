// The bash completion and the manual page follow pairwell-cli --help, which
// is made from the program's own table of commands and options.

#include "CliProgram.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

const std::string DataFolder = PAIRWELL_DATA_DIR;

using TNames = std::set<std::string>;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Tokens(const std::string& text, const std::string& separators = " ") {
    std::vector<std::string> tokens;
    std::size_t from = 0;
    while ((from = text.find_first_not_of(separators, from)) != std::string::npos) {
        const std::size_t end = std::min(text.find_first_of(separators, from), text.size());
        tokens.push_back(text.substr(from, end - from));
        from = end;
    }
    return tokens;
}

// What --help says: each command's own options and first argument, every
// option's names (long and short), and the exit statuses.
struct THelp {
    std::map<std::string, TNames> FCommandOptions; // by long name
    std::map<std::string, std::string> FFirstArgument;
    std::map<std::string, TNames> FOptionNames; // long name: it and its short one
    std::map<std::string, bool> FTakesValue;
    TNames FExitStatuses;

    std::string LongName(const std::string& name) const {
        for (const auto& [longName, names] : FOptionNames) {
            if (names.count(name)) {
                return longName;
            }
        }
        return "unknown " + name;
    }
    // What completing "-" after the command offers: its own options and
    // those of every command, each by all its names.
    TNames CompletedOptions(const std::string& command) const {
        TNames names;
        for (const auto& [longName, all] : FOptionNames) {
            bool own = false, anyCommand = false;
            for (const auto& [name, options] : FCommandOptions) {
                own = own || (name == command && options.count(longName));
                anyCommand = anyCommand || options.count(longName);
            }
            if (own || !anyCommand || command.empty()) {
                names.insert(all.begin(), all.end());
            }
        }
        return names;
    }
};

THelp ParseHelp(const std::string& text) {
    THelp help;
    std::string section;
    for (const std::string& line : Lines(text)) {
        if (!line.empty() && line.back() == ':' && line[0] != ' ') {
            section = line;
        }
        if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ') {
            continue; // not the head of an entry
        }
        const std::string head = line.substr(2, line.find("  ", 2) - 2);
        const std::vector<std::string> tokens = Tokens(head, " ,[]");
        if (section == "Commands:") {
            TNames& options = help.FCommandOptions[tokens[0]];
            std::string& first = help.FFirstArgument[tokens[0]];
            for (std::size_t i = 1; i < tokens.size(); ++i) {
                if (tokens[i][0] == '-') {
                    options.insert(tokens[i]);
                } else if (first.empty() && head.find("[" + tokens[i]) == std::string::npos) {
                    first = tokens[i];
                }
            }
        } else if (section == "Options:") {
            const std::string longName = tokens[0][1] == '-' ? tokens[0] : tokens[1];
            help.FOptionNames[longName].insert(tokens[0]);
            help.FOptionNames[longName].insert(longName);
            help.FTakesValue[longName] = tokens.back()[0] != '-';
        } else if (section == "Exit status:") {
            help.FExitStatuses.insert(tokens[0]);
        }
    }
    return help;
}

// The heading lines (after .TP) of each section of a manual page, with the
// font changes, quotes and escaped hyphens taken out.
std::map<std::string, std::vector<std::string>> ManHeadings(const std::string& page) {
    std::map<std::string, std::vector<std::string>> headings;
    std::string section;
    bool heading = false;
    for (std::string line : Lines(page)) {
        if (line.rfind(".SH ", 0) == 0) {
            section = line.substr(4);
        } else if (heading) {
            std::string plain;
            for (std::size_t i = 0; i < line.size(); ++i) {
                if (line[i] == '\\' && i + 1 < line.size()) {
                    i += line[i + 1] == 'f' ? 2 : 0; // \fB and the like
                    continue;                        // \- becomes -
                }
                if (line[i] != '"') {
                    plain += line[i];
                }
            }
            if (plain[0] == '.') {
                plain = plain.substr(plain.find(' ') + 1); // .B, .BI, .BR
            }
            headings[section].push_back(plain);
        }
        heading = line == ".TP";
    }
    return headings;
}

class CliDocsTest : public ::testing::Test {
protected:
    CliDocsTest() {
        std::ofstream(FConfig) << "[project_demo]\nsource=/nonexistent\n"
                               << "[job_nightly]\nCbJobValid=True\n";
        const TCliResult result = RunCliTo(FDir / "out", FDir / "err", {"--help"});
        EXPECT_EQ(result.FStatus, 0);
        FHelp = ParseHelp(result.FOut);
    }

    // What the completion offers for the line, the last word being completed.
    TNames Complete(std::vector<std::string> words) {
        words.insert(words.begin(), {CliPath(), "--config", FConfig});
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open((FDir / "completed").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            std::vector<const char*> argv{"bash", "-c",
                                          "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1));"
                                          " _pairwell_cli; printf '%s\\n' \"${COMPREPLY[@]}\"",
                                          "-"};
            const std::string script = DataFolder + "/completion/pairwell-cli";
            argv.push_back(script.c_str());
            for (const std::string& word : words) {
                argv.push_back(word.c_str());
            }
            argv.push_back(nullptr);
            execv("/bin/bash", const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
        TNames offered;
        for (const std::string& line : Lines(ReadTextFile(FDir / "completed"))) {
            if (!line.empty()) {
                offered.insert(line);
            }
        }
        return offered;
    }

    TTempDir FDir;
    std::string FConfig = FDir / "pairwell.ini";
    THelp FHelp;
};

TEST_F(CliDocsTest, CompletionOffersEveryCommandOptionAndNameOfHelp) {
    ASSERT_FALSE(FHelp.FCommandOptions.empty());
    TNames commands;
    for (const auto& [command, options] : FHelp.FCommandOptions) {
        commands.insert(command);
    }
    EXPECT_EQ(Complete({""}), commands);
    EXPECT_EQ(Complete({"-"}), FHelp.CompletedOptions(""));
    for (const auto& [command, options] : FHelp.FCommandOptions) {
        EXPECT_EQ(Complete({command, "-"}), FHelp.CompletedOptions(command)) << command;
        // The first argument is a stored name, whatever options stand before it.
        const std::string& first = FHelp.FFirstArgument[command];
        const TNames names = first == "PROJECT" ? TNames{"demo"}
                             : first == "JOB"   ? TNames{"nightly"}
                                                : TNames{};
        EXPECT_EQ(Complete({command, ""}), names) << command;
        for (const std::string& option : options) {
            std::vector<std::string> line{command, option};
            if (FHelp.FTakesValue[option]) {
                line.push_back("1");
            }
            line.push_back("");
            EXPECT_EQ(Complete(line), names) << command << ' ' << option;
        }
    }
}

TEST_F(CliDocsTest, ManualPageNamesEveryCommandOptionAndExitStatusOfHelp) {
    auto headings = ManHeadings(ReadTextFile(DataFolder + "/man/pairwell-cli.1"));
    std::map<std::string, TNames> commandOptions;
    for (const std::string& heading : headings["COMMANDS"]) {
        const std::vector<std::string> tokens = Tokens(heading, " ,[]");
        TNames& options = commandOptions[tokens[0]];
        for (const std::string& token : tokens) {
            if (token[0] == '-') {
                options.insert(FHelp.LongName(token));
            }
        }
    }
    EXPECT_EQ(commandOptions, FHelp.FCommandOptions);
    TNames optionNames, helpOptionNames;
    for (const std::string& heading : headings["OPTIONS"]) {
        for (const std::string& token : Tokens(heading, " ,")) {
            if (token[0] == '-') {
                optionNames.insert(token);
            }
        }
    }
    for (const auto& [longName, names] : FHelp.FOptionNames) {
        helpOptionNames.insert(names.begin(), names.end());
    }
    EXPECT_EQ(optionNames, helpOptionNames);
    TNames statuses;
    for (const std::string& heading : headings["EXIT STATUS"]) {
        statuses.insert(Tokens(heading)[0]);
    }
    EXPECT_EQ(statuses, FHelp.FExitStatuses);
}

// A new account's POSIX locale shows no Chinese: nothing may rest on it alone,
// and the help page the manual names is the one installed.
TEST(CliManualPage, ReadsWholeInThePosixLocaleAndNamesTheHelpPage) {
    TTempDir dir;
    for (const std::string page : {"pairwell-cli.1", "pairwell.1"}) {
        const std::string command =
            "groff -man -Tascii -ww -z " + DataFolder + "/man/" + page + " 2>" + dir / "warnings";
        ASSERT_EQ(std::system(command.c_str()), 0) << page;
        EXPECT_EQ(ReadTextFile(dir / "warnings"), "") << page;
    }
    const std::string command =
        "groff -man -Tutf8 -P-cbou " + DataFolder +
        "/man/pairwell-cli.1 2>/dev/null | grep -o '/usr/share/pairwell/[^ ]*\\.html' >" + dir / "named";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string named = ReadTextFile(dir / "named");
    const std::string file = named.substr(named.rfind('/') + 1, named.find('\n') - named.rfind('/') - 1);
    EXPECT_TRUE(PathExists(DataFolder + "/help/" + file)) << named;
}

} // namespace

#pragma once

#include <QString>
#include <string>
#include <vector>

// ssh asks the window's passwords through the window's own program: started
// by ssh as its SSH_ASKPASS with the prompt as its only argument, it knows
// it is asked by a variable that only ssh's environment holds.
inline constexpr char AskPassVariable[] = "PAIRWELL_ASKPASS";

// Whether this start of the program is ssh asking for a password.
bool IsAskPassStart();

// What to add to ssh's environment so that it asks through program, always
// and never on a terminal.
std::vector<std::string> AskPassEnvironment(const QString& program);

// The program as ssh's password program: shows the dialog, writes the
// answer on standard output; the exit status for ssh (1: cancelled). No
// window, no single-instance lock, nothing stored.
int AskPassMain(int argc, char** argv);
// The same once the application exists; prompt is ssh's argument.
int RunAskPass(const QString& prompt);

#pragma once

#include <string>

// A window on a configuration listens on a local socket named after that
// configuration file, so that other programs on the same configuration (the
// daemon, when its notice's "查看日志" is invoked) can ask it for its log page.
// The socket lies in the user's runtime folder ($XDG_RUNTIME_DIR, else /tmp).
std::string WindowRequestSocketPath(const std::string& configFile);

// One request is one line; the window answers each with RequestDone.
inline const std::string ShowLogRequest = "show-log";
inline const std::string RequestDone = "ok";

// Asks the window on configFile to show its log page; false when no window
// answers within the timeout.
bool AskWindowToShowLog(const std::string& configFile, int timeoutMilliseconds = 2000);

#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Opens the day's log for the daemon when a notice's "查看日志" is invoked: the
// window on the same configuration shows its log page when it runs, else
// the log viewer (index.htm in the log folder) opens through xdg-open. The
// viewer is started and not waited for; ended children are reaped at each
// Reap, so none is left behind as a zombie.
class TLogOpener {
public:
    TLogOpener(std::string configFile, std::string logFolder);

    void Open();
    void Reap();

private:
    std::string FConfigFile;
    std::string FLogFolder;
    std::vector<pid_t> FChildren;
};

#include "LogViewer.h"

#include "config/AtomicFile.h"
#include "config/ProgramFolders.h"

#include <optional>
#include <sys/stat.h>

namespace {

std::optional<struct stat> StatOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return st;
}

bool Older(const struct stat& a, const struct stat& b) {
    if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) {
        return a.st_mtim.tv_sec < b.st_mtim.tv_sec;
    }
    return a.st_mtim.tv_nsec < b.st_mtim.tv_nsec;
}

} // namespace

std::string ProgramLogViewerFolder() {
    return ProgramFolders().FShareFolder + "/log";
}

void InstallLogViewer(const std::string& logFolder, const std::string& viewerFolder) {
    const std::optional<struct stat> logStat = StatOf(logFolder);
    const std::optional<struct stat> viewerStat = StatOf(viewerFolder);
    if (!logStat || !viewerStat ||
        (logStat->st_dev == viewerStat->st_dev && logStat->st_ino == viewerStat->st_ino)) {
        return; // the program's own log folder has its viewer already
    }
    for (const char* name : LogViewerFiles) {
        const std::string source = viewerFolder + "/" + name;
        const std::string target = logFolder + "/" + name;
        const std::optional<struct stat> sourceStat = StatOf(source);
        const std::optional<struct stat> targetStat = StatOf(target);
        if (!sourceStat || (targetStat && !Older(*targetStat, *sourceStat))) {
            continue;
        }
        // The copy is newer than the program's from now on, until the program is updated.
        if (const std::optional<std::string> contents = ReadWholeFile(source)) {
            ReplaceFileAtomically(target, *contents);
        }
    }
}

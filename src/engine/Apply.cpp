#include "Apply.h"

#include "CopyFile.h"
#include "Plan.h"
#include "config/CustomPublic.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TPhaseNames {
    std::string FPrefix, FDone, FFailed, FDoneCount, FFailedCount;
};

const TPhaseNames& NamesOf(TApplyPhase phase) {
    static const TPhaseNames names[] = {
        {"新建: ", "New", "NewFail", "NewCount", "NewFailCount"},
        {"更新: ", "Update", "UpdateFail", "UpdateCount", "UpdateFailCount"},
        {"删除: ", "Delete", "DeleteFail", "DeleteCount", "DeleteFailCount"},
    };
    return names[static_cast<int>(phase)];
}

std::string WithoutTrailingDelimiter(const std::string& path) {
    std::string result = path;
    while (result.size() > 1 && result.back() == PathDelim) {
        result.pop_back();
    }
    return result;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates a folder and all its missing parents; true when it exists afterwards.
bool ForceFolders(const std::string& folder) {
    const std::string path = WithoutTrailingDelimiter(folder);
    if (path.empty() || IsFolder(path)) {
        return !path.empty();
    }
    const auto slash = path.find_last_of(PathDelim);
    if (slash != std::string::npos && slash > 0) {
        ForceFolders(path.substr(0, slash));
    }
    return mkdir(path.c_str(), 0777) == 0 || IsFolder(path);
}

void ForceParentFolders(const std::string& path) {
    const auto slash = path.find_last_of(PathDelim);
    if (slash != std::string::npos && slash > 0) {
        ForceFolders(path.substr(0, slash));
    }
}

// Something exists at the path that its owner may not write (a link counts as writable).
bool IsWriteProtected(const std::string& path) {
    struct stat st {};
    return lstat(WithoutTrailingDelimiter(path).c_str(), &st) == 0 && !S_ISLNK(st.st_mode) &&
           (st.st_mode & S_IWUSR) == 0;
}

// Clearing the read-only attribute: the owner may write again. Links are left alone.
void AllowOwnerWrite(const std::string& path) {
    const std::string plain = WithoutTrailingDelimiter(path);
    struct stat st {};
    if (lstat(plain.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
        chmod(plain.c_str(), (st.st_mode & 07777) | S_IWUSR);
    }
}

bool CreateItem(const std::string& source, const std::string& target, const TStopTest& stopRequested) {
    if (TFmCustomPublic::IsFolderEntry(target)) {
        return ForceFolders(target);
    }
    ForceParentFolders(target);
    return CopyOneFile(source, target, true, stopRequested);
}

bool UpdateItem(const std::string& source, const std::string& target, const TApplyOptions& options,
                const TStopTest& stopRequested) {
    if (options.FDeployMode) {
        ForceParentFolders(target);
    } else if (options.FUpdateReadOnly) {
        AllowOwnerWrite(target);
    }
    // Renaming over a file would replace it even where writing is refused.
    if (IsWriteProtected(target)) {
        return false;
    }
    return CopyOneFile(source, target, false, stopRequested);
}

bool DeleteItem(const std::string& path, const TApplyOptions& options) {
    if (options.FUpdateReadOnly) {
        AllowOwnerWrite(path);
    } else if (IsWriteProtected(path)) {
        return false;
    }
    if (TFmCustomPublic::IsFolderEntry(path)) {
        return rmdir(WithoutTrailingDelimiter(path).c_str()) == 0; // only an empty folder goes
    }
    return unlink(path.c_str()) == 0;
}

} // namespace

const std::string& PhasePrefix(TApplyPhase phase) {
    return NamesOf(phase).FPrefix;
}

TPhaseResult ApplyPhase(TApplyPhase phase, const TStringList& lines, const TApplyOptions& options,
                        TLogBuffer& log, TProgressSink& progress, const TStopTest& stopRequested) {
    const TPhaseNames& names = NamesOf(phase);
    TPhaseResult result;
    const auto writeCounts = [&] {
        log.WriteLogElement(names.FDoneCount, std::to_string(result.FDone));
        log.WriteLogElement(names.FFailedCount, std::to_string(result.FFailed));
    };
    progress.ResetProgress(lines.size());
    try {
        for (const std::string& line : lines) {
            if (StopRequestedBy(stopRequested)) {
                result.FStopped = true;
                break;
            }
            const std::string source = options.FSourceRoot + line;
            const std::string path =
                (phase == TApplyPhase::Delete ? options.FTargetRoot : options.FWriteRoot) + line;
            progress.ShowItem(names.FPrefix, path);
            bool done = false;
            std::string reason = "unsafe path";
            try {
                if (IsSafePlanLine(line)) {
                    errno = 0;
                    switch (phase) {
                    case TApplyPhase::New:
                        done = CreateItem(source, path, stopRequested);
                        break;
                    case TApplyPhase::Update:
                        done = UpdateItem(source, path, options, stopRequested);
                        break;
                    case TApplyPhase::Delete:
                        done = DeleteItem(path, options);
                        break;
                    }
                    reason = errno != 0 ? std::strerror(errno) : "failed";
                }
            } catch (const std::exception& error) {
                done = false; // a source that cannot be read fails its item only
                reason = error.what();
            }
            if (done) {
                ++result.FDone;
                log.WriteLogElement(names.FDone, path);
            } else {
                ++result.FFailed;
                result.FFailedLines.push_back(line);
                result.FFailures.push_back({path, reason});
                log.WriteLogElement(names.FFailed, path);
            }
        }
    } catch (...) {
        writeCounts();
        throw;
    }
    writeCounts();
    return result;
}

#include "ApplyItems.h"

#include "ApplyRootedPath.h"
#include "DeferredRelease.h"
#include "LinkOverFolder.h"
#include "Links.h"
#include "Versions.h"
#include "config/CustomPublic.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// Creates a root folder and all its missing parents; true when it exists
// afterwards. Roots are the user's own paths, links on the way included.
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

// Something exists at the entry that its owner may not write (a link counts as writable).
bool IsWriteProtectedAt(int folderFd, const std::string& name) {
    struct stat st {};
    return fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode) &&
           (st.st_mode & S_IWUSR) == 0;
}

// Clearing the read-only attribute: the owner may write again. Links are left alone.
void AllowOwnerWriteAt(int folderFd, const std::string& name) {
    struct stat st {};
    if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode) &&
        (st.st_mode & S_IWUSR) == 0) {
        fchmodat(folderFd, name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0);
    }
}

const std::string ReasonReadOnly = "the target is read-only";

} // namespace

void TSweptFolders::SweepOnce(int folderFd) {
    struct stat st {};
    if (fstat(folderFd, &st) != 0) {
        return;
    }
    const std::lock_guard lock(FMutex);
    if (FSwept.insert({st.st_dev, st.st_ino}).second) {
        RemoveLeftoverTemporaries(folderFd);
    }
}

TPhaseItems::TPhaseItems(TApplyPhase phase, const TApplyOptions& options, const TStopTest& stopRequested,
                         TSweptFolders* shared)
    : FPhase(phase), FOptions(options), FStopRequested(stopRequested),
      FRoot(phase == TApplyPhase::Delete ? options.FTargetRoot : options.FWriteRoot),
      FSwept(shared != nullptr ? *shared : FOwnSwept) {}

std::string TPhaseItems::RunLine(const std::string& line) {
    if (!IsSafePlanLine(line)) {
        return "the line leaves its root";
    }
    const TFileOperationScope inside;
    try {
        return Run(line);
    } catch (const std::exception& error) {
        return error.what(); // a failed item never ends the phase
    }
}

std::string TPhaseItems::Run(const std::string& line) {
    switch (FPhase) {
    case TApplyPhase::New:
        return Create(line);
    case TApplyPhase::Update:
        return Update(line);
    case TApplyPhase::Delete:
        return Delete(line);
    }
    return "unknown phase";
}

// The root's descriptor, opened once; with create a missing root is made first.
int TPhaseItems::RootFd(bool create) {
    if (FRootFd.Get() < 0) {
        if (create) {
            ForceFolders(FRoot);
        }
        FRootFd.Reset(open(FRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return FRootFd.Get();
}

// Opens the folder of the line's last name, or sets reason. The descriptor
// belongs to this object: plans list a folder's entries together, so the
// next lines mostly need the same folder.
int TPhaseItems::OpenParent(const std::string& line, bool create, std::string& name, std::string& reason) {
    std::string folder;
    if (SplitPlanLine(line, folder, name) && FParentFd.Get() >= 0 && folder == FParentPath) {
        return FParentFd.Get();
    }
    FParentFd.Close();
    const int rootFd = RootFd(create);
    if (rootFd < 0) {
        reason = WalkErrorText(errno);
        return -1;
    }
    const int fd =
        OpenParentBelowRoot(rootFd, line, create, name, create && FOptions.FLinks == TLinkMode::Link);
    if (fd < 0) {
        FParentError = errno;
        reason = WalkErrorText(FParentError);
        return -1;
    }
    FParentFd.Reset(fd);
    FParentPath = folder;
    FParentSwept = false;
    return fd;
}

// Before the first copy into a folder, the leftovers of killed copies go.
void TPhaseItems::SweepOnce(int folderFd) {
    if (FParentSwept) {
        return;
    }
    FParentSwept = true;
    FSwept.SweepOnce(folderFd);
}

std::string TPhaseItems::Copy(int folderFd, const std::string& line, const std::string& name,
                              bool failIfExists, TReplacedEntry* replaced) {
    SweepOnce(folderFd);
    std::string reason;
    try {
        if (CopyOneFileAt(FOptions.FSourceRoot + line, folderFd, name, failIfExists, FStopRequested, reason,
                          FOptions.FVerifyCopy, replaced)) {
            return {};
        }
    } catch (const EInOutError& error) {
        return error.what(); // a source that cannot be read fails its item only
    }
    return reason.empty() ? "copy failed" : reason;
}

std::string TPhaseItems::Create(const std::string& line) {
    std::string name, reason;
    const int parent(OpenParent(line, true, name, reason));
    if (parent < 0) {
        return reason;
    }
    const bool links = FOptions.FLinks == TLinkMode::Link;
    if (!TFmCustomPublic::IsFolderEntry(line)) {
        if (links && IsLinkPath(FOptions.FSourceRoot + line)) {
            return CopyLinkAt(FOptions.FSourceRoot + line, parent, name, true);
        }
        // A link where the source has a file is replaced by the copy, never followed.
        return Copy(parent, line, name, !(links && IsLinkAt(parent, name)));
    }
    if (mkdirat(parent, name.c_str(), 0777) == 0) {
        return {};
    }
    int error = errno;
    if (links && error == EEXIST && IsLinkAt(parent, name)) {
        unlinkat(parent, name.c_str(), 0); // the link gives way to the folder
        if (mkdirat(parent, name.c_str(), 0777) == 0) {
            return {};
        }
        error = errno;
    }
    struct stat st {};
    if (error == EEXIST && fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return {};
        }
        return WalkErrorText(S_ISLNK(st.st_mode) ? ELOOP : EEXIST);
    }
    return WalkErrorText(error);
}

std::string TPhaseItems::Update(const std::string& line) {
    std::string name, reason;
    const int parent(OpenParent(line, FOptions.FDeployMode, name, reason));
    if (parent < 0) {
        return reason;
    }
    if (FOptions.FLinks == TLinkMode::Link && IsLinkPath(FOptions.FSourceRoot + line)) {
        return CopyLinkOverFolder(parent, line, name);
    }
    if (!FOptions.FDeployMode && FOptions.FUpdateReadOnly) {
        AllowOwnerWriteAt(parent, name);
    }
    // Renaming over a file would replace it even where writing is refused.
    if (IsWriteProtectedAt(parent, name)) {
        return ReasonReadOnly;
    }
    if (FOptions.FVersions) {
        // The old file is kept once the new copy is complete, just before the copy takes its place.
        TVersionKeeper keeper(*FOptions.FVersions, line);
        return Copy(parent, line, name, false, &keeper);
    }
    if (FOptions.FRelease != nullptr) {
        TReleasedLater released(*FOptions.FRelease);
        return Copy(parent, line, name, false, &released);
    }
    return Copy(parent, line, name, false);
}

// The source's link replaces whatever the target has; a folder with contents
// only when surplus entries are deleted, and then its contents go first, each
// as the delete phase deletes it (kept as a version with versioning on).
std::string TPhaseItems::CopyLinkOverFolder(int folderFd, const std::string& line, const std::string& name) {
    const std::string sourceLink = FOptions.FSourceRoot + line;
    if (std::string reason = CopyLinkAt(sourceLink, folderFd, name, false);
        reason != ReasonFolderStandsThere || !FOptions.FDeleteSurplus) {
        return reason;
    }
    std::string reason;
    const TStringList surplus = DeleteLinesBelowFolder(FOptions, line, reason);
    if (!reason.empty()) {
        return reason;
    }
    TPhaseItems deletions(TApplyPhase::Delete, FOptions, FStopRequested);
    for (const std::string& entry : surplus) {
        if (StopRequestedBy(FStopRequested)) {
            return "stopped before the folder was emptied";
        }
        if (const std::string failed = deletions.Run(entry); !failed.empty()) {
            return FOptions.FTargetRoot + entry + ": " + failed;
        }
    }
    return CopyLinkAt(sourceLink, folderFd, name, false);
}

std::string TPhaseItems::Delete(const std::string& line) {
    std::string name, reason;
    const int parent(OpenParent(line, false, name, reason));
    if (parent < 0) {
        // With links kept as links, a link on the way is one that took the
        // place of a surplus folder earlier in this run: what lay in it is gone.
        return FOptions.FLinks == TLinkMode::Link && FParentError == ELOOP ? std::string() : reason;
    }
    if (FOptions.FUpdateReadOnly) {
        AllowOwnerWriteAt(parent, name);
    } else if (IsWriteProtectedAt(parent, name)) {
        return ReasonReadOnly;
    }
    if (TFmCustomPublic::IsFolderEntry(line)) {
        if (FOptions.FLinks == TLinkMode::Link && IsLinkAt(parent, name)) {
            return {}; // the folder gave way to the source's link earlier in this run
        }
        if (FOptions.FRelease != nullptr) {
            FOptions.FRelease->WaitUntilAllReleased();
        }
        // Only an empty folder goes; leftovers of killed copies do not count.
        const TFd folder(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder.Get() >= 0) {
            RemoveLeftoverTemporaries(folder.Get());
        }
        if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
            return WalkErrorText(errno);
        }
        return {};
    }
    if (FOptions.FVersions) {
        return FOptions.FVersions->DeleteByKeeping(parent, name, line);
    }
    const int held = FOptions.FRelease != nullptr ? FOptions.FRelease->Hold(parent, name) : -1;
    const bool removed = unlinkat(parent, name.c_str(), 0) == 0;
    const int error = errno;
    if (held >= 0) {
        FOptions.FRelease->Release(held);
    }
    return removed ? std::string() : WalkErrorText(error);
}

#include "ApplyItems.h"

#include "DeferredRelease.h"
#include "LinkOverFolder.h"
#include "config/CustomPublic.h"
#include "engine/versions/Versions.h"
#include "engine/volume/RootedPath.h"

#include <cerrno>

namespace {

// Something exists at the entry that its owner may not write (a link counts as writable).
bool IsWriteProtected(const TEntryFacts& facts) {
    return facts.FExists && !facts.FIsLink && (facts.FMode & 0200) == 0;
}

const std::string ReasonReadOnly = "the target is read-only";

} // namespace

TPhaseItems::TPhaseItems(TApplyPhase phase, const TApplyOptions& options, const TStopTest& stopRequested)
    : FPhase(phase), FOptions(options), FStopRequested(stopRequested), FSource(*options.FSourceVolume),
      FVolume(phase == TApplyPhase::Delete ? *options.FTargetVolume : *options.FWriteVolume) {}

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

// Opens the folder of the line's last name, or sets reason. The folder
// belongs to this object: plans list a folder's entries together, so the
// next lines mostly need the same folder.
const TVolumeFolder* TPhaseItems::OpenParent(const std::string& line, bool create, std::string& name,
                                             std::string& reason) {
    std::string folder;
    if (SplitPlanLine(line, folder, name) && FParent && folder == FParentPath) {
        return FParent.get();
    }
    FParent = nullptr;
    const TFolderWalk walk = !create                              ? TFolderWalk::Existing
                             : FOptions.FLinks == TLinkMode::Link ? TFolderWalk::CreateOverLinks
                                                                  : TFolderWalk::Create;
    int error = 0;
    FParent = FVolume.OpenParent(line, walk, name, error);
    if (!FParent) {
        FParentError = error;
        reason = WalkErrorText(error);
        return nullptr;
    }
    FParentPath = folder;
    FParentSwept = false;
    return FParent.get();
}

std::string TPhaseItems::Copy(const TVolumeFolder& folder, const std::string& line, const std::string& name,
                              bool failIfExists, TReplacedEntry* replaced) {
    // Before the first copy into a folder, the leftovers of killed copies go.
    if (!FParentSwept) {
        FParentSwept = true;
        FVolume.SweepTemporaries(folder);
    }
    int error = 0;
    bool notRegular = false;
    const std::unique_ptr<TReadableFile> source = FSource.OpenFile(line, error, notRegular);
    if (!source) {
        // A source that cannot be read fails its item only.
        return notRegular ? std::string("not a regular file")
                          : "Cannot open " + FOptions.FSourceRoot + line + ": " + ErrorText(error);
    }
    TWriteOptions options;
    options.FReplace = !failIfExists;
    options.FVerify = FOptions.FVerifyCopy;
    options.FStopRequested = &FStopRequested;
    options.FReplaced = replaced;
    std::string reason;
    if (FVolume.WriteFile(folder, name, *source, options, reason)) {
        return {};
    }
    return reason.empty() ? "copy failed" : reason;
}

namespace {

// Makes name of folder a link with the text of the source link at line.
std::string CopyLink(TVolume& source, const std::string& line, TVolume& target, const TVolumeFolder& folder,
                     const std::string& name, bool failIfExists) {
    const TEntryFacts facts = source.Facts(line, false);
    if (!facts.FExists) {
        return ErrorText(facts.FError != 0 ? facts.FError : ENOENT);
    }
    if (!facts.FIsLink) {
        return "the source is no longer a symbolic link";
    }
    std::string text;
    if (const int error = source.ReadLink(line, text); error != 0) {
        return ErrorText(error);
    }
    const int error = target.MakeLink(folder, name, text, facts.FModifiedNs, !failIfExists);
    if (error == 0) {
        return {};
    }
    return error == EISDIR || error == ENOTEMPTY ? ReasonFolderStandsThere : ErrorText(error);
}

} // namespace

std::string TPhaseItems::Create(const std::string& line) {
    std::string name, reason;
    const TVolumeFolder* parent = OpenParent(line, true, name, reason);
    if (parent == nullptr) {
        return reason;
    }
    const bool links = FOptions.FLinks == TLinkMode::Link;
    if (!TFmCustomPublic::IsFolderEntry(line)) {
        if (links && FSource.Facts(line, false).FIsLink) {
            return CopyLink(FSource, line, FVolume, *parent, name, true);
        }
        // A link where the source has a file is replaced by the copy, never followed.
        return Copy(*parent, line, name, !(links && FVolume.FactsAt(*parent, name).FIsLink));
    }
    int error = FVolume.MakeFolder(*parent, name);
    if (error == 0) {
        return {};
    }
    if (links && error == EEXIST && FVolume.FactsAt(*parent, name).FIsLink) {
        FVolume.RemoveFile(*parent, name); // the link gives way to the folder
        error = FVolume.MakeFolder(*parent, name);
        if (error == 0) {
            return {};
        }
    }
    if (error == EEXIST) {
        const TEntryFacts existing = FVolume.FactsAt(*parent, name);
        if (existing.FExists) {
            if (existing.FIsFolder) {
                return {};
            }
            return WalkErrorText(existing.FIsLink ? ELOOP : EEXIST);
        }
    }
    return WalkErrorText(error);
}

std::string TPhaseItems::Update(const std::string& line) {
    std::string name, reason;
    const TVolumeFolder* parent = OpenParent(line, FOptions.FDeployMode, name, reason);
    if (parent == nullptr) {
        return reason;
    }
    if (FOptions.FLinks == TLinkMode::Link && FSource.Facts(line, false).FIsLink) {
        return CopyLinkOverFolder(*parent, line, name);
    }
    if (!FOptions.FDeployMode && FOptions.FUpdateReadOnly) {
        FVolume.AllowOwnerWrite(*parent, name);
    }
    // Renaming over a file would replace it even where writing is refused.
    if (IsWriteProtected(FVolume.FactsAt(*parent, name))) {
        return ReasonReadOnly;
    }
    if (FOptions.FVersions) {
        // The old file is kept once the new copy is complete, just before the copy takes its place.
        TVersionKeeper keeper(*FOptions.FVersions, FVolume, line);
        return Copy(*parent, line, name, false, &keeper);
    }
    if (FOptions.FRelease != nullptr) {
        TReleasedLater released(*FOptions.FRelease, FVolume);
        return Copy(*parent, line, name, false, &released);
    }
    return Copy(*parent, line, name, false);
}

// The source's link replaces whatever the target has; a folder with contents
// only when surplus entries are deleted, and then its contents go first, each
// as the delete phase deletes it (kept as a version with versioning on).
std::string TPhaseItems::CopyLinkOverFolder(const TVolumeFolder& folder, const std::string& line,
                                            const std::string& name) {
    if (std::string reason = CopyLink(FSource, line, FVolume, folder, name, false);
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
    return CopyLink(FSource, line, FVolume, folder, name, false);
}

std::string TPhaseItems::Delete(const std::string& line) {
    std::string name, reason;
    const TVolumeFolder* parent = OpenParent(line, false, name, reason);
    if (parent == nullptr) {
        // With links kept as links, a link on the way is one that took the
        // place of a surplus folder earlier in this run: what lay in it is gone.
        return FOptions.FLinks == TLinkMode::Link && FParentError == ELOOP ? std::string() : reason;
    }
    if (FOptions.FUpdateReadOnly) {
        FVolume.AllowOwnerWrite(*parent, name);
    } else if (IsWriteProtected(FVolume.FactsAt(*parent, name))) {
        return ReasonReadOnly;
    }
    if (TFmCustomPublic::IsFolderEntry(line)) {
        if (FOptions.FLinks == TLinkMode::Link && FVolume.FactsAt(*parent, name).FIsLink) {
            return {}; // the folder gave way to the source's link earlier in this run
        }
        if (FOptions.FRelease != nullptr) {
            FOptions.FRelease->WaitUntilAllReleased();
        }
        // Only an empty folder goes; leftovers of killed copies do not count.
        const int error = FVolume.RemoveFolder(*parent, name);
        return error == 0 ? std::string() : WalkErrorText(error);
    }
    if (FOptions.FVersions) {
        return FOptions.FVersions->DeleteByKeeping(FVolume, *parent, name, line);
    }
    std::unique_ptr<THeldEntry> held =
        FOptions.FRelease != nullptr ? FOptions.FRelease->Hold(FVolume, *parent, name) : nullptr;
    const int error = FVolume.RemoveFile(*parent, name);
    if (held) {
        FOptions.FRelease->Release(std::move(held));
    }
    return error == 0 ? std::string() : WalkErrorText(error);
}

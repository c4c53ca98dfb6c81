#include "Versions.h"

#include "VersionPrune.h"
#include "config/CustomPublic.h"
#include "config/FileFacts.h"
#include "config/PathText.h"
#include "engine/project/Plan.h"
#include "engine/volume/RootedPath.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::string WithoutTrailingDelimiters(std::string path) {
    while (path.size() > 1 && path.back() == PathDelim) {
        path.pop_back();
    }
    return path;
}

// The path with links resolved as far as it exists; the names below the
// nearest existing folder are appended as they are ("." and ".." worked out).
std::string CanonicalPath(const std::string& path) {
    std::string head = WithoutTrailingDelimiters(path.empty() ? std::string(".") : path);
    std::vector<std::string> tail; // the missing names, last first
    for (int depth = 0; depth < PATH_MAX; ++depth) {
        if (char* real = realpath(head.c_str(), nullptr); real != nullptr) {
            std::string result = real;
            free(real);
            for (auto name = tail.rbegin(); name != tail.rend(); ++name) {
                if (*name == "..") {
                    const auto slash = result.find_last_of(PathDelim);
                    result.resize(slash == 0 ? 1 : slash);
                } else if (!name->empty() && *name != ".") {
                    if (result.back() != PathDelim) {
                        result.push_back(PathDelim);
                    }
                    result += *name;
                }
            }
            return result;
        }
        const auto slash = head.find_last_of(PathDelim);
        if (slash == std::string::npos) {
            if (head == ".") {
                break;
            }
            tail.push_back(head);
            head = ".";
        } else {
            tail.push_back(head.substr(slash + 1));
            head = slash == 0 ? std::string(1, PathDelim) : head.substr(0, slash);
        }
    }
    return WithoutTrailingDelimiters(path);
}

// True when path is folder or lies below it (both canonical).
bool IsAtOrBelow(const std::string& path, const std::string& folder) {
    if (path == folder) {
        return true;
    }
    const std::string prefix = folder == "/" ? folder : folder + PathDelim;
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

bool ReadDigits(const std::string& text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

std::string KeepFailure(const std::string& reason) {
    return "cannot keep a version: " + reason;
}

} // namespace

std::string VersionFolderOf(const TProjectRecord& project, const std::string& configFile,
                            const std::string& receivingRoot) {
    if (IsBlank(project.FVersionFolder)) {
        return WithTrailingDelimiter(receivingRoot) + DefaultVersionFolderName + PathDelim;
    }
    return WithTrailingDelimiter(ResolveBeside(configFile, project.FVersionFolder));
}

std::string VersionFolderProblem(const std::string& versionRoot, const std::string& sourceRoot,
                                 const std::string& receivingRoot) {
    const std::string versions = CanonicalPath(versionRoot);
    if (IsAtOrBelow(CanonicalPath(sourceRoot), versions)) {
        return versionRoot + ": is or holds the source folder";
    }
    if (IsAtOrBelow(CanonicalPath(receivingRoot), versions)) {
        return versionRoot + ": is or holds the receiving folder";
    }
    return {};
}

std::string VersionFolderProblemFor(const TProjectRecord& project, const std::string& configFile,
                                    const std::string& sourceRoot, const std::string& receivingRoot) {
    if (!project.FVersioning) {
        return {};
    }
    return VersionFolderProblem(VersionFolderOf(project, configFile, receivingRoot), sourceRoot,
                                receivingRoot);
}

std::string VersionPrefixBelow(const std::string& root, const std::string& versionRoot) {
    if (versionRoot.empty() || root.empty()) {
        return {};
    }
    const std::string outer = CanonicalPath(root);
    const std::string inner = CanonicalPath(versionRoot);
    if (inner == outer || !IsAtOrBelow(inner, outer)) {
        return {};
    }
    return inner.substr(outer == "/" ? 1 : outer.size() + 1) + PathDelim;
}

void LeaveOutVersionFolder(TStringList& index, const std::string& indexRoot, const std::string& asSeenFrom,
                           const std::string& versionRoot) {
    const std::string prefix = VersionPrefixBelow(asSeenFrom, versionRoot);
    if (prefix.empty()) {
        return;
    }
    std::erase_if(index, [&](const std::string& entry) {
        return entry.size() >= indexRoot.size() + prefix.size() &&
               entry.compare(indexRoot.size(), prefix.size(), prefix) == 0;
    });
}

std::string RunFolderName(TDateTime runStart, int sequence) {
    const TDateTimeFields f = DecodeDateTime(runStart);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d%02d%02d", f.FYear, f.FMonth, f.FDay, f.FHour,
                  f.FMinute, f.FSecond);
    std::string name = text;
    if (sequence > 1) {
        name += " (" + std::to_string(sequence) + ")";
    }
    return name;
}

std::optional<TRunFolderName> ParseRunFolderName(const std::string& name) {
    TDateTimeFields f;
    if (name.size() < 17 || name[4] != '-' || name[7] != '-' || name[10] != ' ' ||
        !ReadDigits(name, 0, 4, f.FYear) || !ReadDigits(name, 5, 2, f.FMonth) ||
        !ReadDigits(name, 8, 2, f.FDay) || !ReadDigits(name, 11, 2, f.FHour) ||
        !ReadDigits(name, 13, 2, f.FMinute) || !ReadDigits(name, 15, 2, f.FSecond)) {
        return std::nullopt;
    }
    if (f.FMonth < 1 || f.FMonth > 12 || f.FDay < 1 || f.FDay > 31 || f.FHour > 23 || f.FMinute > 59 ||
        f.FSecond > 59) {
        return std::nullopt;
    }
    TRunFolderName result;
    result.FStart = EncodeDateTime(f);
    if (name.size() == 17) {
        return result;
    }
    // " (n)" with n from 2 on.
    if (name.size() < 21 || name.compare(17, 2, " (") != 0 || name.back() != ')' || name[19] == '0' ||
        name.size() > 30 || !ReadDigits(name, 19, name.size() - 20, result.FSequence) ||
        result.FSequence < 2) {
        return std::nullopt;
    }
    return result;
}

TVersionStore::TVersionStore(std::string versionRoot, TDateTime runStart, int keepDays)
    : FVersionRoot(WithTrailingDelimiter(versionRoot)), FRunStart(runStart), FKeepDays(keepDays),
      FVolume(OpenVolume(FVersionRoot)) {}

// The run folder, made on first use; fresh makes a new one (the last was
// pruned away by another run meanwhile).
bool TVersionStore::RunFolder(bool fresh, std::string& reason) {
    if (!FRunName.empty() && !fresh) {
        return true;
    }
    FRunName.clear();
    FParent = nullptr;
    FVolume->MakeRoot(true);
    int error = 0;
    const TFolderRef root = FVolume->OpenFolderAt(nullptr, "", error);
    if (!root) {
        reason = FVersionRoot + ": " + ErrorText(error);
        return false;
    }
    for (int sequence = 1; sequence < 10000; ++sequence) {
        const std::string name = RunFolderName(FRunStart, sequence);
        error = FVolume->MakeFolder(*root, name);
        if (error == 0) {
            FRunName = name;
            return true;
        }
        if (error != EEXIST) {
            reason = FVersionRoot + ": " + ErrorText(error);
            return false;
        }
    }
    reason = FVersionRoot + ": " + ErrorText(EEXIST);
    return false;
}

// Copies an entry into the run folder (another file system); the reason of a failure or empty.
std::string TVersionStore::CopyInto(TVolume& volume, const TVolumeFolder& folder, const std::string& name,
                                    const TEntryFacts& facts, const TVolumeFolder& parent,
                                    const std::string& last) {
    if (facts.FIsLink) {
        std::string text;
        if (const int error = volume.ReadLinkAt(folder, name, text); error != 0) {
            return ErrorText(error);
        }
        const int error = FVolume->MakeLink(parent, last, text, facts.FModifiedNs, false);
        return error == 0 ? std::string() : ErrorText(error);
    }
    int error = 0;
    bool notRegular = false;
    const std::unique_ptr<TReadableFile> source = volume.OpenFileAt(folder, name, error, notRegular);
    if (!source) {
        return notRegular ? std::string("not a regular file") : ErrorText(error);
    }
    TWriteOptions options;
    options.FReplace = false;
    std::string reason;
    if (!FVolume->WriteFile(parent, last, *source, options, reason)) {
        return reason.empty() ? "copy failed" : reason;
    }
    // The file itself goes next, and only a flush of its own file system
    // follows the run: the copy is on the device before that.
    if (const int flushError = FVolume->FlushFile(parent, last); flushError != 0) {
        FVolume->RemoveFile(parent, last);
        return ErrorText(flushError);
    }
    return {};
}

std::string TVersionStore::Keep(TVolume& volume, const TVolumeFolder& folder, const std::string& name,
                                const std::string& line, TKeptVersion& kept) {
    kept = TKeptVersion{};
    const std::lock_guard lock(FMutex);
    const TEntryFacts facts = volume.FactsAt(folder, name);
    if (!facts.FExists) {
        return facts.FError == 0 ? std::string() : KeepFailure(ErrorText(facts.FError));
    }
    if (facts.FIsFolder) {
        return {}; // a folder where a file is expected is the caller's own failure
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string reason;
        if (!RunFolder(attempt > 0, reason)) {
            return KeepFailure(reason);
        }
        // Plans list a folder's files together: the folder of the last version serves the next.
        std::string folderPath, last;
        SplitPlanLine(line, folderPath, last);
        TFolderRef parent;
        int error = 0;
        if (attempt == 0 && FParent && folderPath == FParentPath) {
            parent = FParent;
        } else {
            parent = FVolume->OpenParent(FRunName + PathDelim + line, TFolderWalk::Create, last, error);
            FParent = parent;
            FParentPath = folderPath;
        }
        if (parent) {
            error = volume.Rename(folder, name, *parent, last, false);
        }
        if (error == EXDEV) {
            if (std::string why = CopyInto(volume, folder, name, facts, *parent, last); !why.empty()) {
                return KeepFailure(why);
            }
            kept = {true, true, parent, last};
            ++FCount;
            return {};
        }
        if (error == 0) {
            kept = {true, false, parent, last};
            ++FCount;
            return {};
        }
        if (error == ENOENT) {
            const TEntryFacts again = volume.FactsAt(folder, name);
            if (!again.FExists && again.FError == 0) {
                return {}; // gone meanwhile: nothing to keep
            }
            if (attempt == 0) {
                continue; // the run folder went meanwhile
            }
        }
        return KeepFailure(WalkErrorText(error));
    }
    return KeepFailure(ErrorText(ENOENT));
}

void TVersionStore::PutBack(TVolume& volume, const TVolumeFolder& folder, const std::string& name,
                            const TKeptVersion& kept) {
    if (!kept.FKept) {
        return;
    }
    const std::lock_guard lock(FMutex);
    if (kept.FCopied ? FVolume->RemoveFile(*kept.FFolder, kept.FName) == 0
                     : volume.Rename(*kept.FFolder, kept.FName, folder, name, false) == 0) {
        --FCount;
    }
}

std::string TVersionStore::DeleteByKeeping(TVolume& volume, const TVolumeFolder& folder,
                                           const std::string& name, const std::string& line) {
    TKeptVersion kept;
    if (std::string reason = Keep(volume, folder, name, line, kept); !reason.empty()) {
        return reason;
    }
    if (kept.FKept && !kept.FCopied) {
        return {};
    }
    // A copy, or nothing kept (nothing there, or a folder): the entry itself goes as without versions.
    if (const int error = volume.RemoveFile(folder, name); error != 0) {
        PutBack(volume, folder, name, kept);
        return WalkErrorText(error);
    }
    return {};
}

void TVersionStore::Prune() const {
    if (FKeepDays > 0) {
        PruneVersions(FVersionRoot, FKeepDays, Now());
    }
}

std::string TVersionKeeper::Keep(const TVolumeFolder& folder, const std::string& name) {
    return FStore.Keep(FVolume, folder, name, FLine, FKept);
}

void TVersionKeeper::PutBack(const TVolumeFolder& folder, const std::string& name) {
    FStore.PutBack(FVolume, folder, name, FKept);
    FKept = TKeptVersion{};
}

std::shared_ptr<TVersionStore> VersionStoreFor(const TProjectRecord& project, const std::string& configFile,
                                               const std::string& receivingRoot, TDateTime runStart) {
    if (!project.FVersioning) {
        return nullptr;
    }
    return std::make_shared<TVersionStore>(VersionFolderOf(project, configFile, receivingRoot), runStart,
                                           project.FVersionKeepDays);
}

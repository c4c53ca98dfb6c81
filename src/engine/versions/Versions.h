#pragma once

#include "config/DateTime.h"
#include "config/StringList.h"
#include "engine/project/ProjectRecord.h"
#include "engine/volume/Volume.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// Versions: what a run overwrites or deletes in the receiving folder is moved
// first to VersionFolder/<run start as "yyyy-MM-dd HHmmss">/<relative path>;
// a second run that starts in the same second gets " (2)", then " (3)"...

// The version folder in the receiving folder when the project names none.
inline const std::string DefaultVersionFolderName = ".pairwell-versions";
inline const std::string ErrorInvalidVersionFolder = "版本文件夹无效";

// The project's version folder with a trailing delimiter, whether or not
// versioning is on: the named one (a relative one taken from the
// configuration file's folder), else DefaultVersionFolderName in the
// receiving folder (the target, or the deploy folder in deploy mode).
std::string VersionFolderOf(const TProjectRecord& project, const std::string& configFile,
                            const std::string& receivingRoot);

// Why a version folder cannot serve these roots (it is, or holds, one of
// them); empty when it can.
std::string VersionFolderProblem(const std::string& versionRoot, const std::string& sourceRoot,
                                 const std::string& receivingRoot);

// The same for a project: empty when it keeps no versions.
std::string VersionFolderProblemFor(const TProjectRecord& project, const std::string& configFile,
                                    const std::string& sourceRoot, const std::string& receivingRoot);

// Where the version folder lies below root, as a relative folder with a
// trailing delimiter ("backup/.pairwell-versions/"); empty when it is not
// below root. Links are resolved, and a version folder that does not exist
// yet is placed by its nearest existing parent.
std::string VersionPrefixBelow(const std::string& root, const std::string& versionRoot);

// Removes from index (paths below indexRoot, which may be empty) the entries whose path
// relative to indexRoot is the version folder or lies in it, as the version
// folder is seen from asSeenFrom: the version folder is never part of a plan.
void LeaveOutVersionFolder(TStringList& index, const std::string& indexRoot, const std::string& asSeenFrom,
                           const std::string& versionRoot);

// The name of a run folder, and the run start and sequence number a name
// gives back (1 without a " (n)" suffix); nothing for other names.
std::string RunFolderName(TDateTime runStart, int sequence = 1);
struct TRunFolderName {
    TDateTime FStart;
    int FSequence = 1;
};
std::optional<TRunFolderName> ParseRunFolderName(const std::string& name);

// A version put into the run folder: where it went and whether it is a copy
// (the version folder on another file system) rather than the entry itself.
struct TKeptVersion {
    bool FKept = false;
    bool FCopied = false;
    TFolderRef FFolder; // the version's folder
    std::string FName;
};

// The versions of one run. Its run folder is made when the first file is
// kept. Safe to use from several threads.
class TVersionStore {
public:
    TVersionStore(std::string versionRoot, TDateTime runStart, int keepDays = 0);
    TVersionStore(const TVersionStore&) = delete;
    TVersionStore& operator=(const TVersionStore&) = delete;

    const std::string& VersionRoot() const { return FVersionRoot; }
    // Files kept by this run so far.
    int Count() const { return FCount.load(); }

    // Puts the file name of folder (of the receiving volume), whose path
    // below the receiving folder is line, into the run folder: renamed there
    // on the same file system, else copied. Nothing at name keeps nothing.
    // Returns the reason when the file cannot be kept; it then stays where it was.
    std::string Keep(TVolume& volume, const TVolumeFolder& folder, const std::string& name,
                     const std::string& line, TKeptVersion& kept);
    // Undoes a Keep: the renamed file goes back to its name (where that is
    // free), a copy is removed.
    void PutBack(TVolume& volume, const TVolumeFolder& folder, const std::string& name,
                 const TKeptVersion& kept);
    // Deletes the file name of folder by keeping it: a copy is followed by
    // the removal of the file itself. Returns the reason of a failure.
    std::string DeleteByKeeping(TVolume& volume, const TVolumeFolder& folder, const std::string& name,
                                const std::string& line);

    // Prunes the version folder by the keep days given at construction.
    void Prune() const;

private:
    bool RunFolder(bool fresh, std::string& reason);
    std::string CopyInto(TVolume& volume, const TVolumeFolder& folder, const std::string& name,
                         const TEntryFacts& facts, const TVolumeFolder& parent, const std::string& last);

    const std::string FVersionRoot;
    const TDateTime FRunStart;
    const int FKeepDays;
    const std::shared_ptr<TVolume> FVolume;
    std::mutex FMutex;
    std::string FRunName; // empty until the run folder is made
    // The folder in the run folder that the last version went to.
    TFolderRef FParent;
    std::string FParentPath;
    std::atomic<int> FCount{0};
};

// The versions of one replaced entry of a copy: binds a store to one line.
class TVersionKeeper : public TReplacedEntry {
public:
    TVersionKeeper(TVersionStore& store, TVolume& volume, std::string line)
        : FStore(store), FVolume(volume), FLine(std::move(line)) {}
    std::string Keep(const TVolumeFolder& folder, const std::string& name) override;
    void PutBack(const TVolumeFolder& folder, const std::string& name) override;

private:
    TVersionStore& FStore;
    TVolume& FVolume;
    const std::string FLine;
    TKeptVersion FKept;
};

// The store of a run that starts now, or none when the project keeps no
// versions.
std::shared_ptr<TVersionStore> VersionStoreFor(const TProjectRecord& project, const std::string& configFile,
                                               const std::string& receivingRoot, TDateTime runStart);

#pragma once

#include "config/FileFacts.h"
#include "engine/project/StopTest.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A volume is one folder tree that a project reads or writes: the source, the
// target, the deploy folder or the version folder. Everything the engine does
// to such a tree goes through it, so that the tree may lie on a local disk or
// on another machine. Paths given to a volume are relative to its root and use
// the path delimiter; a folder handle names a folder reached without following
// a link on the way. Calls return 0 or an errno value unless said otherwise.
// A volume may be used from several threads at once: a remote one keeps the
// requests of all of them in flight together.

// What one look-up tells about an entry. FExists, FIsFolder, FModified, FSize
// and FError mean what they mean in TFileFacts; a link looked at without
// following it exists, is no folder, and has its own time.
struct TEntryFacts : TFileFacts {
    bool FIsLink = false;
    bool FIsRegular = false;
    std::uint32_t FMode = 0;      // permission bits
    std::int64_t FModifiedNs = 0; // the modification time in nanoseconds since 1970 (UTC)
    std::int64_t FAccessedNs = 0;
};

// An entry of a folder listing. FTarget is the kind behind a link, when the
// listing was asked to resolve links (Missing for a dangling one).
enum class TListedKind : char { File, Folder, Link, Other, Missing, Unknown };
struct TListedEntry {
    std::uint32_t FOffset = 0; // where the name lies in TFolderListing::FNames
    std::uint32_t FLength = 0;
    TListedKind FKind = TListedKind::Unknown;
    TListedKind FTarget = TListedKind::Unknown;
    int FError = 0;               // the errno of an entry (or link target) that could not be examined
    std::int64_t FSize = 0;       // with facts only
    std::int64_t FModifiedNs = 0; // with facts only
};

// A whole folder at once: the names one after the other, in listing order,
// without "." and "..", and without the volume's own temporary files.
struct TFolderListing {
    std::string FNames;
    std::vector<TListedEntry> FEntries;
    std::string_view NameOf(const TListedEntry& entry) const {
        return std::string_view(FNames).substr(entry.FOffset, entry.FLength);
    }
    void Clear() {
        FNames.clear();
        FEntries.clear();
    }
};

// A folder of a volume held open while a run works in it.
class TVolumeFolder {
public:
    virtual ~TVolumeFolder() = default;
};
using TFolderRef = std::shared_ptr<TVolumeFolder>;

// A file open for reading: positional reads, any number at once.
class TReadableFile {
public:
    virtual ~TReadableFile() = default;
    // The facts of the file as it was opened (a regular file).
    const TEntryFacts& Facts() const { return FFacts; }
    // Reads up to size bytes at offset: the bytes read (fewer only at the
    // end), 0 at the end, -1 with errno set on an error.
    virtual long ReadAt(char* data, std::size_t size, std::int64_t offset) = 0;
    // A hint that the file is read from start to end: a volume may read ahead further.
    virtual void ExpectSequentialReads() {}

protected:
    TEntryFacts FFacts;
};

// What becomes of the entry that a write replaces. Keep runs once the new file
// is complete, just before it takes the entry's place: a reason it returns
// fails the write and leaves the entry as it was. PutBack runs when the new
// file then could not take the place, so that the entry is where it was again.
class TReplacedEntry {
public:
    virtual ~TReplacedEntry() = default;
    virtual std::string Keep(const TVolumeFolder& folder, const std::string& name) = 0;
    virtual void PutBack(const TVolumeFolder& folder, const std::string& name) = 0;
};

// A reference to a replaced or removed file, held so that freeing its blocks
// happens when the reference goes rather than during the rename or removal.
class THeldEntry {
public:
    virtual ~THeldEntry() = default;
};

struct TWriteOptions {
    // False: an entry at the name fails the write untouched, also one that
    // appears while the file is written.
    bool FReplace = true;
    // The copy is read back from the device and compared before it is renamed into place.
    bool FVerify = false;
    const TStopTest* FStopRequested = nullptr;
    TReplacedEntry* FReplaced = nullptr;
};

// What lies below a volume's root.
struct TFileSystemFacts {
    std::string FType;            // "ext4", "vfat", ...; empty when unknown
    std::int64_t FTimeStepMs = 0; // how coarse stored modification times may be (2000 on FAT)
    bool FRotating = false;       // a rotating disk: copies one at a time
};

enum class TFolderWalk {
    Existing,       // every folder on the way must exist
    Create,         // missing folders (and the root) are made
    CreateOverLinks // as Create, and a link on the way is removed and a folder made in its place
};

class TVolume {
public:
    virtual ~TVolume() = default;

    // The root as given, with a trailing delimiter: what messages and the log show.
    const std::string& Root() const { return FRoot; }

    // Why the volume cannot be reached at all (a server that does not
    // answer), empty when it can. A local folder always can.
    virtual std::string ReachProblem() { return {}; }
    // Why the volume can no longer be reached mid-run (its connection was
    // lost and could not be made again), empty while it can. A run that finds
    // a volume lost ends instead of trying its remaining items one by one.
    virtual std::string LostReason() { return {}; }

    // --- Looking ---
    // The facts of the entry at relative ("" is the root), following a link at its end or not.
    virtual TEntryFacts Facts(std::string_view relative, bool followLink) = 0;
    // The same for the entry name of folder, never following a link.
    virtual TEntryFacts FactsAt(const TVolumeFolder& folder, const std::string& name) = 0;
    // Lists the folder at relative (below folder when given, else below the
    // root; "" is that folder itself) without following a link at its last
    // name, except for the root itself. With facts, each entry's size and time
    // are filled; with resolveLinks, the kind behind each link.
    virtual int ListFolder(const TVolumeFolder* folder, std::string_view relative, bool facts,
                           bool resolveLinks, TFolderListing& listing) = 0;
    // The text of the link at relative, or at name of folder.
    virtual int ReadLink(std::string_view relative, std::string& text) = 0;
    virtual int ReadLinkAt(const TVolumeFolder& folder, const std::string& name, std::string& text) = 0;
    virtual TFileSystemFacts FileSystem() = 0;

    // --- Reading files ---
    // Opens a regular file for reading without waiting (a pipe is refused:
    // error EINVAL with notRegular set). At relative, links followed; at name of folder, never.
    virtual std::unique_ptr<TReadableFile> OpenFile(std::string_view relative, int& error,
                                                    bool& notRegular) = 0;
    virtual std::unique_ptr<TReadableFile> OpenFileAt(const TVolumeFolder& folder, const std::string& name,
                                                      int& error, bool& notRegular) = 0;

    // --- Folders to work in ---
    // The folder that holds the last name of the line (a trailing delimiter is
    // ignored), walked from the root without following any link; sets
    // lastName. Null with error set (ELOOP for a link on the way, ENOTDIR for
    // a file) when it cannot be reached.
    virtual TFolderRef OpenParent(const std::string& line, TFolderWalk walk, std::string& lastName,
                                  int& error) = 0;
    // The folder name of folder (null: of the root; "" is the folder itself), never through a link.
    virtual TFolderRef OpenFolderAt(const TVolumeFolder* folder, const std::string& name, int& error) = 0;
    // Makes the root and, with parents, its missing parents.
    virtual int MakeRoot(bool parents) = 0;

    // --- Changing entries of a folder ---
    virtual int MakeFolder(const TVolumeFolder& folder, const std::string& name) = 0;
    // Removes an empty folder; the volume's leftover temporaries in it do not count.
    virtual int RemoveFolder(const TVolumeFolder& folder, const std::string& name) = 0;
    virtual int RemoveFile(const TVolumeFolder& folder, const std::string& name) = 0;
    // The owner may write the entry again (a link is left alone).
    virtual void AllowOwnerWrite(const TVolumeFolder& folder, const std::string& name) = 0;
    // Gives entry from of fromFolder the name to of toFolder (a folder of this
    // volume or of another volume on the same file system; EXDEV otherwise).
    // Without replace, only where nothing is at to (EEXIST).
    virtual int Rename(const TVolumeFolder& fromFolder, const std::string& from,
                       const TVolumeFolder& toFolder, const std::string& to, bool replace) = 0;
    // Makes name a link with text and the given time, through a temporary
    // link renamed into place. With replace an existing link or file gives
    // way, and an empty folder too (EISDIR or ENOTEMPTY for one with
    // contents); without it anything there fails with EEXIST.
    virtual int MakeLink(const TVolumeFolder& folder, const std::string& name, const std::string& text,
                         std::int64_t modifiedNs, bool replace) = 0;
    // Writes a copy of source to a temporary file of folder, with the
    // source's permission bits and times, and renames it to name when
    // complete: a failed or stopped write leaves an existing entry exactly as
    // it was and no temporary file behind. False with the reason ("stopped"
    // after a stop) on failure.
    virtual bool WriteFile(const TVolumeFolder& folder, const std::string& name, TReadableFile& source,
                           const TWriteOptions& options, std::string& reason) = 0;
    // Removes the temporary files that writes killed before their end left in
    // folder; a write under way is left alone. Once per folder per volume.
    virtual void SweepTemporaries(const TVolumeFolder& folder) = 0;
    // A reference to the entry as it is now, never through a link; null when
    // there is nothing to hold.
    virtual std::unique_ptr<THeldEntry> Hold(const TVolumeFolder& folder, const std::string& name) = 0;
    // Makes sure a written file is on the device before what follows.
    virtual int FlushFile(const TVolumeFolder& folder, const std::string& name) = 0;

    // Makes what was written below the root reach the device. True also when
    // the root does not exist (nothing was written); else false with the reason.
    virtual bool Flush(std::string& reason) = 0;

    // --- The run lock ---
    // Whether a run that writes below the root holds a lock file in it: a
    // folder that runs of other machines may write to as well.
    virtual bool KeepsRunLock() const { return false; }
    // Makes the file name in the root holding contents, only where nothing is
    // at name (EEXIST): of two callers at once, one alone succeeds.
    virtual int CreateExclusive(const std::string& name, std::string_view contents) = 0;

protected:
    explicit TVolume(std::string root);

private:
    std::string FRoot;
};

// The volume at root: a local folder, or a folder on another machine for an sftp:// address. Whatever opens
// project folders asks here, so that another kind of volume can take over an address.
std::shared_ptr<TVolume> OpenVolume(const std::string& root);

// Replaces how OpenVolume makes volumes (null: local folders), for kinds of
// volume that wrap or replace the local one. Set it only while no run is under way.
using TVolumeOpener = std::function<std::shared_ptr<TVolume>(const std::string& root)>;
void SetVolumeOpener(TVolumeOpener opener);

// Reads the whole regular file at relative (links followed) into contents:
// EFBIG when it holds more than limit bytes.
int ReadSmallFile(TVolume& volume, std::string_view relative, std::string& contents, std::size_t limit);

// Whether name is one of the temporary files that writes make.
bool IsVolumeTemporaryName(std::string_view name);

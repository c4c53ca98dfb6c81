#pragma once

#include "SftpConnection.h"
#include "SftpCopyConnections.h"
#include "SftpListings.h"
#include "SftpReadAhead.h"
#include "Volume.h"
#include "sftp/SftpAddress.h"
#include "sftp/SftpClient.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// The name of the lock a run holds in a remote folder it writes to; never part of an index.
inline constexpr std::string_view RemoteLockName = ".pairwell-lock";

// A folder of a remote volume: its path as the server takes it.
class TSftpFolder : public TVolumeFolder {
public:
    explicit TSftpFolder(std::string path) : FPath(std::move(path)) {}
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// A folder tree on another machine, reached over SFTP through the user's own
// ssh. The connection is shared by every volume of the same host, user, port
// and ssh command, and by all their threads. An operation that the
// connection's loss cut off is made again whole on a new connection; once
// that cannot be made, the volume is lost (LostReason). SFTP carries whole
// seconds: times are written and read so.
class TSftpVolume : public TVolume {
public:
    TSftpVolume(const std::string& root, const TSftpAddress& address, const std::string& sshCommand);

    // Why the server cannot be reached (ssh's own words), empty when it can.
    std::string ReachProblem() override;
    std::string LostReason() override;

    TEntryFacts Facts(std::string_view relative, bool followLink) override;
    TEntryFacts FactsAt(const TVolumeFolder& folder, const std::string& name) override;
    int ListFolder(const TVolumeFolder* folder, std::string_view relative, bool facts, bool resolveLinks,
                   TFolderListing& listing) override;
    int ReadLink(std::string_view relative, std::string& text) override;
    int ReadLinkAt(const TVolumeFolder& folder, const std::string& name, std::string& text) override;
    TFileSystemFacts FileSystem() override;

    std::unique_ptr<TReadableFile> OpenFile(std::string_view relative, int& error, bool& notRegular) override;
    std::unique_ptr<TReadableFile> OpenFileAt(const TVolumeFolder& folder, const std::string& name,
                                              int& error, bool& notRegular) override;

    TFolderRef OpenParent(const std::string& line, TFolderWalk walk, std::string& lastName,
                          int& error) override;
    TFolderRef OpenFolderAt(const TVolumeFolder* folder, const std::string& name, int& error) override;
    int MakeRoot(bool parents) override;

    int MakeFolder(const TVolumeFolder& folder, const std::string& name) override;
    int RemoveFolder(const TVolumeFolder& folder, const std::string& name) override;
    int RemoveFile(const TVolumeFolder& folder, const std::string& name) override;
    void AllowOwnerWrite(const TVolumeFolder& folder, const std::string& name) override;
    int Rename(const TVolumeFolder& fromFolder, const std::string& from, const TVolumeFolder& toFolder,
               const std::string& to, bool replace) override;
    int MakeLink(const TVolumeFolder& folder, const std::string& name, const std::string& text,
                 std::int64_t modifiedNs, bool replace) override;
    bool WriteFile(const TVolumeFolder& folder, const std::string& name, TReadableFile& source,
                   const TWriteOptions& options, std::string& reason) override;
    void SweepTemporaries(const TVolumeFolder& folder) override;
    std::unique_ptr<THeldEntry> Hold(const TVolumeFolder& folder, const std::string& name) override;
    int FlushFile(const TVolumeFolder& folder, const std::string& name) override;
    bool Flush(std::string& reason) override;
    // A run that writes here holds RemoteLockName: runs of other machines may write here as well.
    bool KeepsRunLock() const override { return true; }
    int CreateExclusive(const std::string& name, std::string_view contents) override;

    // For tests: replace as a server without posix-rename would.
    void SetPosixRenameAllowed(bool allowed) { FPosixRenameAllowed = allowed; }

private:
    // One run of an operation on client; again: it ran before and the
    // connection ended under it. 0 or an errno value.
    using TOperation = std::function<int(TSftpClient& client, bool again)>;
    // Runs operation, and runs it again from its start on a new connection
    // when the connection ended during a failed run (up to three times).
    // EHOSTUNREACH when the server cannot be reached, ENOTCONN once the
    // connection is lost for good.
    int Retrying(const TOperation& operation);
    int Retrying(TSftpConnection& connection, const TOperation& operation);
    bool AddressUsable() const;
    // Starts listing path ahead of the walk, unless it is listed or being
    // listed; done once it is kept (or failed).
    bool StartReadAhead(const std::string& path, std::function<void()> done);
    // The listing of the folder at path, read once for all threads that ask
    // together; a failure (with the server's error, ENOENT for no folder) is not kept.
    std::shared_ptr<const TSftpListings::TFolder> ListingOf(TSftpClient& client, const std::string& path,
                                                            int& error);
    std::string PathOf(std::string_view relative) const;
    std::unique_ptr<TReadableFile> OpenRemoteFile(const std::string& path, bool refuseLink, int& error,
                                                  bool& notRegular);
    // Gives from the name to, replacing what is there: posix-rename, or without it
    // the old entry moved aside, the new one renamed, the old one removed (and put back on failure).
    int ReplaceInto(TSftpClient& client, const std::string& from, const std::string& to);
    // lookedAlready: the caller saw nothing at to a moment ago.
    int RenameNoReplace(TSftpClient& client, const std::string& from, const std::string& to,
                        bool lookedAlready = false);
    // Either rename; again: a rename that is found done counts as done.
    int RenameOnce(TSftpClient& client, const std::string& from, const std::string& to, bool replace,
                   bool again);
    int WalkFolder(TSftpClient& client, const std::string& path, TFolderWalk walk);
    // The facts of relative from the listings of the folders on its way, listing
    // those not yet listed; false where only a look-up of its own can tell.
    bool ListedFacts(TSftpClient& client, std::string_view relative, bool followLink, TEntryFacts& facts);
    std::string FreeTemporaryIn(const std::string& folder);

    // How far one write got: its temporary, whether the replaced entry was
    // kept, and whether only the rename into place was left.
    struct TWriteAttempt {
        std::string FTemporary;
        bool FKept = false;
        bool FRenaming = false;
    };
    int WriteOnce(TSftpClient& client, const TVolumeFolder& folder, const std::string& name,
                  TReadableFile& source, const TWriteOptions& options, TWriteAttempt& attempt,
                  std::string& reason);
    void PutBackReplaced(const TWriteOptions& options, const TVolumeFolder& folder, const std::string& name,
                         TWriteAttempt& attempt);
    // A failed write as the server meant it: OpenSSH answers a full disk or a read-only file system with a
    // bare "Failure".
    static TSftpResult WriteFailure(TSftpClient& client, const TSftpResult& failure,
                                    const std::string& folder);

    TSftpAddress FAddress;
    std::string FSshCommand;
    std::string FRootPath; // without a trailing delimiter
    bool FPosixRenameAllowed = true;
    std::atomic<bool> FRootMade{false}; // by this volume
    std::mutex FMutex;
    std::set<std::string> FKnownFolders; // paths seen as real folders (no link) by this volume
    std::set<std::string> FSwept;        // folders swept, or under way
    std::set<std::string> FSweeping;     // folders whose sweep is under way
    std::condition_variable FSweepEnded;
    std::shared_ptr<TSftpConnection> FConnection;
    TSftpCopyConnections FCopies; // after FConnection, its first
    TSftpListings FListings;
    // Folders whose listing is being read, and how many threads wait for each.
    std::map<std::string, int> FListing;
    std::condition_variable FListingEnded;
    // Ends the listing of path under way: its waiters, if any, are woken.
    void EndListing(const std::string& path);
    // Last, so that its threads end before what they use.
    TSftpReadAhead FReadAhead{[this](const std::string& path, std::function<void()> done) {
        return StartReadAhead(path, std::move(done));
    }};
};

// The volume at an sftp:// root, with the ssh command remembered for its host.
std::shared_ptr<TVolume> OpenSftpVolume(const std::string& root);

// The ssh command ("SshCommand") of the project whose folders are at root;
// volumes opened later at that root's host use it.
void RememberSshCommand(const std::string& root, const std::string& sshCommand);

// Whether runs may ask a person (a window); else ssh never prompts (BatchMode).
// environment ("NAME=value", such as SSH_ASKPASS) goes to ssh's environment
// only, so that ssh asks for passwords through a program of the window's.
void SetSshMayPrompt(bool mayPrompt, std::vector<std::string> environment = {});

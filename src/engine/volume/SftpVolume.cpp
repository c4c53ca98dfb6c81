#include "SftpVolume.h"

#include "CopyFile.h"
#include "config/DateTime.h"
#include "config/FileFacts.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// --- The ssh command of each server ---

std::mutex CommandsMutex;
std::map<std::string, std::string>& CommandsByServer() {
    static std::map<std::string, std::string> commands;
    return commands;
}
std::atomic<bool> MayPrompt{false};

std::string ServerKey(const TSftpAddress& address) {
    return address.FUser + '@' + address.FHost + ':' + address.FPort;
}

std::string Join(const std::string& folder, std::string_view name) {
    if (name.empty()) {
        return folder;
    }
    std::string path = folder;
    if (path.empty() || path.back() != '/') {
        path.push_back('/');
    }
    path.append(name);
    return path;
}

std::string WithoutTrailingDelimiters(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

const std::string& PathOfFolder(const TVolumeFolder& folder) {
    return static_cast<const TSftpFolder&>(folder).Path();
}

std::int64_t SecondsToNs(std::uint32_t seconds) {
    return static_cast<std::int64_t>(seconds) * 1'000'000'000;
}

std::uint32_t WholeSeconds(std::int64_t ns) {
    std::int64_t seconds = ns / 1'000'000'000;
    if (ns < 0 && ns % 1'000'000'000 != 0) {
        --seconds;
    }
    return static_cast<std::uint32_t>(std::max<std::int64_t>(seconds, 0));
}

TListedKind KindOfMode(std::uint32_t mode) {
    if (S_ISREG(mode)) {
        return TListedKind::File;
    }
    if (S_ISDIR(mode)) {
        return TListedKind::Folder;
    }
    return S_ISLNK(mode) ? TListedKind::Link : TListedKind::Other;
}

void FillFacts(const TSftpAttrs& attrs, TEntryFacts& facts) {
    facts.FExists = true;
    facts.FIsLink = S_ISLNK(attrs.FMode);
    facts.FIsFolder = S_ISDIR(attrs.FMode);
    facts.FIsRegular = S_ISREG(attrs.FMode);
    facts.FMode = attrs.FMode & 07777;
    facts.FModifiedNs = SecondsToNs(attrs.FModified);
    facts.FAccessedNs = SecondsToNs(attrs.FAccessed);
    facts.FModified = LocalDateTimeFromUnix(attrs.FModified, 0);
    facts.FSize = facts.FIsFolder ? 0 : static_cast<std::int64_t>(attrs.FSize);
}

TEntryFacts FactsOf(const TSftpResult& result, const TSftpAttrs& attrs) {
    TEntryFacts facts;
    if (!result) {
        facts.FError = MeansAbsent(result.FError) ? 0 : result.FError;
        return facts;
    }
    FillFacts(attrs, facts);
    return facts;
}

// A 64-bit FNV-1a sum: what a verified copy compares after reading back.
struct TRunningSum {
    std::uint64_t FValue = 0xcbf29ce484222325ull;
    void Add(const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            FValue = (FValue ^ static_cast<unsigned char>(data[i])) * 0x100000001b3ull;
        }
    }
};

// A remote file open for reading. Reads from start to end keep many
// requests in flight; other reads are asked one at a time, again for the rest
// of a short answer. When the connection is lost, the file is opened again on
// the new one and the read goes on, unless the file has changed meanwhile.
class TSftpFile : public TReadableFile {
public:
    TSftpFile(std::shared_ptr<TSftpConnection> connection, std::shared_ptr<TSftpClient> client,
              std::string path, std::string handle, const TSftpAttrs& attrs)
        : FConnection(std::move(connection)), FClient(std::move(client)), FPath(std::move(path)),
          FHandle(std::move(handle)) {
        FillFacts(attrs, FFacts);
    }
    ~TSftpFile() override {
        FReader.reset();
        FClient->Close(FHandle);
    }
    void ExpectSequentialReads() override { FSequential = true; }
    long ReadAt(char* data, std::size_t size, std::int64_t offset) override {
        for (int attempt = 0;; ++attempt) {
            const long got = ReadOnce(data, size, offset);
            if (got >= 0 || FClient->Channel().Alive() || attempt == TSftpConnection::Attempts) {
                return got;
            }
            const int lost = errno;
            if (!OpenAgain()) {
                errno = lost;
                return -1;
            }
        }
    }

private:
    long ReadOnce(char* data, std::size_t size, std::int64_t offset) {
        if (FSequential) {
            if (!FReader || FReader->Position() != static_cast<std::uint64_t>(offset)) {
                FReader.reset();
                FReader = std::make_unique<TSftpPipelinedReader>(*FClient, FHandle, offset);
            }
            std::size_t done = 0;
            while (done < size) {
                const long got = FReader->Read(data + done, size - done);
                if (got < 0) {
                    errno = FReader->Result().FError != 0 ? FReader->Result().FError : EIO;
                    FReader.reset();
                    return -1;
                }
                if (got == 0) {
                    break;
                }
                done += static_cast<std::size_t>(got);
            }
            return static_cast<long>(done);
        }
        std::size_t done = 0;
        while (done < size) {
            std::string piece;
            const auto ask =
                static_cast<std::uint32_t>(std::min<std::size_t>(size - done, FClient->ChunkSize()));
            const TSftpResult result =
                FClient->Read(FHandle, static_cast<std::uint64_t>(offset) + done, ask, piece);
            if (!result) {
                errno = result.FError;
                return -1;
            }
            if (piece.empty()) {
                break;
            }
            std::copy(piece.begin(), piece.end(), data + done);
            done += piece.size();
        }
        return static_cast<long>(done);
    }
    // The same file on a new connection: false when there is none, or when
    // the file is no longer the one that was being read.
    bool OpenAgain() {
        FReader.reset();
        std::string reason;
        std::shared_ptr<TSftpClient> client = FConnection->Reconnect(FClient, reason);
        if (!client) {
            return false;
        }
        FClient = std::move(client);
        std::string handle;
        if (!FClient->Open(FPath, sftp::OpenRead, {}, handle)) {
            return false;
        }
        FHandle = std::move(handle);
        TSftpAttrs attrs;
        if (!FClient->Fstat(FHandle, attrs) || static_cast<std::int64_t>(attrs.FSize) != FFacts.FSize ||
            SecondsToNs(attrs.FModified) != FFacts.FModifiedNs) {
            errno = ESTALE;
            return false;
        }
        return true;
    }

    std::shared_ptr<TSftpConnection> FConnection;
    std::shared_ptr<TSftpClient> FClient;
    std::string FPath;
    std::string FHandle;
    bool FSequential = false;
    std::unique_ptr<TSftpPipelinedReader> FReader;
};

} // namespace

void RememberSshCommand(const std::string& root, const std::string& sshCommand) {
    TSftpAddress address;
    std::string reason;
    if (!ParseSftpAddress(root, address, reason)) {
        return;
    }
    const std::lock_guard lock(CommandsMutex);
    CommandsByServer()[ServerKey(address)] = sshCommand;
}

void SetSshMayPrompt(bool mayPrompt, std::vector<std::string> environment) {
    SetSftpPromptEnvironment(mayPrompt ? std::move(environment) : std::vector<std::string>());
    MayPrompt = mayPrompt;
}

std::shared_ptr<TVolume> OpenSftpVolume(const std::string& root) {
    TSftpAddress address;
    std::string reason;
    ParseSftpAddress(root, address, reason); // a malformed address is refused when it is used
    std::string command;
    {
        const std::lock_guard lock(CommandsMutex);
        const auto found = CommandsByServer().find(ServerKey(address));
        if (found != CommandsByServer().end()) {
            command = found->second;
        }
    }
    return std::make_shared<TSftpVolume>(root, address, command);
}

TSftpVolume::TSftpVolume(const std::string& root, const TSftpAddress& address, const std::string& sshCommand)
    : TVolume(root), FAddress(address), FSshCommand(sshCommand), FRootPath(address.FPath),
      FConnection(SharedSftpConnection(SftpCommandLine(sshCommand, address, !MayPrompt.load()))),
      // Where a person may be asked, one connection: another would ask again.
      FCopies(FConnection, SftpCommandLine(sshCommand, address, true),
              MayPrompt.load() ? 1 : TSftpCopyConnections::Most) {}

bool TSftpVolume::AddressUsable() const {
    TSftpAddress checked;
    std::string reason;
    return ParseSftpAddress(WithoutTrailingDelimiters(Root()), checked, reason);
}

int TSftpVolume::Retrying(const TOperation& operation) {
    return Retrying(*FConnection, operation);
}

int TSftpVolume::Retrying(TSftpConnection& connection, const TOperation& operation) {
    if (!AddressUsable()) {
        return EINVAL;
    }
    std::string reason;
    std::shared_ptr<TSftpClient> client = connection.Client(reason);
    if (!client) {
        return connection.LostReason().empty() ? EHOSTUNREACH : ENOTCONN;
    }
    for (int attempt = 0;; ++attempt) {
        if (&connection == FConnection.get()) {
            FListings.Use(client); // listings read on another connection may be out of date
        }
        const int error = operation(*client, attempt > 0);
        // A server's own error is final; so is the outcome of an operation
        // that finished before the connection ended.
        if (error == 0 || client->Channel().Alive() || attempt == TSftpConnection::Attempts) {
            return error;
        }
        if (!(client = connection.Reconnect(client, reason))) {
            return error;
        }
    }
}

std::string TSftpVolume::ReachProblem() {
    TSftpAddress checked;
    std::string reason;
    if (!ParseSftpAddress(WithoutTrailingDelimiters(Root()), checked, reason)) {
        return reason;
    }
    return FConnection->Client(reason) ? std::string() : reason;
}

std::string TSftpVolume::LostReason() {
    return FCopies.LostReason();
}

std::string TSftpVolume::PathOf(std::string_view relative) const {
    return WithoutTrailingDelimiters(Join(FRootPath, relative));
}

namespace {

// A listing as the listings keep it: null unless it was read (a folder that
// is not there counts, as no folder).
std::shared_ptr<TSftpListings::TFolder> KeptListing(const TSftpResult& result,
                                                    std::vector<TSftpEntry>& entries) {
    if (!result && result.FError != ENOENT) {
        return nullptr;
    }
    auto made = std::make_shared<TSftpListings::TFolder>();
    made->FExists = static_cast<bool>(result);
    for (TSftpEntry& entry : entries) {
        made->FEntries.emplace(std::move(entry.FName), entry.FAttrs);
    }
    return made;
}

// The paths of the real folders (no links) a listing of path shows.
std::vector<std::string> SubfoldersIn(const std::string& path, const TSftpListings::TFolder& listing) {
    std::vector<std::string> subfolders;
    for (const auto& [name, attrs] : listing.FEntries) {
        if ((attrs.FFlags & sftp::AttrPermissions) && S_ISDIR(attrs.FMode)) {
            subfolders.push_back(Join(path, name));
        }
    }
    return subfolders;
}

// The outcome of an operation for Retrying: a connection that ended during it counts as a failure.
int Outcome(TSftpClient& client, int error) {
    return error == 0 && !client.Channel().Alive() ? ECONNRESET : error;
}

} // namespace

TEntryFacts TSftpVolume::Facts(std::string_view relative, bool followLink) {
    const std::string path = PathOf(relative);
    TEntryFacts facts;
    const int error = Retrying([&](TSftpClient& client, bool) {
        if (ListedFacts(client, relative, followLink, facts)) {
            return facts.FError;
        }
        TSftpAttrs attrs;
        facts = FactsOf(followLink ? client.Stat(path, attrs) : client.Lstat(path, attrs), attrs);
        return facts.FError;
    });
    if (error != 0) {
        facts = TEntryFacts{};
        facts.FError = error;
    }
    return facts;
}

bool TSftpVolume::ListedFacts(TSftpClient& client, std::string_view relative, bool followLink,
                              TEntryFacts& facts) {
    while (!relative.empty() && relative.back() == '/') {
        relative.remove_suffix(1);
    }
    std::string folder = FRootPath;
    while (!relative.empty()) {
        const std::size_t slash = relative.find('/');
        const std::string name(relative.substr(0, slash));
        relative = slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
        int error = 0;
        const std::shared_ptr<const TSftpListings::TFolder> listing = ListingOf(client, folder, error);
        if (!listing) {
            return false;
        }
        const auto found = listing->FEntries.find(name);
        if (!listing->FExists || found == listing->FEntries.end()) {
            facts = TEntryFacts{}; // nothing there
            return true;
        }
        const TSftpAttrs& attrs = found->second;
        if ((attrs.FFlags & sftp::AttrPermissions) == 0 ||
            (S_ISLNK(attrs.FMode) && (followLink || !relative.empty()))) {
            return false; // a link is followed, or its kind told, by a look-up
        }
        if (relative.empty()) {
            facts = TEntryFacts{};
            FillFacts(attrs, facts);
            return true;
        }
        if (!S_ISDIR(attrs.FMode)) {
            return false;
        }
        folder = Join(folder, name);
    }
    return false; // the root itself
}

TEntryFacts TSftpVolume::FactsAt(const TVolumeFolder& folder, const std::string& name) {
    const std::string path = Join(PathOfFolder(folder), name);
    TEntryFacts facts;
    const int error = Retrying([&](TSftpClient& client, bool) {
        TSftpAttrs attrs;
        facts = FactsOf(client.Lstat(path, attrs), attrs);
        return facts.FError;
    });
    if (error != 0) {
        facts = TEntryFacts{};
        facts.FError = error;
    }
    return facts;
}

std::shared_ptr<const TSftpListings::TFolder> TSftpVolume::ListingOf(TSftpClient& client,
                                                                     const std::string& path, int& error) {
    error = 0;
    {
        // The check's passes ask for the same folders at about the same time.
        std::unique_lock lock(FMutex);
        if (const auto reading = FListing.find(path); reading != FListing.end()) {
            ++reading->second;
            FListingEnded.wait(lock, [&] { return FListing.count(path) == 0; });
        }
        if (auto kept = FListings.Find(path, client)) {
            return kept;
        }
        FListing.emplace(path, 0);
    }
    const std::uint64_t since = FListings.Generation();
    std::vector<TSftpEntry> entries;
    const TSftpResult result = client.List(path, entries);
    std::shared_ptr<TSftpListings::TFolder> made = KeptListing(result, entries);
    if (made) {
        FListings.Store(path, made, &client, since);
    }
    error = result.FError;
    EndListing(path);
    return made;
}

void TSftpVolume::EndListing(const std::string& path) {
    bool waited = false;
    {
        const std::lock_guard lock(FMutex);
        if (const auto reading = FListing.find(path); reading != FListing.end()) {
            waited = reading->second > 0;
            FListing.erase(reading);
        }
    }
    // Most listings read ahead are not waited for yet: nobody is woken for them.
    if (waited) {
        FListingEnded.notify_all();
    }
}

bool TSftpVolume::StartReadAhead(const std::string& path, std::function<void()> done) {
    // Only a connection that works: making one again is for the walk's own calls.
    const std::shared_ptr<TSftpClient> client = FConnection->Current();
    if (!client) {
        return false;
    }
    {
        const std::lock_guard lock(FMutex);
        if (FListing.count(path) != 0 || FListings.Find(path, *client)) {
            return false;
        }
        FListing.emplace(path, 0);
    }
    const std::uint64_t since = FListings.Generation();
    // The client by address only: the handler may outlive it, and then compares unequal.
    const TSftpClient* listedOn = client.get();
    client->ListAsync(path, [this, path, since, listedOn,
                             done = std::move(done)](TSftpResult result, std::vector<TSftpEntry> entries) {
        if (auto made = KeptListing(result, entries)) {
            // The walk will want the subfolders soon after this one: they go
            // ahead too, while the listings kept leave room for them.
            if (FListings.HasRoom()) {
                FReadAhead.Ask(SubfoldersIn(path, *made));
            }
            FListings.Store(path, std::move(made), listedOn, since);
        }
        EndListing(path);
        done();
    });
    return true;
}

int TSftpVolume::ListFolder(const TVolumeFolder* folder, std::string_view relative, bool /*facts*/,
                            bool resolveLinks, TFolderListing& listing) {
    const std::string path = folder != nullptr
                                 ? WithoutTrailingDelimiters(Join(PathOfFolder(*folder), relative))
                                 : PathOf(relative);
    const int error = Retrying([&](TSftpClient& client, bool) {
        listing.Clear();
        // A folder listed before (the check's passes list the same folders) is
        // not asked again, and a folder its parent's listing shows needs no look-up.
        std::shared_ptr<const TSftpListings::TFolder> kept = FListings.Find(path, client);
        if (!kept && (folder != nullptr || !relative.empty())) {
            // A link at the last name is not listed through.
            TSftpAttrs attrs;
            const std::size_t slash = path.rfind('/');
            const auto parent = slash != std::string::npos && slash > 0
                                    ? FListings.Find(path.substr(0, slash), client)
                                    : nullptr;
            const auto known = parent ? parent->FEntries.find(path.substr(slash + 1))
                                      : std::unordered_map<std::string, TSftpAttrs>::const_iterator();
            if (parent && known != parent->FEntries.end() && (known->second.FFlags & sftp::AttrPermissions)) {
                attrs = known->second;
            } else if (const int lookup = client.Lstat(path, attrs).FError; lookup != 0) {
                return lookup;
            }
            if (S_ISLNK(attrs.FMode)) {
                return ELOOP;
            }
            if (!S_ISDIR(attrs.FMode)) {
                return ENOTDIR;
            }
        }
        if (!kept) {
            int listed = 0;
            if (!(kept = ListingOf(client, path, listed))) {
                return listed == EIO ? ENOTDIR : listed;
            }
        }
        if (!kept->FExists) {
            return ENOENT;
        }
        FReadAhead.Ask(SubfoldersIn(path, *kept));
        for (const auto& [name, entryAttrs] : kept->FEntries) {
            if (IsCopyTemporaryName(name) || name == RemoteLockName) {
                continue;
            }
            TListedEntry item;
            // Each entry comes with its attributes: no look-up per entry.
            item.FKind = (entryAttrs.FFlags & sftp::AttrPermissions) ? KindOfMode(entryAttrs.FMode)
                                                                     : TListedKind::Unknown;
            item.FSize = static_cast<std::int64_t>(entryAttrs.FSize);
            item.FModifiedNs = SecondsToNs(entryAttrs.FModified);
            if (item.FKind == TListedKind::Unknown) {
                TSftpAttrs attrs;
                item.FError = client.Lstat(Join(path, name), attrs).FError;
                item.FKind = item.FError == 0 ? KindOfMode(attrs.FMode) : TListedKind::Unknown;
            }
            if (item.FKind == TListedKind::Link && resolveLinks) {
                TSftpAttrs target;
                const TSftpResult looked = client.Stat(Join(path, name), target);
                if (!looked) {
                    item.FTarget = looked.FError == ENOENT ? TListedKind::Missing : TListedKind::Unknown;
                    item.FError = looked.FError == ENOENT ? 0 : looked.FError;
                } else {
                    item.FTarget = KindOfMode(target.FMode);
                }
            }
            item.FOffset = static_cast<std::uint32_t>(listing.FNames.size());
            item.FLength = static_cast<std::uint32_t>(name.size());
            listing.FNames.append(name);
            listing.FEntries.push_back(item);
        }
        // Look-ups of entries that failed with the connection are asked again.
        return Outcome(client, 0);
    });
    if (error != 0) {
        listing.Clear();
    }
    return error;
}

int TSftpVolume::ReadLink(std::string_view relative, std::string& text) {
    const std::string path = PathOf(relative);
    return Retrying([&](TSftpClient& client, bool) { return client.ReadLink(path, text).FError; });
}

int TSftpVolume::ReadLinkAt(const TVolumeFolder& folder, const std::string& name, std::string& text) {
    const std::string path = Join(PathOfFolder(folder), name);
    return Retrying([&](TSftpClient& client, bool) { return client.ReadLink(path, text).FError; });
}

TFileSystemFacts TSftpVolume::FileSystem() {
    TFileSystemFacts facts;
    facts.FType = "sftp";
    facts.FTimeStepMs = 1000; // SFTP carries whole seconds
    return facts;
}

std::unique_ptr<TReadableFile> TSftpVolume::OpenRemoteFile(const std::string& path, bool refuseLink,
                                                           int& error, bool& notRegular) {
    notRegular = false;
    std::unique_ptr<TReadableFile> file;
    error = Retrying([&](TSftpClient& client, bool) {
        TSftpAttrs attrs;
        if (refuseLink) {
            if (const TSftpResult looked = client.Lstat(path, attrs); !looked) {
                return looked.FError;
            }
            if (S_ISLNK(attrs.FMode)) {
                return ELOOP; // never read through a link
            }
        }
        std::string handle;
        if (const TSftpResult opened = client.Open(path, sftp::OpenRead, {}, handle); !opened) {
            return opened.FError;
        }
        if (const TSftpResult looked = client.Fstat(handle, attrs); !looked) {
            client.Close(handle);
            return looked.FError;
        }
        if (!S_ISREG(attrs.FMode)) {
            client.Close(handle);
            notRegular = true;
            return EINVAL;
        }
        // The file holds its connection's client: the one in use now.
        std::string reason;
        std::shared_ptr<TSftpClient> current = FConnection->Client(reason);
        if (current.get() != &client) {
            client.Close(handle);
            return ECONNRESET;
        }
        file = std::make_unique<TSftpFile>(FConnection, std::move(current), path, std::move(handle), attrs);
        return 0;
    });
    return error == 0 ? std::move(file) : nullptr;
}

std::unique_ptr<TReadableFile> TSftpVolume::OpenFile(std::string_view relative, int& error,
                                                     bool& notRegular) {
    return OpenRemoteFile(PathOf(relative), false, error, notRegular);
}

std::unique_ptr<TReadableFile> TSftpVolume::OpenFileAt(const TVolumeFolder& folder, const std::string& name,
                                                       int& error, bool& notRegular) {
    return OpenRemoteFile(Join(PathOfFolder(folder), name), true, error, notRegular);
}

int TSftpVolume::WalkFolder(TSftpClient& client, const std::string& path, TFolderWalk walk) {
    {
        const std::lock_guard lock(FMutex);
        if (FKnownFolders.count(path) != 0) {
            return 0;
        }
    }
    TSftpAttrs attrs;
    TSftpResult looked = client.Lstat(path, attrs);
    if (looked && S_ISLNK(attrs.FMode)) {
        if (walk != TFolderWalk::CreateOverLinks) {
            return ELOOP;
        }
        if (const TSftpResult removed = client.Remove(path); !removed) {
            return removed.FError;
        }
        looked = {ENOENT, {}};
    }
    if (!looked) {
        if (looked.FError != ENOENT || walk == TFolderWalk::Existing) {
            return looked.FError;
        }
        if (const TSftpResult made = client.MakeFolder(path, 0777); !made) {
            if (!client.Lstat(path, attrs) || !S_ISDIR(attrs.FMode)) {
                return made.FError;
            }
        }
    } else if (!S_ISDIR(attrs.FMode)) {
        return ENOTDIR;
    }
    const std::lock_guard lock(FMutex);
    FKnownFolders.insert(path);
    return 0;
}

TFolderRef TSftpVolume::OpenParent(const std::string& line, TFolderWalk walk, std::string& lastName,
                                   int& error) {
    if (walk != TFolderWalk::Existing && !FRootMade.load()) {
        // Once made, the root is not looked at again for every folder.
        if ((error = MakeRoot(true)) != 0) {
            return nullptr;
        }
        FRootMade = true;
    }
    const std::string trimmed = WithoutTrailingDelimiters(line);
    const std::size_t slash = trimmed.rfind('/');
    lastName = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    std::string folder = FRootPath;
    error = Retrying([&](TSftpClient& client, bool) {
        folder = FRootPath;
        if (slash == std::string::npos) {
            return Outcome(client, 0);
        }
        std::size_t start = 0;
        while (start < slash) {
            std::size_t end = trimmed.find('/', start);
            if (end == std::string::npos || end > slash) {
                end = slash;
            }
            if (end > start) {
                folder = Join(folder, std::string_view(trimmed).substr(start, end - start));
                if (const int walked = WalkFolder(client, folder, walk); walked != 0) {
                    return walked;
                }
            }
            start = end + 1;
        }
        return 0;
    });
    if (walk != TFolderWalk::Existing) {
        FListings.Forget(); // the walk may have made folders, or removed links
    }
    return error == 0 ? std::make_shared<TSftpFolder>(folder) : nullptr;
}

TFolderRef TSftpVolume::OpenFolderAt(const TVolumeFolder* folder, const std::string& name, int& error) {
    const std::string base = folder != nullptr ? PathOfFolder(*folder) : FRootPath;
    const std::string path = Join(base, name);
    error = Retrying([&](TSftpClient& client, bool) {
        if (name.empty() && folder != nullptr) {
            return Outcome(client, 0);
        }
        TSftpAttrs attrs;
        if (const int looked = client.Lstat(path, attrs).FError; looked != 0) {
            return looked;
        }
        if (S_ISLNK(attrs.FMode) && !name.empty()) {
            return ELOOP;
        }
        if (!S_ISDIR(attrs.FMode) && !(folder == nullptr && name.empty() && S_ISLNK(attrs.FMode))) {
            return ENOTDIR;
        }
        return 0;
    });
    return error == 0 ? std::make_shared<TSftpFolder>(path) : nullptr;
}

int TSftpVolume::MakeRoot(bool parents) {
    const TSftpListings::TChange change(FListings);
    return Retrying([&](TSftpClient& client, bool) {
        TSftpAttrs attrs;
        if (client.Stat(FRootPath, attrs) && S_ISDIR(attrs.FMode)) {
            return 0;
        }
        if (parents) {
            // The root is the user's own path: links on the way are followed.
            for (std::size_t slash = FRootPath.find('/', 1); slash != std::string::npos;
                 slash = FRootPath.find('/', slash + 1)) {
                client.MakeFolder(FRootPath.substr(0, slash), 0777);
            }
        }
        const TSftpResult made = client.MakeFolder(FRootPath, 0777);
        if (!made && !(client.Stat(FRootPath, attrs) && S_ISDIR(attrs.FMode))) {
            return made.FError;
        }
        return 0;
    });
}

int TSftpVolume::MakeFolder(const TVolumeFolder& folder, const std::string& name) {
    const TSftpListings::TChange change(FListings);
    const std::string path = Join(PathOfFolder(folder), name);
    const int error = Retrying([&](TSftpClient& client, bool again) {
        const TSftpResult made = client.MakeFolder(path, 0777);
        if (!made) {
            TSftpAttrs attrs;
            if (made.FError == EIO && client.Lstat(path, attrs)) {
                // Made by the attempt whose answer the lost connection took.
                return again && S_ISDIR(attrs.FMode) ? 0 : EEXIST;
            }
            return made.FError;
        }
        return 0;
    });
    if (error == 0) {
        // A folder this run made is a real one and holds no temporaries: the
        // copies into it need not look at it again.
        const std::lock_guard lock(FMutex);
        FKnownFolders.insert(path);
        FSwept.insert(path);
    }
    return error;
}

int TSftpVolume::RemoveFolder(const TVolumeFolder& folder, const std::string& name) {
    const TSftpListings::TChange change(FListings);
    const std::string path = Join(PathOfFolder(folder), name);
    {
        const std::lock_guard lock(FMutex);
        FKnownFolders.erase(path);
    }
    return Retrying([&](TSftpClient& client, bool again) {
        std::vector<TSftpEntry> entries;
        if (client.List(path, entries)) {
            bool others = false;
            for (const TSftpEntry& entry : entries) {
                if (IsCopyTemporaryName(entry.FName)) {
                    client.Remove(Join(path, entry.FName));
                } else {
                    others = true;
                }
            }
            if (others) {
                return Outcome(client, ENOTEMPTY);
            }
        }
        const int removed = client.RemoveFolder(path).FError;
        return again && removed == ENOENT ? 0 : removed;
    });
}

int TSftpVolume::RemoveFile(const TVolumeFolder& folder, const std::string& name) {
    const TSftpListings::TChange change(FListings);
    const std::string path = Join(PathOfFolder(folder), name);
    return Retrying([&](TSftpClient& client, bool again) {
        const TSftpResult removed = client.Remove(path);
        if (!removed && removed.FError == EIO) {
            TSftpAttrs attrs;
            if (client.Lstat(path, attrs) && S_ISDIR(attrs.FMode)) {
                return EISDIR;
            }
        }
        return again && removed.FError == ENOENT ? 0 : removed.FError;
    });
}

void TSftpVolume::AllowOwnerWrite(const TVolumeFolder& folder, const std::string& name) {
    const TSftpListings::TChange change(FListings);
    const std::string path = Join(PathOfFolder(folder), name);
    Retrying([&](TSftpClient& client, bool) {
        TSftpAttrs attrs;
        if (client.Lstat(path, attrs) && !S_ISLNK(attrs.FMode) && (attrs.FMode & S_IWUSR) == 0) {
            TSftpAttrs mode;
            mode.FFlags = sftp::AttrPermissions;
            mode.FMode = (attrs.FMode & 07777) | S_IWUSR;
            client.Setstat(path, mode);
        }
        return Outcome(client, 0);
    });
}

int TSftpVolume::RenameNoReplace(TSftpClient& client, const std::string& from, const std::string& to,
                                 bool lookedAlready) {
    // OpenSSH's rename links and unlinks a file, so an entry at to fails it.
    TSftpAttrs attrs;
    if (!lookedAlready && client.Lstat(to, attrs)) {
        return EEXIST;
    }
    const TSftpResult renamed = client.Rename(from, to);
    if (!renamed && renamed.FError == EIO && client.Lstat(to, attrs)) {
        return EEXIST;
    }
    return renamed.FError;
}

int TSftpVolume::ReplaceInto(TSftpClient& client, const std::string& from, const std::string& to) {
    if (FPosixRenameAllowed && client.HasPosixRename()) {
        const TSftpResult renamed = client.PosixRename(from, to);
        if (!renamed && renamed.FError == EIO) {
            TSftpAttrs attrs;
            if (client.Lstat(to, attrs) && S_ISDIR(attrs.FMode)) {
                return EISDIR;
            }
        }
        return renamed.FError;
    }
    TSftpAttrs existing;
    if (!client.Lstat(to, existing)) {
        return client.Rename(from, to).FError;
    }
    if (S_ISDIR(existing.FMode)) {
        return EISDIR;
    }
    const std::size_t slash = to.rfind('/');
    const std::string aside =
        Join(slash == std::string::npos ? std::string(".") : to.substr(0, slash), RandomTemporaryName());
    if (const TSftpResult moved = client.Rename(to, aside); !moved) {
        return moved.FError;
    }
    if (const TSftpResult placed = client.Rename(from, to); !placed) {
        client.Rename(aside, to); // the old one back where it was
        return placed.FError;
    }
    client.Remove(aside);
    return 0;
}

int TSftpVolume::RenameOnce(TSftpClient& client, const std::string& from, const std::string& to, bool replace,
                            bool again) {
    const int renamed = replace ? ReplaceInto(client, from, to) : RenameNoReplace(client, from, to);
    if (again && renamed != 0) {
        // The attempt whose answer the lost connection took may have renamed it.
        TSftpAttrs attrs;
        if (!client.Lstat(from, attrs) && client.Lstat(to, attrs)) {
            return 0;
        }
    }
    return renamed;
}

int TSftpVolume::Rename(const TVolumeFolder& fromFolder, const std::string& from,
                        const TVolumeFolder& toFolder, const std::string& to, bool replace) {
    const TSftpListings::TChange change(FListings);
    const auto* source = dynamic_cast<const TSftpFolder*>(&fromFolder);
    const auto* target = dynamic_cast<const TSftpFolder*>(&toFolder);
    if (source == nullptr || target == nullptr) {
        return EXDEV;
    }
    const std::string fromPath = Join(source->Path(), from);
    const std::string toPath = Join(target->Path(), to);
    {
        const std::lock_guard lock(FMutex);
        FKnownFolders.erase(fromPath);
        FKnownFolders.erase(toPath);
    }
    return Retrying([&](TSftpClient& client, bool again) {
        return RenameOnce(client, fromPath, toPath, replace, again);
    });
}

std::string TSftpVolume::FreeTemporaryIn(const std::string& folder) {
    return Join(folder, RandomTemporaryName());
}

int TSftpVolume::MakeLink(const TVolumeFolder& folder, const std::string& name, const std::string& text,
                          std::int64_t modifiedNs, bool replace) {
    const TSftpListings::TChange change(FListings);
    const std::string path = Join(PathOfFolder(folder), name);
    return Retrying([&](TSftpClient& client, bool again) {
        TSftpAttrs existing;
        const bool exists = static_cast<bool>(client.Lstat(path, existing));
        if (again && exists && S_ISLNK(existing.FMode)) {
            // Made by the attempt whose answer the lost connection took?
            std::string made;
            if (client.ReadLink(path, made) && made == text) {
                return 0;
            }
        }
        if (!replace && exists) {
            return Outcome(client, EEXIST);
        }
        const std::string temporary = FreeTemporaryIn(PathOfFolder(folder));
        if (const TSftpResult made = client.Symlink(temporary, text); !made) {
            return made.FError;
        }
        TSftpAttrs times;
        times.FFlags = sftp::AttrTimes;
        times.FAccessed = times.FModified = WholeSeconds(modifiedNs);
        client.Lsetstat(temporary, times); // the time of a link is not compared
        const auto fail = [&](int failure) {
            client.Remove(temporary);
            return failure;
        };
        if (!replace) {
            const int renamed = RenameNoReplace(client, temporary, path);
            return renamed == 0 ? 0 : fail(renamed);
        }
        if (exists && S_ISDIR(existing.FMode)) {
            // An empty folder makes way for the link.
            if (const TSftpResult removed = client.RemoveFolder(path); !removed) {
                return fail(Outcome(client, ENOTEMPTY));
            }
            const std::lock_guard lock(FMutex);
            FKnownFolders.erase(path);
        }
        const int renamed = ReplaceInto(client, temporary, path);
        return renamed == 0 ? 0 : fail(renamed);
    });
}

bool TSftpVolume::WriteFile(const TVolumeFolder& folder, const std::string& name, TReadableFile& source,
                            const TWriteOptions& options, std::string& reason) {
    const TSftpListings::TChange change(FListings);
    const std::string path = Join(PathOfFolder(folder), name);
    const TStopTest& stop = options.FStopRequested != nullptr ? *options.FStopRequested : TStopTest();
    // A write the connection ended is made again whole, into a new temporary;
    // the old one is removed on the new connection (or by the next run's sweep).
    TWriteAttempt attempt;
    const std::shared_ptr<TSftpConnection> connection = FCopies.ForThisThread();
    const int error = Retrying(*connection, [&](TSftpClient& client, bool again) {
        if (!again) {
            return WriteOnce(client, folder, name, source, options, attempt, reason);
        }
        if (StopRequestedBy(stop)) {
            reason = "stopped";
            return ECANCELED;
        }
        if (!attempt.FRenaming) {
            client.Remove(attempt.FTemporary);
            return WriteOnce(client, folder, name, source, options, attempt, reason);
        }
        // Complete, and only its rename was cut off: asked again (it may have happened).
        const int placed = RenameOnce(client, attempt.FTemporary, path, options.FReplace, true);
        if (placed != 0 && client.Channel().Alive()) {
            client.Remove(attempt.FTemporary);
            PutBackReplaced(options, folder, name, attempt);
        }
        reason = placed != 0 ? ErrorText(placed) : std::string();
        return placed;
    });
    if (error != 0 && !connection->LostReason().empty()) {
        reason = connection->LostReason();
    } else if (error != 0 && reason.empty()) {
        reason = ReachProblem();
        if (reason.empty()) {
            reason = ErrorText(error);
        }
    }
    return error == 0;
}

void TSftpVolume::PutBackReplaced(const TWriteOptions& options, const TVolumeFolder& folder,
                                  const std::string& name, TWriteAttempt& attempt) {
    if (attempt.FKept && options.FReplaced != nullptr) {
        options.FReplaced->PutBack(folder, name);
    }
    attempt.FKept = false;
}

int TSftpVolume::WriteOnce(TSftpClient& client, const TVolumeFolder& folder, const std::string& name,
                           TReadableFile& source, const TWriteOptions& options, TWriteAttempt& attempt,
                           std::string& reason) {
    reason.clear();
    attempt = TWriteAttempt{};
    const std::string path = Join(PathOfFolder(folder), name);
    // 1. Into a temporary beside the destination, never a half file under the final name.
    std::string& temporary = attempt.FTemporary;
    std::string handle;
    TSftpAttrs creation;
    creation.FFlags = sftp::AttrPermissions;
    creation.FMode = 0600;
    for (int tried = 0; tried < 20 && handle.empty(); ++tried) {
        temporary = FreeTemporaryIn(PathOfFolder(folder));
        const TSftpResult opened = client.Open(
            temporary, sftp::OpenWrite | sftp::OpenCreate | sftp::OpenExclusive | sftp::OpenTruncate,
            creation, handle);
        if (!opened && (opened.FError != EIO || !client.Channel().Alive())) {
            reason = opened.Reason();
            return opened.FError;
        }
        if (!opened) {
            // A name taken (EEXIST comes as a bare "Failure" too), or a folder that takes no file.
            if (const TSftpResult why = WriteFailure(client, opened, PathOfFolder(folder));
                why.FError != EIO) {
                reason = why.Reason();
                return why.FError;
            }
        }
    }
    if (handle.empty()) {
        reason = "no free temporary name";
        return EEXIST;
    }
    bool closed = false;
    const auto fail = [&](const TSftpResult& why) {
        if (!closed) {
            client.Close(handle);
        }
        client.Remove(temporary);
        reason = why.Reason();
        return why.FError != 0 ? why.FError : EIO;
    };
    source.ExpectSequentialReads();
    // A small file's requests, its writes and the ones that end it, go to the
    // server in one piece: fewer wake-ups of ssh and sshd for each file.
    std::optional<TSftpChannel::THold> together;
    if (source.Facts().FSize <= 4 * static_cast<std::int64_t>(client.ChunkSize())) {
        together.emplace(client.Channel());
    }
    TSftpPipelinedWriter writer(client, handle);
    TRunningSum written;
    // Up to 1 MiB at a time, no more than the file needs: most files are small.
    std::vector<char> block(
        static_cast<std::size_t>(std::clamp<std::int64_t>(source.Facts().FSize + 1, 4096, 1 << 20)));
    std::int64_t offset = 0;
    for (;;) {
        if (StopRequestedBy(options.FStopRequested != nullptr ? *options.FStopRequested : TStopTest())) {
            writer.Finish();
            fail({ECANCELED, "stopped"});
            reason = "stopped";
            return ECANCELED;
        }
        const long got = source.ReadAt(block.data(), block.size(), offset);
        if (got < 0) {
            const int readError = errno;
            writer.Finish();
            return fail({readError, ErrorText(readError)});
        }
        if (got == 0) {
            break;
        }
        if (options.FVerify) {
            written.Add(block.data(), static_cast<std::size_t>(got));
        }
        if (!writer.Write(std::string_view(block.data(), static_cast<std::size_t>(got)),
                          static_cast<std::uint64_t>(offset))) {
            break;
        }
        offset += got;
    }
    // 2. Permission bits and whole-second times before the close, and 3. on the
    // server's disk where it can say so: sent behind the writes, in one go.
    TSftpAttrs attrs;
    attrs.FFlags = sftp::AttrPermissions | sftp::AttrTimes;
    attrs.FMode = source.Facts().FMode & 07777;
    attrs.FAccessed = WholeSeconds(source.Facts().FAccessedNs);
    attrs.FModified = WholeSeconds(source.Facts().FModifiedNs);
    const TSftpCall set = writer.Result() ? client.SendFsetstat(handle, attrs) : nullptr;
    const TSftpCall synced = set ? client.SendFsync(handle) : nullptr;
    // Without a read back, the close goes too, and where nothing may be replaced
    // the look at the destination (the rename checks again).
    const bool closeNow = set && !options.FVerify;
    const TSftpCall shut = closeNow ? client.SendClose(handle) : nullptr;
    const TSftpCall looked = closeNow && !options.FReplace ? client.SendLstat(path) : nullptr;
    closed = closeNow;
    const TSftpResult done = writer.Finish();
    const TSftpResult setResult = set ? client.TakeStatus(set) : TSftpResult{};
    const TSftpResult syncResult = synced ? client.TakeStatus(synced) : TSftpResult{};
    const TSftpResult shutResult = shut ? client.TakeStatus(shut) : TSftpResult{};
    TSftpAttrs existing;
    const bool exists = looked && client.TakeAttrs(looked, existing);
    if (!done) {
        return fail(WriteFailure(client, done, PathOfFolder(folder)));
    }
    if (!setResult) {
        return fail(setResult);
    }
    for (const TSftpResult* result : {&syncResult, &shutResult}) {
        if (!*result) {
            return fail(WriteFailure(client, *result, PathOfFolder(folder)));
        }
    }
    if (exists) {
        return fail({EEXIST, ErrorText(EEXIST)});
    }
    if (options.FVerify) {
        TRunningSum readBack;
        TSftpPipelinedReader reader(client, handle);
        long got = 0;
        while ((got = reader.Read(block.data(), block.size())) > 0) {
            readBack.Add(block.data(), static_cast<std::size_t>(got));
        }
        if (got < 0) {
            return fail(reader.Result());
        }
        if (readBack.FValue != written.FValue || reader.Position() != static_cast<std::uint64_t>(offset)) {
            return fail({EIO, "the copy read back differs from the source"});
        }
    }
    if (!closed) {
        closed = true;
        if (const TSftpResult closing = client.Close(handle); !closing) {
            return fail(WriteFailure(client, closing, PathOfFolder(folder)));
        }
    }
    if (options.FReplaced != nullptr) {
        if (std::string keptReason = options.FReplaced->Keep(folder, name); !keptReason.empty()) {
            fail({EIO, keptReason});
            reason = keptReason;
            return Outcome(client, EIO);
        }
        attempt.FKept = true;
    }
    // 4. Into place.
    attempt.FRenaming = true;
    const int placed = options.FReplace ? ReplaceInto(client, temporary, path)
                                        : RenameNoReplace(client, temporary, path, looked != nullptr);
    if (placed != 0 && client.Channel().Alive()) {
        PutBackReplaced(options, folder, name, attempt);
        return fail({placed, ErrorText(placed)});
    }
    reason = placed != 0 ? ErrorText(placed) : std::string();
    return placed; // one cut off by the connection is asked again on the new one
}

TSftpResult TSftpVolume::WriteFailure(TSftpClient& client, const TSftpResult& failure,
                                      const std::string& folder) {
    // OpenSSH answers a full disk and a read-only file system with a bare
    // "Failure": the file system's facts tell which it was.
    TSftpSpace space;
    if (failure.FError != EIO || !client.Channel().Alive() || !client.Statvfs(folder, space)) {
        return failure;
    }
    if (space.FReadOnly) {
        return {EROFS, ErrorText(EROFS)};
    }
    if (space.FAvailableBlocks * std::max<std::uint64_t>(space.FBlockSize, 1) < client.ChunkSize()) {
        return {ENOSPC, ErrorText(ENOSPC)};
    }
    return failure;
}

void TSftpVolume::SweepTemporaries(const TVolumeFolder& folder) {
    const std::string& path = PathOfFolder(folder);
    {
        // Another thread's sweep of this folder under way is waited for: a
        // temporary made meanwhile would be taken for a leftover and removed.
        std::unique_lock lock(FMutex);
        if (!FSwept.insert(path).second) {
            FSweepEnded.wait(lock, [&] { return FSweeping.count(path) == 0; });
            return;
        }
        FSweeping.insert(path);
    }
    Retrying([&](TSftpClient& client, bool) {
        std::vector<TSftpEntry> entries;
        if (!client.List(path, entries)) {
            return Outcome(client, 0);
        }
        for (const TSftpEntry& entry : entries) {
            if (IsCopyTemporaryName(entry.FName)) {
                client.Remove(Join(path, entry.FName));
            }
        }
        return Outcome(client, 0);
    });
    {
        const std::lock_guard lock(FMutex);
        FSweeping.erase(path);
    }
    FSweepEnded.notify_all();
}

std::unique_ptr<THeldEntry> TSftpVolume::Hold(const TVolumeFolder& /*folder*/, const std::string& /*name*/) {
    return nullptr; // a server frees a file's blocks itself
}

int TSftpVolume::FlushFile(const TVolumeFolder& folder, const std::string& name) {
    const std::string path = Join(PathOfFolder(folder), name);
    return Retrying([&](TSftpClient& client, bool) {
        if (!client.HasFsync()) {
            return 0;
        }
        std::string handle;
        if (const TSftpResult opened = client.Open(path, sftp::OpenRead, {}, handle); !opened) {
            return opened.FError;
        }
        const TSftpResult synced = client.Fsync(handle);
        client.Close(handle);
        return synced.FError;
    });
}

bool TSftpVolume::Flush(std::string& reason) {
    // Each written file was flushed on the server as it was closed.
    if (reason = LostReason(); !reason.empty()) {
        return false;
    }
    reason = ReachProblem();
    return reason.empty();
}

int TSftpVolume::CreateExclusive(const std::string& name, std::string_view contents) {
    const TSftpListings::TChange change(FListings);
    const std::string path = Join(FRootPath, name);
    // A file the attempt cut off by a lost connection may have made is found as
    // existing again; the run lock reads whose it is.
    return Retrying([&](TSftpClient& client, bool) {
        TSftpAttrs creation;
        creation.FFlags = sftp::AttrPermissions;
        creation.FMode = 0644;
        std::string handle;
        if (const TSftpResult opened =
                client.Open(path, sftp::OpenWrite | sftp::OpenCreate | sftp::OpenExclusive, creation, handle);
            !opened) {
            // SFTP version 3 has no status for an existing file: a plain failure.
            TSftpAttrs attrs;
            return opened.FError == EIO && client.Lstat(path, attrs) ? EEXIST
                                                                     : Outcome(client, opened.FError);
        }
        const TSftpResult written = client.Write(handle, 0, contents);
        const TSftpResult closed = client.Close(handle);
        if (!written || !closed) {
            client.Remove(path);
            return Outcome(client, !written ? written.FError : closed.FError);
        }
        return Outcome(client, 0);
    });
}

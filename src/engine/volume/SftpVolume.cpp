#include "SftpVolume.h"

#include "CopyFile.h"
#include "config/DateTime.h"
#include "config/FileFacts.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// --- Connections shared by the volumes of one server ---

std::mutex PoolMutex;
std::map<std::string, std::shared_ptr<TSftpClient>>& Pool() {
    static std::map<std::string, std::shared_ptr<TSftpClient>> pool;
    return pool;
}
std::map<std::string, std::string>& CommandsByServer() {
    static std::map<std::string, std::string> commands;
    return commands;
}
std::atomic<bool> MayPrompt{false};
std::mutex PromptMutex; // apart from PoolMutex, which is held while a connection starts
std::vector<std::string>& PromptEnvironment() {
    static std::vector<std::string> environment;
    return environment;
}

// The connection to address as this process makes them: unattended, or
// asking a person through the password program of the prompting environment.
std::unique_ptr<TSftpChannel> StartChannel(const std::string& sshCommand, const TSftpAddress& address,
                                           std::string& reason) {
    std::vector<std::string> environment;
    {
        const std::lock_guard lock(PromptMutex);
        environment = PromptEnvironment();
    }
    const bool mayPrompt = MayPrompt.load();
    return TSftpChannel::Start(SftpCommandLine(sshCommand, address, !mayPrompt), reason,
                               std::chrono::seconds(60),
                               mayPrompt ? environment : std::vector<std::string>());
}

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
// of a short answer.
class TSftpFile : public TReadableFile {
public:
    TSftpFile(std::shared_ptr<TSftpClient> client, std::string handle, const TSftpAttrs& attrs)
        : FClient(std::move(client)), FHandle(std::move(handle)) {
        FillFacts(attrs, FFacts);
    }
    ~TSftpFile() override {
        FReader.reset();
        FClient->Close(FHandle);
    }
    void ExpectSequentialReads() override { FSequential = true; }
    long ReadAt(char* data, std::size_t size, std::int64_t offset) override {
        if (FSequential) {
            if (!FReader || FReader->Position() != static_cast<std::uint64_t>(offset)) {
                FReader.reset();
                FReader = std::make_unique<TSftpPipelinedReader>(*FClient, FHandle, offset);
            }
            std::size_t done = 0;
            while (done < size) {
                const long got = FReader->Read(data + done, size - done);
                if (got < 0) {
                    FReader.reset();
                    errno = EIO;
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

private:
    std::shared_ptr<TSftpClient> FClient;
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
    const std::lock_guard lock(PoolMutex);
    CommandsByServer()[ServerKey(address)] = sshCommand;
}

void SetSshMayPrompt(bool mayPrompt, std::vector<std::string> environment) {
    const std::lock_guard lock(PromptMutex);
    PromptEnvironment() = std::move(environment);
    MayPrompt = mayPrompt;
}

std::shared_ptr<TVolume> OpenSftpVolume(const std::string& root) {
    TSftpAddress address;
    std::string reason;
    ParseSftpAddress(root, address, reason); // a malformed address is refused when it is used
    std::string command;
    {
        const std::lock_guard lock(PoolMutex);
        const auto found = CommandsByServer().find(ServerKey(address));
        if (found != CommandsByServer().end()) {
            command = found->second;
        }
    }
    return std::make_shared<TSftpVolume>(root, address, command);
}

TSftpVolume::TSftpVolume(const std::string& root, const TSftpAddress& address, const std::string& sshCommand)
    : TVolume(root), FAddress(address), FSshCommand(sshCommand), FRootPath(address.FPath) {}

std::shared_ptr<TSftpClient> TSftpVolume::Client(int& error) {
    error = 0;
    std::string reason;
    TSftpAddress checked;
    if (!ParseSftpAddress(WithoutTrailingDelimiters(Root()), checked, reason)) {
        error = EINVAL;
        return nullptr;
    }
    const std::string key = FSshCommand + '\n' + ServerKey(FAddress);
    const std::lock_guard lock(PoolMutex);
    std::shared_ptr<TSftpClient>& client = Pool()[key];
    if (client && client->Channel().Alive()) {
        return client;
    }
    auto channel = StartChannel(FSshCommand, FAddress, reason);
    if (!channel) {
        client.reset();
        error = EHOSTUNREACH;
        return nullptr;
    }
    client = std::make_shared<TSftpClient>(std::move(channel));
    return client;
}

std::string TSftpVolume::ReachProblem() {
    TSftpAddress checked;
    std::string reason;
    if (!ParseSftpAddress(WithoutTrailingDelimiters(Root()), checked, reason)) {
        return reason;
    }
    const std::string key = FSshCommand + '\n' + ServerKey(FAddress);
    {
        const std::lock_guard lock(PoolMutex);
        const auto found = Pool().find(key);
        if (found != Pool().end() && found->second && found->second->Channel().Alive()) {
            return {};
        }
    }
    auto channel = StartChannel(FSshCommand, FAddress, reason);
    if (!channel) {
        return reason;
    }
    const std::lock_guard lock(PoolMutex);
    Pool()[key] = std::make_shared<TSftpClient>(std::move(channel));
    return {};
}

std::string TSftpVolume::PathOf(std::string_view relative) const {
    return WithoutTrailingDelimiters(Join(FRootPath, relative));
}

int TSftpVolume::Lstat(const std::shared_ptr<TSftpClient>& client, const std::string& path,
                       TSftpAttrs& attrs) {
    return client->Lstat(path, attrs).FError;
}

TEntryFacts TSftpVolume::Facts(std::string_view relative, bool followLink) {
    TEntryFacts facts;
    const auto client = Client(facts.FError);
    if (!client) {
        return facts;
    }
    TSftpAttrs attrs;
    const std::string path = PathOf(relative);
    return FactsOf(followLink ? client->Stat(path, attrs) : client->Lstat(path, attrs), attrs);
}

TEntryFacts TSftpVolume::FactsAt(const TVolumeFolder& folder, const std::string& name) {
    TEntryFacts facts;
    const auto client = Client(facts.FError);
    if (!client) {
        return facts;
    }
    TSftpAttrs attrs;
    return FactsOf(client->Lstat(Join(PathOfFolder(folder), name), attrs), attrs);
}

int TSftpVolume::ListFolder(const TVolumeFolder* folder, std::string_view relative, bool /*facts*/,
                            bool resolveLinks, TFolderListing& listing) {
    listing.Clear();
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        return error;
    }
    const std::string path = folder != nullptr
                                 ? WithoutTrailingDelimiters(Join(PathOfFolder(*folder), relative))
                                 : PathOf(relative);
    if (folder != nullptr || !relative.empty()) {
        // A link at the last name is not listed through.
        TSftpAttrs attrs;
        if (const int lookup = Lstat(client, path, attrs); lookup != 0) {
            return lookup;
        }
        if (S_ISLNK(attrs.FMode)) {
            return ELOOP;
        }
        if (!S_ISDIR(attrs.FMode)) {
            return ENOTDIR;
        }
    }
    std::vector<TSftpEntry> entries;
    const TSftpResult listed = client->List(path, entries);
    if (!listed) {
        return listed.FError == EIO ? ENOTDIR : listed.FError;
    }
    for (const TSftpEntry& entry : entries) {
        if (IsCopyTemporaryName(entry.FName) || entry.FName == RemoteLockName) {
            continue;
        }
        TListedEntry item;
        // Each entry comes with its attributes: no look-up per entry.
        item.FKind = (entry.FAttrs.FFlags & sftp::AttrPermissions) ? KindOfMode(entry.FAttrs.FMode)
                                                                   : TListedKind::Unknown;
        item.FSize = static_cast<std::int64_t>(entry.FAttrs.FSize);
        item.FModifiedNs = SecondsToNs(entry.FAttrs.FModified);
        if (item.FKind == TListedKind::Unknown) {
            TSftpAttrs attrs;
            item.FError = Lstat(client, Join(path, entry.FName), attrs);
            item.FKind = item.FError == 0 ? KindOfMode(attrs.FMode) : TListedKind::Unknown;
        }
        if (item.FKind == TListedKind::Link && resolveLinks) {
            TSftpAttrs target;
            const TSftpResult looked = client->Stat(Join(path, entry.FName), target);
            if (!looked) {
                item.FTarget = looked.FError == ENOENT ? TListedKind::Missing : TListedKind::Unknown;
                item.FError = looked.FError == ENOENT ? 0 : looked.FError;
            } else {
                item.FTarget = KindOfMode(target.FMode);
            }
        }
        item.FOffset = static_cast<std::uint32_t>(listing.FNames.size());
        item.FLength = static_cast<std::uint32_t>(entry.FName.size());
        listing.FNames.append(entry.FName);
        listing.FEntries.push_back(item);
    }
    return 0;
}

int TSftpVolume::ReadLink(std::string_view relative, std::string& text) {
    int error = 0;
    const auto client = Client(error);
    return client ? client->ReadLink(PathOf(relative), text).FError : error;
}

int TSftpVolume::ReadLinkAt(const TVolumeFolder& folder, const std::string& name, std::string& text) {
    int error = 0;
    const auto client = Client(error);
    return client ? client->ReadLink(Join(PathOfFolder(folder), name), text).FError : error;
}

TFileSystemFacts TSftpVolume::FileSystem() {
    TFileSystemFacts facts;
    facts.FType = "sftp";
    facts.FTimeStepMs = 1000; // SFTP carries whole seconds
    return facts;
}

namespace {

std::unique_ptr<TReadableFile> OpenRemoteFile(const std::shared_ptr<TSftpClient>& client,
                                              const std::string& path, int& error, bool& notRegular) {
    std::string handle;
    const TSftpResult opened = client->Open(path, sftp::OpenRead, {}, handle);
    if (!opened) {
        error = opened.FError;
        return nullptr;
    }
    TSftpAttrs attrs;
    if (const TSftpResult looked = client->Fstat(handle, attrs); !looked) {
        client->Close(handle);
        error = looked.FError;
        return nullptr;
    }
    if (!S_ISREG(attrs.FMode)) {
        client->Close(handle);
        notRegular = true;
        error = EINVAL;
        return nullptr;
    }
    error = 0;
    return std::make_unique<TSftpFile>(client, std::move(handle), attrs);
}

} // namespace

std::unique_ptr<TReadableFile> TSftpVolume::OpenFile(std::string_view relative, int& error,
                                                     bool& notRegular) {
    notRegular = false;
    const auto client = Client(error);
    return client ? OpenRemoteFile(client, PathOf(relative), error, notRegular) : nullptr;
}

std::unique_ptr<TReadableFile> TSftpVolume::OpenFileAt(const TVolumeFolder& folder, const std::string& name,
                                                       int& error, bool& notRegular) {
    notRegular = false;
    const auto client = Client(error);
    if (!client) {
        return nullptr;
    }
    const std::string path = Join(PathOfFolder(folder), name);
    TSftpAttrs attrs;
    if ((error = Lstat(client, path, attrs)) != 0) {
        return nullptr;
    }
    if (S_ISLNK(attrs.FMode)) {
        error = ELOOP; // never read through a link
        return nullptr;
    }
    return OpenRemoteFile(client, path, error, notRegular);
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
    const auto client = Client(error);
    if (!client) {
        return nullptr;
    }
    if (walk != TFolderWalk::Existing) {
        if ((error = MakeRoot(true)) != 0) {
            return nullptr;
        }
    }
    const std::string trimmed = WithoutTrailingDelimiters(line);
    const std::size_t slash = trimmed.rfind('/');
    lastName = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    std::string folder = FRootPath;
    if (slash != std::string::npos) {
        std::size_t start = 0;
        while (start < slash) {
            std::size_t end = trimmed.find('/', start);
            if (end == std::string::npos || end > slash) {
                end = slash;
            }
            if (end > start) {
                folder = Join(folder, std::string_view(trimmed).substr(start, end - start));
                if ((error = WalkFolder(*client, folder, walk)) != 0) {
                    return nullptr;
                }
            }
            start = end + 1;
        }
    }
    error = 0;
    return std::make_shared<TSftpFolder>(folder);
}

TFolderRef TSftpVolume::OpenFolderAt(const TVolumeFolder* folder, const std::string& name, int& error) {
    const auto client = Client(error);
    if (!client) {
        return nullptr;
    }
    const std::string base = folder != nullptr ? PathOfFolder(*folder) : FRootPath;
    const std::string path = Join(base, name);
    if (!name.empty() || folder == nullptr) {
        TSftpAttrs attrs;
        if ((error = Lstat(client, path, attrs)) != 0) {
            return nullptr;
        }
        if (S_ISLNK(attrs.FMode) && !name.empty()) {
            error = ELOOP;
            return nullptr;
        }
        if (!S_ISDIR(attrs.FMode) && !(folder == nullptr && name.empty() && S_ISLNK(attrs.FMode))) {
            error = ENOTDIR;
            return nullptr;
        }
    }
    error = 0;
    return std::make_shared<TSftpFolder>(path);
}

int TSftpVolume::MakeRoot(bool parents) {
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        return error;
    }
    TSftpAttrs attrs;
    if (client->Stat(FRootPath, attrs) && S_ISDIR(attrs.FMode)) {
        return 0;
    }
    if (parents) {
        // The root is the user's own path: links on the way are followed.
        for (std::size_t slash = FRootPath.find('/', 1); slash != std::string::npos;
             slash = FRootPath.find('/', slash + 1)) {
            client->MakeFolder(FRootPath.substr(0, slash), 0777);
        }
    }
    const TSftpResult made = client->MakeFolder(FRootPath, 0777);
    if (!made && !(client->Stat(FRootPath, attrs) && S_ISDIR(attrs.FMode))) {
        return made.FError;
    }
    return 0;
}

int TSftpVolume::MakeFolder(const TVolumeFolder& folder, const std::string& name) {
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        return error;
    }
    const std::string path = Join(PathOfFolder(folder), name);
    const TSftpResult made = client->MakeFolder(path, 0777);
    if (!made) {
        TSftpAttrs attrs;
        return made.FError == EIO && client->Lstat(path, attrs) ? EEXIST : made.FError;
    }
    return 0;
}

int TSftpVolume::RemoveFolder(const TVolumeFolder& folder, const std::string& name) {
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        return error;
    }
    const std::string path = Join(PathOfFolder(folder), name);
    std::vector<TSftpEntry> entries;
    if (client->List(path, entries)) {
        bool others = false;
        for (const TSftpEntry& entry : entries) {
            if (IsCopyTemporaryName(entry.FName)) {
                client->Remove(Join(path, entry.FName));
            } else {
                others = true;
            }
        }
        if (others) {
            return ENOTEMPTY;
        }
    }
    {
        const std::lock_guard lock(FMutex);
        FKnownFolders.erase(path);
    }
    const TSftpResult removed = client->RemoveFolder(path);
    return removed.FError;
}

int TSftpVolume::RemoveFile(const TVolumeFolder& folder, const std::string& name) {
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        return error;
    }
    const std::string path = Join(PathOfFolder(folder), name);
    const TSftpResult removed = client->Remove(path);
    if (!removed && removed.FError == EIO) {
        TSftpAttrs attrs;
        if (client->Lstat(path, attrs) && S_ISDIR(attrs.FMode)) {
            return EISDIR;
        }
    }
    return removed.FError;
}

void TSftpVolume::AllowOwnerWrite(const TVolumeFolder& folder, const std::string& name) {
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        return;
    }
    const std::string path = Join(PathOfFolder(folder), name);
    TSftpAttrs attrs;
    if (client->Lstat(path, attrs) && !S_ISLNK(attrs.FMode) && (attrs.FMode & S_IWUSR) == 0) {
        TSftpAttrs mode;
        mode.FFlags = sftp::AttrPermissions;
        mode.FMode = (attrs.FMode & 07777) | S_IWUSR;
        client->Setstat(path, mode);
    }
}

int TSftpVolume::RenameNoReplace(TSftpClient& client, const std::string& from, const std::string& to) {
    // OpenSSH's rename links and unlinks a file, so an entry at to fails it.
    TSftpAttrs attrs;
    if (client.Lstat(to, attrs)) {
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

int TSftpVolume::Rename(const TVolumeFolder& fromFolder, const std::string& from,
                        const TVolumeFolder& toFolder, const std::string& to, bool replace) {
    const auto* source = dynamic_cast<const TSftpFolder*>(&fromFolder);
    const auto* target = dynamic_cast<const TSftpFolder*>(&toFolder);
    if (source == nullptr || target == nullptr) {
        return EXDEV;
    }
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        return error;
    }
    const std::string fromPath = Join(source->Path(), from);
    const std::string toPath = Join(target->Path(), to);
    {
        const std::lock_guard lock(FMutex);
        FKnownFolders.erase(fromPath);
        FKnownFolders.erase(toPath);
    }
    return replace ? ReplaceInto(*client, fromPath, toPath) : RenameNoReplace(*client, fromPath, toPath);
}

std::string TSftpVolume::FreeTemporaryIn(const std::string& folder) {
    return Join(folder, RandomTemporaryName());
}

int TSftpVolume::MakeLink(const TVolumeFolder& folder, const std::string& name, const std::string& text,
                          std::int64_t modifiedNs, bool replace) {
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        return error;
    }
    const std::string path = Join(PathOfFolder(folder), name);
    TSftpAttrs existing;
    const bool exists = static_cast<bool>(client->Lstat(path, existing));
    if (!replace && exists) {
        return EEXIST;
    }
    const std::string temporary = FreeTemporaryIn(PathOfFolder(folder));
    if (const TSftpResult made = client->Symlink(temporary, text); !made) {
        return made.FError;
    }
    TSftpAttrs times;
    times.FFlags = sftp::AttrTimes;
    times.FAccessed = times.FModified = WholeSeconds(modifiedNs);
    client->Lsetstat(temporary, times); // the time of a link is not compared
    const auto fail = [&](int failure) {
        client->Remove(temporary);
        return failure;
    };
    if (!replace) {
        const int renamed = RenameNoReplace(*client, temporary, path);
        return renamed == 0 ? 0 : fail(renamed);
    }
    if (exists && S_ISDIR(existing.FMode)) {
        // An empty folder makes way for the link.
        const TSftpResult removed = client->RemoveFolder(path);
        if (!removed) {
            return fail(ENOTEMPTY);
        }
        const std::lock_guard lock(FMutex);
        FKnownFolders.erase(path);
    }
    const int renamed = ReplaceInto(*client, temporary, path);
    return renamed == 0 ? 0 : fail(renamed);
}

bool TSftpVolume::WriteFile(const TVolumeFolder& folder, const std::string& name, TReadableFile& source,
                            const TWriteOptions& options, std::string& reason) {
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        reason = ReachProblem();
        return false;
    }
    const std::string path = Join(PathOfFolder(folder), name);
    TSftpAttrs existing;
    if (!options.FReplace && client->Lstat(path, existing)) {
        reason = ErrorText(EEXIST);
        return false;
    }
    // 1. Into a temporary beside the destination, never a half file under the final name.
    std::string temporary;
    std::string handle;
    TSftpAttrs creation;
    creation.FFlags = sftp::AttrPermissions;
    creation.FMode = 0600;
    for (int attempt = 0; attempt < 20 && handle.empty(); ++attempt) {
        temporary = FreeTemporaryIn(PathOfFolder(folder));
        const TSftpResult opened = client->Open(
            temporary, sftp::OpenWrite | sftp::OpenCreate | sftp::OpenExclusive | sftp::OpenTruncate,
            creation, handle);
        if (!opened && opened.FError != EIO) {
            reason = opened.Reason();
            return false;
        }
    }
    if (handle.empty()) {
        reason = "no free temporary name";
        return false;
    }
    bool closed = false;
    const auto fail = [&](std::string why) {
        if (!closed) {
            client->Close(handle);
        }
        client->Remove(temporary);
        reason = std::move(why);
        return false;
    };
    source.ExpectSequentialReads();
    TSftpPipelinedWriter writer(*client, handle);
    TRunningSum written;
    std::vector<char> block(1 << 20);
    std::int64_t offset = 0;
    for (;;) {
        if (StopRequestedBy(options.FStopRequested != nullptr ? *options.FStopRequested : TStopTest())) {
            writer.Finish();
            return fail("stopped");
        }
        const long got = source.ReadAt(block.data(), block.size(), offset);
        if (got < 0) {
            const int readError = errno;
            writer.Finish();
            return fail(ErrorText(readError));
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
    if (const TSftpResult done = writer.Finish(); !done) {
        return fail(done.Reason());
    }
    // 2. Permission bits and whole-second times before the close.
    TSftpAttrs attrs;
    attrs.FFlags = sftp::AttrPermissions | sftp::AttrTimes;
    attrs.FMode = source.Facts().FMode & 07777;
    attrs.FAccessed = WholeSeconds(source.Facts().FAccessedNs);
    attrs.FModified = WholeSeconds(source.Facts().FModifiedNs);
    if (const TSftpResult set = client->Fsetstat(handle, attrs); !set) {
        return fail(set.Reason());
    }
    // 3. On the server's disk where it can say so.
    if (client->HasFsync()) {
        if (const TSftpResult synced = client->Fsync(handle); !synced) {
            return fail(synced.Reason());
        }
    }
    if (options.FVerify) {
        TRunningSum readBack;
        TSftpPipelinedReader reader(*client, handle);
        long got = 0;
        while ((got = reader.Read(block.data(), block.size())) > 0) {
            readBack.Add(block.data(), static_cast<std::size_t>(got));
        }
        if (got < 0) {
            return fail(reader.Result().Reason());
        }
        if (readBack.FValue != written.FValue || reader.Position() != static_cast<std::uint64_t>(offset)) {
            return fail("the copy read back differs from the source");
        }
    }
    closed = true;
    if (const TSftpResult shut = client->Close(handle); !shut) {
        return fail(shut.Reason());
    }
    if (options.FReplaced != nullptr) {
        if (std::string kept = options.FReplaced->Keep(folder, name); !kept.empty()) {
            return fail(kept);
        }
    }
    // 4. Into place.
    const int placed =
        options.FReplace ? ReplaceInto(*client, temporary, path) : RenameNoReplace(*client, temporary, path);
    if (placed != 0) {
        if (options.FReplaced != nullptr) {
            options.FReplaced->PutBack(folder, name);
        }
        return fail(ErrorText(placed));
    }
    return true;
}

void TSftpVolume::SweepTemporaries(const TVolumeFolder& folder) {
    const std::string& path = PathOfFolder(folder);
    {
        const std::lock_guard lock(FMutex);
        if (!FSwept.insert(path).second) {
            return;
        }
    }
    int error = 0;
    const auto client = Client(error);
    std::vector<TSftpEntry> entries;
    if (!client || !client->List(path, entries)) {
        return;
    }
    for (const TSftpEntry& entry : entries) {
        if (IsCopyTemporaryName(entry.FName)) {
            client->Remove(Join(path, entry.FName));
        }
    }
}

std::unique_ptr<THeldEntry> TSftpVolume::Hold(const TVolumeFolder& /*folder*/, const std::string& /*name*/) {
    return nullptr; // a server frees a file's blocks itself
}

int TSftpVolume::FlushFile(const TVolumeFolder& folder, const std::string& name) {
    int error = 0;
    const auto client = Client(error);
    if (!client) {
        return error;
    }
    if (!client->HasFsync()) {
        return 0;
    }
    std::string handle;
    if (const TSftpResult opened = client->Open(Join(PathOfFolder(folder), name), sftp::OpenRead, {}, handle);
        !opened) {
        return opened.FError;
    }
    const TSftpResult synced = client->Fsync(handle);
    client->Close(handle);
    return synced.FError;
}

bool TSftpVolume::Flush(std::string& reason) {
    // Each written file was flushed on the server as it was closed.
    int error = 0;
    if (!Client(error)) {
        reason = ReachProblem();
        return false;
    }
    return true;
}

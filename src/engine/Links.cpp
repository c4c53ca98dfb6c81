#include "Links.h"

#include "CopyFile.h"
#include "config/CustomPublic.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string TemporaryLinkName() {
    static thread_local std::mt19937_64 random(std::random_device{}() ^
                                               std::hash<std::thread::id>{}(std::this_thread::get_id()));
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name(CopyTemporaryPrefix);
    for (int i = 0; i < 6; ++i) {
        name.push_back(letters[random() % (sizeof letters - 1)]);
    }
    return name;
}

int ReadLinkTextAt(int folderFd, const char* name, std::string& text) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = readlinkat(folderFd, name, buffer.data(), buffer.size());
        if (n < 0) {
            return errno;
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            text.assign(buffer.data(), static_cast<std::size_t>(n));
            return 0;
        }
        buffer.resize(buffer.size() * 4);
    }
}

} // namespace

TFileFacts ReadFileFactsNoFollow(const std::string& path, bool& isLink) {
    TFileFacts facts;
    struct stat st {};
    isLink = false;
    // A trailing delimiter would make the look-up follow a link.
    std::string plain = path;
    while (plain.size() > 1 && plain.back() == PathDelim) {
        plain.pop_back();
    }
    if (lstat(plain.c_str(), &st) != 0) {
        facts.FError = MeansAbsent(errno) ? 0 : errno;
        return facts;
    }
    facts.FExists = true;
    isLink = S_ISLNK(st.st_mode);
    facts.FIsFolder = S_ISDIR(st.st_mode);
    facts.FModified = LocalDateTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    facts.FSize = facts.FIsFolder ? 0 : static_cast<std::int64_t>(st.st_size);
    return facts;
}

namespace {

std::atomic<unsigned long> LookupGeneration{0};

} // namespace

void ForgetLinkLookups() {
    ++LookupGeneration;
}

bool NoLinkOnTheWay(const std::string& root, std::string_view relative) {
    const std::size_t end = relative.find_last_of(PathDelim, relative.size() >= 2 ? relative.size() - 2 : 0);
    if (relative.empty() || end == std::string_view::npos) {
        return true; // directly below the root
    }
    const std::string_view folder = relative.substr(0, end + 1);
    struct TLast {
        unsigned long FGeneration = 0;
        std::string FRoot;
        std::string FFolder;
        bool FReal = false;
    };
    static thread_local TLast last;
    const unsigned long generation = LookupGeneration.load(std::memory_order_relaxed);
    if (last.FGeneration == generation && last.FFolder == folder && last.FRoot == root) {
        return last.FReal;
    }
    bool real = true;
    std::string path = root;
    std::size_t start = 0;
    while (real && start < folder.size()) {
        const std::size_t slash = folder.find(PathDelim, start);
        path.append(folder.substr(start, slash - start));
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            break; // nothing there: no link on the way either
        }
        real = !S_ISLNK(st.st_mode);
        path.push_back(PathDelim);
        start = slash + 1;
    }
    last.FGeneration = generation;
    last.FRoot = root;
    last.FFolder.assign(folder);
    last.FReal = real;
    return real;
}

int ReadLinkText(const std::string& path, std::string& text) {
    return ReadLinkTextAt(AT_FDCWD, path.c_str(), text);
}

bool LinkAwareCounterpartIsMissing(const std::string& targetEntry, std::string_view relative,
                                   const std::string& sourceRoot, int& error) {
    error = 0;
    if (!NoLinkOnTheWay(sourceRoot, relative)) {
        return true; // the source has a link or a file where the target has a folder
    }
    std::string counterpart = sourceRoot;
    counterpart.append(relative);
    bool sourceIsLink = false;
    const TFileFacts source = ReadFileFactsNoFollow(counterpart, sourceIsLink);
    if (source.FError != 0) {
        error = source.FError;
        return false;
    }
    if (!source.FExists) {
        return true;
    }
    if (TFmCustomPublic::IsFolderEntry(targetEntry)) {
        return !source.FIsFolder; // a link or a file in the source replaces the folder's contents
    }
    if (IsLinkPath(targetEntry)) {
        return false; // the new or the update phase replaces it
    }
    return source.FIsFolder;
}

bool IsLinkAt(int folderFd, const std::string& name) {
    struct stat st {};
    return fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

bool IsLinkPath(const std::string& path) {
    return IsLinkAt(AT_FDCWD, path);
}

std::string CopyLinkAt(const std::string& sourceLink, int folderFd, const std::string& name,
                       bool failIfExists) {
    struct stat source {};
    if (lstat(sourceLink.c_str(), &source) != 0) {
        return ErrorText(errno);
    }
    if (!S_ISLNK(source.st_mode)) {
        return "the source is no longer a symbolic link";
    }
    std::string text;
    if (const int error = ReadLinkText(sourceLink, text); error != 0) {
        return ErrorText(error);
    }
    struct stat existing {};
    if (failIfExists && fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        return ErrorText(EEXIST);
    }
    std::string temporary;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = TemporaryLinkName();
        if (symlinkat(text.c_str(), folderFd, temporary.c_str()) == 0) {
            break;
        }
        if (errno != EEXIST) {
            return ErrorText(errno);
        }
        temporary.clear();
    }
    if (temporary.empty()) {
        return ErrorText(EEXIST);
    }
    const timespec times[2] = {source.st_atim, source.st_mtim};
    utimensat(folderFd, temporary.c_str(), times, AT_SYMLINK_NOFOLLOW); // the time is not compared
    const auto fail = [&](int error) {
        unlinkat(folderFd, temporary.c_str(), 0);
        return error == EISDIR || error == ENOTEMPTY ? ReasonFolderStandsThere : ErrorText(error);
    };
    if (failIfExists) {
        if (renameat2(folderFd, temporary.c_str(), folderFd, name.c_str(), RENAME_NOREPLACE) == 0) {
            return {};
        }
        if ((errno != EINVAL && errno != ENOSYS) ||
            linkat(folderFd, temporary.c_str(), folderFd, name.c_str(), 0) != 0) {
            return fail(errno);
        }
        unlinkat(folderFd, temporary.c_str(), 0);
        return {};
    }
    if (renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) == 0) {
        return {};
    }
    if (errno == EISDIR && unlinkat(folderFd, name.c_str(), AT_REMOVEDIR) == 0 &&
        renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) == 0) {
        return {}; // an empty folder made way for the link
    }
    return fail(errno == EEXIST ? EISDIR : errno);
}

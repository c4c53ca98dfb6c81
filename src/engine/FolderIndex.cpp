#include "FolderIndex.h"

#include "config/AsciiCase.h"
#include "config/CustomPublic.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Blanks and control characters (everything up to and including the space)
// are cut from both ends.
std::string TrimBlanksAndControls(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') {
        ++begin;
    }
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') {
        --end;
    }
    return text.substr(begin, end - begin);
}

struct TDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using TDirHandle = std::unique_ptr<DIR, TDirCloser>;

// How a listed name is walked. A symbolic link to a folder is skipped: it is
// neither listed nor entered, so links cannot lead the walk into a loop or out
// of the tree. Anything else that is not a folder (a link to a file, a dangling
// link, a pipe) counts as a file.
enum class EEntryKind : char { File = 'f', Folder = 'd', Skipped = 's' };

EEntryKind KindOfLinkTarget(int folderFd, const char* name) {
    struct stat target {};
    if (fstatat(folderFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode)) {
        return EEntryKind::Skipped;
    }
    return EEntryKind::File;
}

EEntryKind KindOfEntry(int folderFd, const dirent& entry) {
    switch (entry.d_type) {
    case DT_DIR:
        return EEntryKind::Folder;
    case DT_LNK:
        return KindOfLinkTarget(folderFd, entry.d_name);
    case DT_UNKNOWN: {
        // Some file systems leave the type out of the listing.
        struct stat st {};
        if (fstatat(folderFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return EEntryKind::File; // gone meanwhile: no folder there
        }
        if (S_ISDIR(st.st_mode)) {
            return EEntryKind::Folder;
        }
        return S_ISLNK(st.st_mode) ? KindOfLinkTarget(folderFd, entry.d_name) : EEntryKind::File;
    }
    default:
        return EEntryKind::File;
    }
}

// One index run: the prepared filters, the switches and the path of the folder
// being listed. Everything lives here, so concurrent runs share nothing.
class TFolderIndexWalk {
public:
    TFolderIndexWalk(const std::string& includeTypes, const std::string& excludeTypes,
                     const std::string& includePaths, const std::string& excludePaths, TStringList& index,
                     bool includeFolders, bool targetPass, bool recurse, const TStopTest& stopRequested)
        : FIncludeTypes(LowerAscii(includeTypes)), FExcludeTypes(TrimBlanksAndControls(excludeTypes)),
          FIndex(index), FIncludeFolders(includeFolders), FTargetPass(targetPass), FRecurse(recurse),
          FStopRequested(stopRequested) {
        FExcludeTypes = LowerAscii(FExcludeTypes);
        TFmCustomPublic::SplitKeywords(includePaths, FIncludePaths, "|");
        TFmCustomPublic::SplitKeywords(excludePaths, FExcludePaths, "|");
    }

    void Run(const std::string& root) {
        if (root.empty()) {
            return; // no folder is named
        }
        // The relative folder paths start at the root's own trailing delimiter.
        FRootLength = root.size();
        if (root.back() == PathDelim) {
            --FRootLength;
        }
        FFolder = root;
        if (FFolder.back() != PathDelim) {
            FFolder.push_back(PathDelim);
        }
        ScanFolder(true);
    }

private:
    // Lists the folder whose path (with trailing delimiter) is FFolder and
    // handles its entries in listing order; FFolder is the same on return.
    void ScanFolder(bool isRoot) {
        if (StopRequestedBy(FStopRequested)) {
            return;
        }
        // The whole listing is read and the folder closed before its entries
        // are handled, so one folder is open at a time however deep the tree.
        // Each record is the entry's kind followed by its name and a NUL.
        std::string listing;
        {
            // A subfolder that has become a link since its parent was listed is not followed.
            const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW);
            const int fd = open(FFolder.c_str(), flags);
            if (fd < 0) {
                return; // missing or unreadable: no entries
            }
            TDirHandle dir(fdopendir(fd));
            if (!dir) {
                close(fd);
                return;
            }
            while (const dirent* entry = readdir(dir.get())) {
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                    continue;
                }
                listing.push_back(static_cast<char>(KindOfEntry(fd, *entry)));
                listing.append(name);
                listing.push_back('\0');
            }
        }

        const std::size_t folderLength = FFolder.size();
        for (std::size_t at = 0; at < listing.size();) {
            const auto kind = static_cast<EEntryKind>(listing[at]);
            const std::string_view name(listing.data() + at + 1);
            at += name.size() + 2;
            if (kind == EEntryKind::File) {
                AddFileEntry(name);
                continue;
            }
            if (kind == EEntryKind::Skipped) {
                continue;
            }
            FFolder.append(name);
            FFolder.push_back(PathDelim);
            if (PassesPathTest()) {
                if (FIncludeFolders && !FTargetPass) {
                    FIndex.push_back(FFolder);
                }
                if (FRecurse) {
                    ScanFolder(false);
                }
                if (FIncludeFolders && FTargetPass) {
                    FIndex.push_back(FFolder);
                }
            }
            FFolder.resize(folderLength);
        }
    }

    // The type test: the lower-cased extension without its dot must occur in the
    // include-types text (when there is one) and not in the exclude-types text,
    // as a plain substring of the whole text. An empty extension occurs nowhere.
    void AddFileEntry(std::string_view name) {
        const std::size_t dot = name.rfind('.');
        std::string_view extension;
        if (dot != std::string_view::npos) {
            extension = name.substr(dot + 1);
        }
        bool passes;
        if (extension.empty()) {
            passes = FIncludeTypes.empty();
        } else {
            FExtension.assign(extension);
            for (char& c : FExtension) {
                c = LowerAscii(c);
            }
            passes = (FIncludeTypes.empty() || FIncludeTypes.find(FExtension) != std::string::npos) &&
                     FExcludeTypes.find(FExtension) == std::string::npos;
        }
        if (!passes) {
            return;
        }
        std::string entry;
        entry.reserve(FFolder.size() + name.size());
        entry.append(FFolder);
        entry.append(name);
        FIndex.push_back(std::move(entry));
    }

    // The path test of the folder in FFolder, on its path below the root with
    // the delimiter at both ends, such as "/img/2005/".
    bool PassesPathTest() const {
        if (FIncludePaths.empty() && FExcludePaths.empty()) {
            return true;
        }
        const std::string relative = FFolder.substr(FRootLength);
        if (!FIncludePaths.empty() && !TFmCustomPublic::ContainsAnyKeyword(relative, &FIncludePaths)) {
            return false;
        }
        return FExcludePaths.empty() || !TFmCustomPublic::ContainsAnyKeyword(relative, &FExcludePaths);
    }

    const std::string FIncludeTypes;
    std::string FExcludeTypes;
    TStringList FIncludePaths;
    TStringList FExcludePaths;
    TStringList& FIndex;
    const bool FIncludeFolders;
    const bool FTargetPass;
    const bool FRecurse;
    const TStopTest& FStopRequested;
    std::size_t FRootLength = 0;
    std::string FFolder;    // the folder being listed, with trailing delimiter
    std::string FExtension; // scratch for the type test
};

} // namespace

void BuildFolderIndex(const std::string& root, const std::string& includeTypes,
                      const std::string& excludeTypes, const std::string& includePaths,
                      const std::string& excludePaths, TStringList& index, bool includeFolders,
                      bool targetPass, bool recurse, const TStopTest& stopRequested) {
    index.clear();
    TFolderIndexWalk walk(includeTypes, excludeTypes, includePaths, excludePaths, index, includeFolders,
                          targetPass, recurse, stopRequested);
    walk.Run(root);
}

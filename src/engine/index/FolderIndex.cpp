#include "FolderIndex.h"

#include "config/AsciiCase.h"
#include "config/CustomPublic.h"
#include "config/FileFacts.h"
#include "engine/volume/Volume.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>
#include <vector>

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

// How a listed name is walked. A symbolic link to a folder is skipped: it is
// neither listed nor entered, so links cannot lead the walk into a loop or out
// of the tree. Pipes, sockets and devices are skipped too: only regular files
// can be copied, and opening a pipe could wait forever. A dangling link counts
// as a file (it can be deleted as surplus, and is gone by the time a source
// copy would read it). Unknown means the entry could not be examined.
enum class EEntryKind : char { File = 'f', Folder = 'd', Skipped = 's', Unknown = 'u' };

EEntryKind KindOfListed(TListedKind kind) {
    switch (kind) {
    case TListedKind::File:
        return EEntryKind::File;
    case TListedKind::Folder:
        return EEntryKind::Folder;
    case TListedKind::Unknown:
        return EEntryKind::Unknown;
    default:
        return EEntryKind::Skipped;
    }
}

EEntryKind KindOfEntry(const TListedEntry& entry, TLinkMode links) {
    if (entry.FKind != TListedKind::Link) {
        return KindOfListed(entry.FKind);
    }
    switch (links) {
    case TLinkMode::Link:
        return EEntryKind::File; // an entry of its own, never followed
    case TLinkMode::Skip:
        return EEntryKind::Skipped;
    case TLinkMode::File:
        break;
    }
    switch (entry.FTarget) {
    case TListedKind::File:
    case TListedKind::Missing:
        return EEntryKind::File; // a dangling link counts as a file
    case TListedKind::Unknown:
        return EEntryKind::Unknown;
    default:
        return EEntryKind::Skipped;
    }
}

// One listed name: where it lies in the listing buffer, its kind, and the
// errno of an entry that could not be examined.
struct TListedName {
    std::size_t FOffset;
    std::size_t FLength;
    EEntryKind FKind;
    int FError;
};

// One index run: the prepared filters, the switches and the path of the folder
// being listed. Everything lives here, so concurrent runs share nothing.
class TFolderIndexWalk {
public:
    TFolderIndexWalk(TVolume& volume, const std::string& includeTypes, const std::string& excludeTypes,
                     const std::string& includePaths, const std::string& excludePaths, TStringList& index,
                     bool includeFolders, bool targetPass, bool recurse, const TStopTest& stopRequested,
                     std::vector<TItemFailure>* errors, TLinkMode links, bool relative)
        : FVolume(volume), FIncludeTypes(LowerAscii(includeTypes)),
          FExcludeTypes(TrimBlanksAndControls(excludeTypes)), FIndex(index), FIncludeFolders(includeFolders),
          FTargetPass(targetPass), FRecurse(recurse), FStopRequested(stopRequested), FErrors(errors),
          FLinks(links), FRelative(relative) {
        FExcludeTypes = LowerAscii(FExcludeTypes);
        TFmCustomPublic::SplitKeywords(includePaths, FIncludePaths, "|");
        TFmCustomPublic::SplitKeywords(excludePaths, FExcludePaths, "|");
    }

    bool Run(const std::string& root) {
        if (root.empty()) {
            return true; // no folder is named
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
        FEntryStart = FRelative ? FFolder.size() : 0;
        FVolumeStart = FFolder.size();
        ScanFolder(true);
        return !FStopped;
    }

private:
    void AddError(const std::string& path, int error) {
        if (FErrors != nullptr) {
            FErrors->push_back({path, ErrorText(error)});
        }
    }

    // Lists the folder whose path (with trailing delimiter) is FFolder and
    // handles its entries in name order; FFolder is the same on return.
    void ScanFolder(bool isRoot) {
        if (StopRequestedBy(FStopRequested)) {
            FStopped = true;
            return;
        }
        // The whole listing is read and the folder closed before its entries
        // are handled, so one folder is open at a time however deep the tree.
        // A subfolder that has become a link since its parent was listed is not followed.
        TFolderListing& listing = FListing;
        const int error = FVolume.ListFolder(nullptr, std::string_view(FFolder).substr(FVolumeStart), false,
                                             FLinks == TLinkMode::File, listing);
        if (error != 0 && listing.FEntries.empty()) {
            // A missing folder has no entries; a subfolder that has become a
            // link or a file since its parent was listed is no folder any more.
            if (error != ENOENT && (isRoot || (error != ENOTDIR && error != ELOOP))) {
                AddError(FFolder, error);
            }
            return;
        }
        if (error != 0) {
            AddError(FFolder, error); // the listing broke off: the folder is not fully known
        }
        std::string nameText; // the names one after the other, kept while the subfolders are walked
        nameText.swap(listing.FNames);
        std::vector<TListedName> names;
        names.reserve(listing.FEntries.size());
        for (const TListedEntry& entry : listing.FEntries) {
            const EEntryKind kind = KindOfEntry(entry, FLinks);
            if (kind != EEntryKind::Skipped) {
                names.push_back({entry.FOffset, entry.FLength, kind, entry.FError});
            }
        }
        const auto nameOf = [&nameText](const TListedName& listed) {
            return std::string_view(nameText.data() + listed.FOffset, listed.FLength);
        };
        // Byte order of the names: the listing order differs between file systems and runs.
        std::sort(names.begin(), names.end(),
                  [&](const TListedName& a, const TListedName& b) { return nameOf(a) < nameOf(b); });

        const std::size_t folderLength = FFolder.size();
        for (const TListedName& listed : names) {
            const std::string_view name = nameOf(listed);
            const bool isFolder = listed.FKind == EEntryKind::Folder;
            // The longest path the system takes, counted with its final NUL.
            if (folderLength + name.size() + (isFolder ? 1 : 0) + 1 > PATH_MAX) {
                std::string path = FFolder;
                path.append(name);
                if (isFolder) {
                    path.push_back(PathDelim);
                }
                AddError(path, ENAMETOOLONG);
                continue;
            }
            if (listed.FKind == EEntryKind::Unknown) {
                AddError(FFolder + std::string(name), listed.FError);
                continue;
            }
            if (listed.FKind == EEntryKind::File) {
                AddFileEntry(name);
                continue;
            }
            FFolder.append(name);
            FFolder.push_back(PathDelim);
            if (PassesPathTest()) {
                if (FIncludeFolders && !FTargetPass) {
                    FIndex.emplace_back(FFolder, FEntryStart);
                }
                if (FRecurse) {
                    ScanFolder(false);
                }
                if (FIncludeFolders && FTargetPass) {
                    FIndex.emplace_back(FFolder, FEntryStart);
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
        entry.reserve(FFolder.size() - FEntryStart + name.size());
        entry.append(FFolder, FEntryStart);
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

    TVolume& FVolume;
    TFolderListing FListing;      // reused from folder to folder
    std::size_t FVolumeStart = 0; // where the path below the volume's root starts in FFolder
    const std::string FIncludeTypes;
    std::string FExcludeTypes;
    TStringList FIncludePaths;
    TStringList FExcludePaths;
    TStringList& FIndex;
    const bool FIncludeFolders;
    const bool FTargetPass;
    const bool FRecurse;
    const TStopTest& FStopRequested;
    std::vector<TItemFailure>* FErrors;
    const TLinkMode FLinks;
    bool FStopped = false;
    std::size_t FRootLength = 0;
    const bool FRelative;
    std::size_t FEntryStart = 0; // where an entry's text starts in a full path
    std::string FFolder;         // the folder being listed, with trailing delimiter
    std::string FExtension;      // scratch for the type test
};

} // namespace

bool BuildFolderIndex(TVolume& volume, const std::string& includeTypes, const std::string& excludeTypes,
                      const std::string& includePaths, const std::string& excludePaths, TStringList& index,
                      bool includeFolders, bool targetPass, bool recurse, const TStopTest& stopRequested,
                      std::vector<TItemFailure>* errors, TLinkMode links, bool relative) {
    index.clear();
    TFolderIndexWalk walk(volume, includeTypes, excludeTypes, includePaths, excludePaths, index,
                          includeFolders, targetPass, recurse, stopRequested, errors, links, relative);
    return walk.Run(volume.Root());
}

bool BuildFolderIndex(const std::string& root, const std::string& includeTypes,
                      const std::string& excludeTypes, const std::string& includePaths,
                      const std::string& excludePaths, TStringList& index, bool includeFolders,
                      bool targetPass, bool recurse, const TStopTest& stopRequested,
                      std::vector<TItemFailure>* errors, TLinkMode links, bool relative) {
    if (root.empty()) {
        index.clear();
        return true; // no folder is named
    }
    const std::shared_ptr<TVolume> volume = OpenVolume(root);
    return BuildFolderIndex(*volume, includeTypes, excludeTypes, includePaths, excludePaths, index,
                            includeFolders, targetPass, recurse, stopRequested, errors, links, relative);
}

int FolderListingError(const std::string& folder) {
    TFolderListing listing;
    return OpenVolume(folder)->ListFolder(nullptr, "", false, false, listing);
}

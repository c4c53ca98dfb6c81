#include "VersionList.h"

#include "config/CustomPublic.h"
#include "config/FileFacts.h"
#include "engine/volume/RootedPath.h"
#include "engine/volume/Volume.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

// Adds every file below folder, at relative path prefix.
void CollectFiles(TVolume& volume, const TVolumeFolder& folder, const std::string& folderPath,
                  const std::string& prefix, TVersionFile& model, std::vector<TVersionFile>& versions,
                  std::vector<TItemFailure>* errors) {
    TFolderListing listing;
    if (const int error = volume.ListFolder(&folder, "", true, false, listing); error != 0) {
        if (errors != nullptr) {
            errors->push_back({folderPath, ErrorText(error)});
        }
        return;
    }
    for (const TListedEntry& entry : listing.FEntries) {
        if (entry.FError != 0) {
            continue; // gone meanwhile, or not to be examined
        }
        const std::string name(listing.NameOf(entry));
        if (entry.FKind == TListedKind::Folder) {
            int error = 0;
            const TFolderRef child = volume.OpenFolderAt(&folder, name, error);
            if (!child) {
                if (errors != nullptr) {
                    errors->push_back({folderPath + name + PathDelim, ErrorText(error)});
                }
                continue;
            }
            CollectFiles(volume, *child, folderPath + name + PathDelim, prefix + name + PathDelim, model,
                         versions, errors);
        } else if (entry.FKind == TListedKind::File || entry.FKind == TListedKind::Link) {
            model.FPath = prefix + name;
            model.FSize = entry.FSize;
            versions.push_back(model);
        }
    }
}

bool RunIsEarlier(const TVersionFile& a, const TVersionFile& b) {
    return a.FStart != b.FStart ? a.FStart < b.FStart : a.FSequence < b.FSequence;
}

} // namespace

std::vector<TVersionFile> ListVersions(const std::string& versionRoot, std::vector<TItemFailure>* errors) {
    std::vector<TVersionFile> versions;
    const std::shared_ptr<TVolume> volume = OpenVolume(WithTrailingDelimiter(versionRoot));
    TFolderListing runs;
    if (const int error = volume->ListFolder(nullptr, "", false, false, runs); error != 0) {
        if (error != ENOENT && errors != nullptr) {
            errors->push_back({versionRoot, ErrorText(error)});
        }
        if (runs.FEntries.empty()) {
            return versions;
        }
    }
    for (const TListedEntry& entry : runs.FEntries) {
        const std::string run(runs.NameOf(entry));
        const std::optional<TRunFolderName> parsed = ParseRunFolderName(run);
        if (!parsed) {
            continue;
        }
        int error = 0;
        const TFolderRef runFolder = volume->OpenFolderAt(nullptr, run, error);
        if (!runFolder) {
            if (error != ENOTDIR && error != ELOOP && errors != nullptr) {
                errors->push_back({versionRoot + run + PathDelim, ErrorText(error)});
            }
            continue;
        }
        TVersionFile model;
        model.FRunFolder = run;
        model.FStart = parsed->FStart;
        model.FSequence = parsed->FSequence;
        CollectFiles(*volume, *runFolder, versionRoot + run + PathDelim, "", model, versions, errors);
    }
    std::sort(versions.begin(), versions.end(), [](const TVersionFile& a, const TVersionFile& b) {
        return a.FPath != b.FPath ? a.FPath < b.FPath : RunIsEarlier(a, b);
    });
    return versions;
}

std::optional<TVersionFile> FindVersion(const std::vector<TVersionFile>& versions, const std::string& path,
                                        std::optional<TDateTime> at) {
    std::optional<TVersionFile> found;
    for (const TVersionFile& version : versions) {
        if (version.FPath == path && (!at || version.FStart <= *at) &&
            (!found || RunIsEarlier(*found, version))) {
            found = version;
        }
    }
    return found;
}

bool IsVersionOf(const std::string& path, const std::string& filter) {
    std::string folder = filter;
    while (!folder.empty() && folder.back() == PathDelim) {
        folder.pop_back();
    }
    if (folder.empty() || path == folder) {
        return true;
    }
    folder.push_back(PathDelim);
    return path.compare(0, folder.size(), folder) == 0;
}

std::string FormatVersionTime(TDateTime start) {
    const TDateTimeFields f = DecodeDateTime(start);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.FYear, f.FMonth, f.FDay, f.FHour,
                  f.FMinute, f.FSecond);
    return text;
}

std::string RestoreVersion(const std::string& versionRoot, const TVersionFile& version,
                           const std::string& destinationRoot, TVersionStore& store) {
    const std::string runPath = WithTrailingDelimiter(versionRoot) + version.FRunFolder;
    const std::shared_ptr<TVolume> versions = OpenVolume(WithTrailingDelimiter(versionRoot));
    std::string name;
    int error = 0;
    const TFolderRef sourceFolder = versions->OpenParent(version.FRunFolder + PathDelim + version.FPath,
                                                         TFolderWalk::Existing, name, error);
    if (!sourceFolder) {
        return runPath + PathDelim + version.FPath + ": " + WalkErrorText(error);
    }
    const std::string root = WithTrailingDelimiter(destinationRoot);
    const std::shared_ptr<TVolume> destination = OpenVolume(root);
    std::string targetName;
    TFolderRef targetFolder;
    error = destination->MakeRoot(false); // the last folder of --to may be new
    if (error == 0) {
        targetFolder = destination->OpenParent(version.FPath, TFolderWalk::Create, targetName, error);
    }
    if (!targetFolder) {
        return root + version.FPath + ": " + WalkErrorText(error);
    }
    const TEntryFacts facts = versions->FactsAt(*sourceFolder, name);
    if (!facts.FExists) {
        return runPath + PathDelim + version.FPath + ": " +
               ErrorText(facts.FError != 0 ? facts.FError : ENOENT);
    }
    TVersionKeeper keeper(store, *destination, version.FPath);
    if (facts.FIsLink) {
        // A link is put back as a link.
        std::string text;
        if (const int linkError = versions->ReadLinkAt(*sourceFolder, name, text); linkError != 0) {
            return ErrorText(linkError);
        }
        if (std::string why = keeper.Keep(*targetFolder, targetName); !why.empty()) {
            return root + version.FPath + ": " + why;
        }
        if (const int linkError =
                destination->MakeLink(*targetFolder, targetName, text, facts.FModifiedNs, false);
            linkError != 0) {
            keeper.PutBack(*targetFolder, targetName);
            return root + version.FPath + ": " + ErrorText(linkError);
        }
        return {};
    }
    bool notRegular = false;
    const std::unique_ptr<TReadableFile> source =
        versions->OpenFileAt(*sourceFolder, name, error, notRegular);
    if (!source) {
        return runPath + PathDelim + version.FPath + ": " +
               (notRegular ? std::string("not a regular file") : ErrorText(error));
    }
    TWriteOptions options;
    options.FReplaced = &keeper;
    std::string reason;
    if (!destination->WriteFile(*targetFolder, targetName, *source, options, reason)) {
        return root + version.FPath + ": " + (reason.empty() ? "copy failed" : reason);
    }
    return {};
}

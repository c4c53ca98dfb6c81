#pragma once

#include "config/StringList.h"
#include "engine/project/Plan.h"
#include "engine/project/ProjectRecord.h"
#include "engine/project/StopTest.h"
#include "engine/volume/Volume.h"

#include <string>
#include <vector>

// Fills index with the full paths of everything below root that passes the
// keyword filters, depth first, each folder's entries in byte order of their
// names (so a plan comes out the same on every run and machine). Folder
// entries end with the path delimiter and appear only with includeFolders;
// without targetPass a folder's entry precedes its contents, with it the entry
// follows them. stopRequested is tested at every folder; once it reports a
// stop, no further folder is listed and false is returned.
//
// Only regular files, links to them and folders are listed: pipes, sockets and
// devices are not. Symbolic links to folders are neither listed nor entered.
// That is links = File; with Link every symbolic link is listed as an entry of
// its own (without a trailing delimiter) and never entered, with Skip no link
// is listed. With relative the entries leave out the root and its delimiter
// ("img/logo.gif"): a big tree's index then takes far less memory. Errors
// always name full paths.
// Temporary files of an interrupted copy are never listed.
//
// A missing root gives no entries and no error. A folder that cannot be listed
// for any other reason, an entry whose kind cannot be read and a path longer
// than the system allows are not left out in silence: each goes into errors
// (when given) with its path (a folder's with the trailing delimiter) and the
// system's message, so that a caller never takes them for empty or absent.
bool BuildFolderIndex(const std::string& root, const std::string& includeTypes,
                      const std::string& excludeTypes, const std::string& includePaths,
                      const std::string& excludePaths, TStringList& index, bool includeFolders,
                      bool targetPass, bool recurse, const TStopTest& stopRequested = {},
                      std::vector<TItemFailure>* errors = nullptr, TLinkMode links = TLinkMode::File,
                      bool relative = false);

// The same over a volume: the entries' full paths start with its root.
bool BuildFolderIndex(TVolume& volume, const std::string& includeTypes, const std::string& excludeTypes,
                      const std::string& includePaths, const std::string& excludePaths, TStringList& index,
                      bool includeFolders, bool targetPass, bool recurse, const TStopTest& stopRequested = {},
                      std::vector<TItemFailure>* errors = nullptr, TLinkMode links = TLinkMode::File,
                      bool relative = false);

// 0 when the folder can be opened and listed, else the errno that prevents it.
int FolderListingError(const std::string& folder);

#pragma once

#include "StopTest.h"
#include "config/StringList.h"

#include <string>

// Fills index with the full paths of everything below root that passes the
// keyword filters, depth first in directory-listing order. Folder entries end
// with the path delimiter and appear only with includeFolders; without
// targetPass a folder's entry precedes its contents, with it the entry follows
// them. A missing or unreadable root or folder gives no entries. stopRequested
// is tested at every folder; once it reports a stop, no further folder is listed.
// Symbolic links to folders are neither listed nor entered; links to files are files.
void BuildFolderIndex(const std::string& root, const std::string& includeTypes,
                      const std::string& excludeTypes, const std::string& includePaths,
                      const std::string& excludePaths, TStringList& index, bool includeFolders,
                      bool targetPass, bool recurse, const TStopTest& stopRequested = {});

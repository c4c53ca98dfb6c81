#pragma once

#include "Apply.h"
#include "config/StringList.h"

#include <string>

// A source link where the target holds a folder with contents: with the
// delete phase on, everything in that folder is surplus, and goes before the
// link takes the folder's place.

// The entries of the target folder at line (relative to the target root), as
// delete lines: contents before their folder, links listed and never
// followed, no keyword filter, the version folder left out. Sets reason when
// part of the folder cannot be listed; nothing is then to be deleted.
TStringList DeleteLinesBelowFolder(const TApplyOptions& options, const std::string& line,
                                   std::string& reason);

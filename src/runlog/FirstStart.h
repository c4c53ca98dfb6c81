#pragma once

#include "config/ProgramFolders.h"

// The window's start: makes the folder of the default configuration and the
// log folder with its viewer and list, so an installed program's first start
// finds its folders in place and its log page shows. Best effort: whatever
// fails here is reported when the file is written.
void PrepareProgramFolders(const TProgramFolders& folders);

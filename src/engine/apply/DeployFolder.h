#pragma once

#include <string>

// The deploy folder of an interactive synchronisation. A folder that is not
// there yet is made, as a scheduled run makes it, but only one level deep: a
// missing parent is more likely a typing error than a wish for a new tree.
//
// Whether the folder can take the run: a blank text, a path whose parent
// folder is missing, or a path that exists and is not a folder cannot.
bool DeployFolderAcceptable(const std::string& typed, const std::string& resolved);
// Makes the folder when it is missing; true when it is a folder afterwards.
bool PrepareDeployFolder(const std::string& resolved);

#pragma once

#include "engine/project/ProjectRecord.h"

// Gives the project's "SshCommand" to the volumes opened later at its folders
// on other machines (source, target, deploy and version folder). Whatever
// opens a stored project's folders calls it first.
void RememberProjectSshCommand(const TProjectRecord& project);

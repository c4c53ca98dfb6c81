#pragma once

#include <QString>
#include <string>

// One window per configuration and user: the lock file in the user's runtime
// folder that a window holds for as long as it runs. Every name by which the
// configuration is reached (a symbolic link, a relative path) gives the same
// lock; two configurations give two.
QString InstanceLockFileName(const std::string& configFileName);

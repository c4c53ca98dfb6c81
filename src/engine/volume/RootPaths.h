#pragma once

#include <string>

// Where roots really lie, to tell whether one folder holds another: links
// resolved, as the system resolves them.

// The real path of an existing folder or file; empty when it cannot be resolved.
std::string RealPathOf(const std::string& path);

// The path with links resolved as far as it exists; the names below the
// nearest existing folder are appended as they are ("." and ".." worked out).
std::string CanonicalPath(const std::string& path);

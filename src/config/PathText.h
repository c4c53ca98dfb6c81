#pragma once

#include <string>

// The folder part of a path, without a trailing delimiter ("." when the path
// names no folder, "/" for a name in the root).
std::string ExtractFileDir(const std::string& path);

// The folder of the running program.
std::string ExecutableFolder();

// The configuration file that the window and the command-line tool share:
// "pairwell.ini" beside the programs.
std::string DefaultConfigFileName();

#pragma once

#include <string>

// The folder part of a path, without a trailing delimiter ("." when the path
// names no folder, "/" for a name in the root).
std::string ExtractFileDir(const std::string& path);

// The folder of the running program.
std::string ExecutableFolder();

// The configuration file that the window and the command-line tool share:
// "pairwell.ini" beside the programs, or in the user's configuration folder
// for an installed program (ProgramFolders).
std::string DefaultConfigFileName();

// A relative path taken from the folder of baseFile (a configuration file
// names its folders relative to itself); an absolute or blank path as it is.
std::string ResolveBeside(const std::string& baseFile, const std::string& path);

// Why path names no folder ("does not exist", "not a folder", "permission
// denied" on the way to it, or the system's message); empty when it names one.
// Whether the folder can be listed is a question for the listing itself.
std::string FolderProblem(const std::string& path);
// Why path is not a regular file ("does not exist", "is a folder", "not a
// regular file", ...); empty when it is one.
std::string RegularFileProblem(const std::string& path);

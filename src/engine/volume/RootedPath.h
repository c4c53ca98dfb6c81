#pragma once

#include <string>

// Writes and deletes of an apply stay below their root: the folders of a plan
// line are walked one at a time from the root's descriptor and never through a
// symbolic link, so a link inside the target (or the deploy folder) where the
// plan expects a folder can never lead a write or a delete outside.

// Opens the folder that holds the last name of the relative line (a trailing
// delimiter is ignored), starting at rootFd; with create, missing folders on
// the way are made. Returns the descriptor and sets lastName, or returns -1
// with errno set (ELOOP for a link on the way, ENOTDIR for a file on the way).
// With replaceLinks (and create) a link on the way is removed, never followed,
// and a folder made in its place.
int OpenParentBelowRoot(int rootFd, const std::string& line, bool create, std::string& lastName,
                        bool replaceLinks = false);

// The folder part of the line (its names but the last, joined by the
// delimiter) and its last name; false for a line without names.
bool SplitPlanLine(const std::string& line, std::string& folder, std::string& lastName);

// The reason text of a failed walk or write: the system's message, with a
// plainer one for a link where a folder was expected.
std::string WalkErrorText(int error);

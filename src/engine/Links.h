#pragma once

#include "ProjectRecord.h"
#include "config/FileFacts.h"

#include <string>
#include <string_view>

// Symbolic links kept as links ("Links" = "link"): a link is an entry of its
// own, listed like a file (never with a trailing delimiter, whatever it points
// to), compared by its text and copied as a link with the same text. Nothing
// here ever follows a link, on either side.

// What a check knows about links at a source entry and its counterpart.
struct TLinkFacts {
    bool FSourceIsLink = false;
    bool FTargetIsLink = false; // the counterpart itself is a link
    bool FBehindLink = false;   // a link stands on the counterpart's way
    bool FSameText = false;     // both are links with the same text
};

// Facts of a path without following a link at its end: a link exists, and is
// neither a folder nor a regular file (isLink tells); its time is its own.
TFileFacts ReadFileFactsNoFollow(const std::string& path, bool& isLink);

// True when no folder of the relative line below root, all but its last name,
// is a symbolic link (one missing ends the look-up). Remembers the last
// folder asked on each thread, so that a folder's entries cost one look-up.
bool NoLinkOnTheWay(const std::string& root, std::string_view relative);
// What NoLinkOnTheWay remembers is forgotten on every thread (a check calls
// this as it starts: an apply may have replaced links since).
void ForgetLinkLookups();

// The text of the link at path: 0, or the errno of the failure.
int ReadLinkText(const std::string& path, std::string& text);

// The delete pass with "Links" = "link": whether the target entry (full path;
// relative is its part below the target root) has no source counterpart that
// the check keeps it for. A surplus link is deleted like a file; a link where
// the source has a file or a folder is replaced by the new phase, not deleted.
bool LinkAwareCounterpartIsMissing(const std::string& targetEntry, std::string_view relative,
                                   const std::string& sourceRoot, int& error);

// True when the entry name of the folder open as folderFd is a symbolic link.
bool IsLinkAt(int folderFd, const std::string& name);
bool IsLinkPath(const std::string& path);

// Why a link cannot take the place of a folder with contents.
inline const std::string ReasonFolderStandsThere = "a folder with contents stands where the link is to go";

// Makes the entry name of the folder open as folderFd a link with the text of
// the source link: a temporary link is made beside it with the source's time
// and renamed over the entry, so the entry is never missing half-way. An
// existing link or file is replaced, an empty folder too; a folder with
// contents fails the item with ReasonFolderStandsThere. With failIfExists anything there fails the item
// untouched. Returns the reason of a failure, or an empty text.
std::string CopyLinkAt(const std::string& sourceLink, int folderFd, const std::string& name,
                       bool failIfExists);

#pragma once

#include "engine/project/ProjectRecord.h"
#include "engine/volume/Volume.h"

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

// True when no folder of the relative line below the volume's root, all but
// its last name, is a symbolic link (one missing ends the look-up). Remembers
// the last folder asked on each thread, so that a folder's entries cost one look-up.
bool NoLinkOnTheWay(TVolume& volume, std::string_view relative);
// What NoLinkOnTheWay remembers is forgotten on every thread (a check calls
// this as it starts: an apply may have replaced links since).
void ForgetLinkLookups();

// The delete pass with "Links" = "link": whether the target entry (relative
// below both roots) has no source counterpart that the check keeps it for. A
// surplus link is deleted like a file; a link where the source has a file or
// a folder is replaced by the new phase, not deleted.
bool LinkAwareCounterpartIsMissing(TVolume& source, TVolume& target, std::string_view relative, int& error);

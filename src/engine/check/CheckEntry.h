#pragma once

#include "CheckSettings.h"
#include "Links.h"
#include "config/FileFacts.h"
#include "config/StringList.h"
#include "engine/project/StopTest.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// One entry of a check: what both sides hold at a path, and where the entry belongs.

// Error: the entry or its counterpart could not be examined, so it is in no list.
enum class TSourceVerdict { Skip, New, Update, Error };

// What a source entry's comparison needs to know about both sides. FError is
// the errno of the look-up that failed (of the source when FErrorOnSource).
struct TPairFacts {
    TFileFacts FSource;
    TFileFacts FCounterpart;
    int FError = 0;
    bool FErrorOnSource = false;
    TLinkFacts FLinks;            // only with links listed or skipped
    bool FContentDiffers = false; // only with the content comparison
};

// Reads both sides' facts of a source index entry (relative below both roots).
TPairFacts ReadEntryFacts(std::string_view relative, const TCheckSettings& settings);

// Where a source entry with these facts belongs.
TSourceVerdict Classify(bool isFolder, const TPairFacts& facts, const TCheckSettings& settings);

// The content comparison of a block of source entries (sourceIndex[begin + i]
// has facts[i]): pairs of existing files whose sizes agree are read and
// compared on several threads; false after a stop.
bool CompareCandidateContents(const TStringList& sourceIndex, std::size_t begin,
                              std::vector<TPairFacts>& facts, const TCheckSettings& settings,
                              const TStopTest& stop);

// Whether the source counterpart of a target entry (relative below both
// roots) is missing (or of the other kind); error gets the errno of a look-up
// that could not tell.
bool CounterpartIsMissing(std::string_view relative, const TCheckSettings& settings, int& error);

// Where one source index entry (a full path) belongs. A source file that is
// gone by the time it is compared is skipped; one that cannot be examined
// (or, with the equal-size rule, whose size cannot be read) is an error.
TSourceVerdict ClassifySourceEntry(const std::string& entry, const TCheckSettings& settings);
// Whether one target index entry has no source counterpart of its kind. A
// counterpart that cannot be examined is not taken for absent.
bool IsSurplusTargetEntry(const std::string& entry, const TCheckSettings& settings);

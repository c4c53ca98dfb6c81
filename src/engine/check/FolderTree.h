#pragma once

#include "engine/project/StopTest.h"
#include "engine/volume/Volume.h"

#include <cstdint>
#include <map>
#include <string>

// Modification times as a move compares them: in milliseconds, or in whole
// seconds where a volume keeps no finer time.
std::int64_t MoveTimeOf(std::int64_t modifiedNs, bool wholeSeconds);

struct TTreeEntry {
    bool FFolder = false;
    std::int64_t FSize = 0;
    std::int64_t FModified = 0; // MoveTimeOf the entry's time
    bool operator==(const TTreeEntry&) const = default;
};
// Relative below the folder; folders end with the path delimiter.
using TFolderTree = std::map<std::string, TTreeEntry>;

// Lists the tree below folder (relative to the volume's root, without a
// trailing delimiter) with the sizes and times of its files; false when
// something in it cannot be listed or is neither a file nor a folder, or
// after a stop.
bool ListFolderTree(TVolume& volume, const std::string& folder, bool wholeSeconds, TFolderTree& tree,
                    const TStopTest& stopRequested = {});

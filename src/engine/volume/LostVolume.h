#pragma once

#include "Volume.h"
#include "engine/project/LostFolder.h"

#include <memory>
#include <vector>

// The first of volumes (nulls are skipped) that is lost (TVolume::LostReason); none: not Lost().
TLostFolder FindLostVolume(const std::vector<std::shared_ptr<TVolume>>& volumes);

// A stop test that also stops once one of volumes is lost, so that a run ends
// rather than trying its remaining items one by one against a dead server.
TStopTest StopWhenLost(const TStopTest& stopRequested, std::vector<std::shared_ptr<TVolume>> volumes);

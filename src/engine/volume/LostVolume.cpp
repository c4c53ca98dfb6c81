#include "LostVolume.h"

TLostFolder FindLostVolume(const std::vector<std::shared_ptr<TVolume>>& volumes) {
    for (const std::shared_ptr<TVolume>& volume : volumes) {
        if (volume) {
            if (std::string reason = volume->LostReason(); !reason.empty()) {
                return {volume->Root(), std::move(reason)};
            }
        }
    }
    return {};
}

TStopTest StopWhenLost(const TStopTest& stopRequested, std::vector<std::shared_ptr<TVolume>> volumes) {
    return [stopRequested, volumes = std::move(volumes)] {
        return StopRequestedBy(stopRequested) || FindLostVolume(volumes).Lost();
    };
}

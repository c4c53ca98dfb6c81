#pragma once

#include "Apply.h"
#include "engine/volume/Volume.h"

#include <string>

// Why a link cannot take the place of a folder with contents.
inline const std::string ReasonFolderStandsThere = "a folder with contents stands where the link is to go";

// The item actions of one phase, all below the phase's root: the folders of a
// line are walked from the root's descriptor without following links, and the
// leftovers of killed copies go from each folder before the first copy into it.
// Each action returns the reason of a failure, or an empty text when the item
// was done.
class TPhaseItems {
public:
    // The options' volumes must be open (WithVolumes); the workers of a phase
    // share them, and so the sweeps of their folders.
    TPhaseItems(TApplyPhase phase, const TApplyOptions& options, const TStopTest& stopRequested);

    std::string Run(const std::string& line);
    // Run for a line of a plan: a line that leaves its root fails untouched,
    // and an error of the item is its reason; never raises.
    std::string RunLine(const std::string& line);

private:
    const TVolumeFolder* OpenParent(const std::string& line, bool create, std::string& name,
                                    std::string& reason);
    std::string Copy(const TVolumeFolder& folder, const std::string& line, const std::string& name,
                     bool failIfExists, TReplacedEntry* replaced = nullptr);
    std::string Create(const std::string& line);
    std::string Update(const std::string& line);
    std::string Delete(const std::string& line);
    std::string CopyLinkOverFolder(const TVolumeFolder& folder, const std::string& line,
                                   const std::string& name);

    const TApplyPhase FPhase;
    const TApplyOptions& FOptions;
    const TStopTest& FStopRequested;
    TVolume& FSource;
    // The target, or the write root's volume: where the phase's lines go.
    TVolume& FVolume;
    // The folder of the last line, kept open while the following lines share it.
    TFolderRef FParent;
    std::string FParentPath;
    int FParentError = 0; // the errno of the last walk that failed
    bool FParentSwept = false;
};

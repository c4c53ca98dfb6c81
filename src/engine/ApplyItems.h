#pragma once

#include "Apply.h"
#include "CopyFile.h"

#include <set>
#include <string>
#include <sys/types.h>
#include <utility>

// The item actions of one phase, all below the phase's root: the folders of a
// line are walked from the root's descriptor without following links, and the
// leftovers of killed copies go from each folder before the first copy into it.
// Each action returns the reason of a failure, or an empty text when the item
// was done.
class TPhaseItems {
public:
    TPhaseItems(TApplyPhase phase, const TApplyOptions& options, const TStopTest& stopRequested);

    std::string Run(const std::string& line);

private:
    int RootFd(bool create);
    int OpenParent(const std::string& line, bool create, std::string& name, std::string& reason);
    void SweepOnce(int folderFd);
    std::string Copy(int folderFd, const std::string& line, const std::string& name, bool failIfExists,
                     TReplacedEntry* replaced = nullptr);
    std::string Create(const std::string& line);
    std::string Update(const std::string& line);
    std::string Delete(const std::string& line);

    const TApplyPhase FPhase;
    const TApplyOptions& FOptions;
    const TStopTest& FStopRequested;
    const std::string FRoot;
    TFd FRootFd;
    // The folder of the last line, kept open while the following lines share it.
    TFd FParentFd;
    std::string FParentPath;
    bool FParentSwept = false;
    std::set<std::pair<dev_t, ino_t>> FSwept;
};

#pragma once

#include "Apply.h"
#include "CopyFile.h"

#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <utility>

// The folders whose leftovers of killed copies are gone, shared by the
// workers of one phase: a folder is swept once, and no copy into it starts
// before its sweep has ended.
class TSweptFolders {
public:
    void SweepOnce(int folderFd);

private:
    std::mutex FMutex;
    std::set<std::pair<dev_t, ino_t>> FSwept;
};

// The item actions of one phase, all below the phase's root: the folders of a
// line are walked from the root's descriptor without following links, and the
// leftovers of killed copies go from each folder before the first copy into it.
// Each action returns the reason of a failure, or an empty text when the item
// was done.
class TPhaseItems {
public:
    // shared: the sweeps of the phase's other workers (none: this object's own).
    TPhaseItems(TApplyPhase phase, const TApplyOptions& options, const TStopTest& stopRequested,
                TSweptFolders* shared = nullptr);

    std::string Run(const std::string& line);
    // Run for a line of a plan: a line that leaves its root fails untouched,
    // and an error of the item is its reason; never raises.
    std::string RunLine(const std::string& line);

private:
    int RootFd(bool create);
    int OpenParent(const std::string& line, bool create, std::string& name, std::string& reason);
    void SweepOnce(int folderFd);
    std::string Copy(int folderFd, const std::string& line, const std::string& name, bool failIfExists,
                     TReplacedEntry* replaced = nullptr);
    std::string Create(const std::string& line);
    std::string Update(const std::string& line);
    std::string Delete(const std::string& line);
    std::string CopyLinkOverFolder(int folderFd, const std::string& line, const std::string& name);

    const TApplyPhase FPhase;
    const TApplyOptions& FOptions;
    const TStopTest& FStopRequested;
    const std::string FRoot;
    TFd FRootFd;
    // The folder of the last line, kept open while the following lines share it.
    TFd FParentFd;
    std::string FParentPath;
    int FParentError = 0; // the errno of the last walk that failed
    bool FParentSwept = false;
    TSweptFolders FOwnSwept;
    TSweptFolders& FSwept;
};

#pragma once

#include "engine/volume/Volume.h"

#include <memory>
#include <string>

// The lock a run holds in the root of a folder it writes to where runs of
// other machines may write as well (a folder on another machine; a local
// folder keeps none): the file RemoteLockName, made exclusively, holding
// "host=", "pid=" and "started=" lines. Listings leave it out, so that no
// index sees it.
class TRemoteLock {
public:
    TRemoteLock(std::shared_ptr<TVolume> volume, std::string contents);
    // Removes the lock, unless another run took it over meanwhile.
    ~TRemoteLock();
    TRemoteLock(const TRemoteLock&) = delete;
    TRemoteLock& operator=(const TRemoteLock&) = delete;

private:
    std::shared_ptr<TVolume> FVolume;
    std::string FContents;
};

// Why a run may not write to a folder: the error text (as logged) and where.
struct TLockRefusal {
    std::string FError;
    std::string FDetail;
};

// Takes the lock of the folder at root (the deploy folder with deploy, else
// the target: the words of a refusal) for a run that writes there, making the
// root when it is missing. A lock that a process of this machine left behind
// when it ended is taken over, and with breakLock any other. Null where the
// folder keeps no lock; null with refusal set when another run holds it
// (ErrorTargetLocked or ErrorDeployLocked with "主机 H, 进程 P, 开始于 T") or it
// cannot be made (the folder's "无效" text and the reason).
std::unique_ptr<TRemoteLock> TakeRemoteLock(const std::string& root, bool deploy, bool breakLock,
                                            TLockRefusal& refusal);

inline const std::string ErrorTargetLocked = "目标文件夹正被另一次运行使用";
inline const std::string ErrorDeployLocked = "发布目录正被另一次运行使用";

#pragma once

#include "engine/project/StopTest.h"

#include <string>
#include <sys/types.h>

class TLocalWriteSteps;

// The reason of a copy whose read-back never matched what was read from the source.
inline const std::string ReasonVerifyFailed = "校验失败";

// Copies the open source into the open, empty target (opened for reading and
// writing) while hashing what is read (blocks of zeros become holes); each
// written stretch is flushed to the disk, dropped from the page cache, read
// back and hashed, while the next one is written; the file is flushed at the end. On a mismatch
// the copy is made once more; when that one differs too, false with
// ReasonVerifyFailed. With polled, the stop test runs before every block;
// a stop returns false with errno ECANCELED. Any other failure returns false
// with the system's message in reason.
// The copy is read back through steps (ReadBackAt).
bool CopyVerified(int sourceFd, int targetFd, bool polled, const TStopTest& stopRequested,
                  std::string& reason, TLocalWriteSteps& steps);

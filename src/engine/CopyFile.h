#pragma once

#include "StopTest.h"

#include <cstdint>
#include <string>

// Files larger than this are copied in blocks with the stop test polled between them.
inline constexpr std::int64_t SingleCallCopyLimit = 10 * 1024 * 1024;
inline constexpr std::size_t CopyBlockSize = 128 * 1024;

// Copies source to target so that target ends up with the source's contents,
// permission bits and modification time. The copy is written to a temporary
// file in the target's folder and renamed over the target only when complete:
// a failed or stopped copy leaves an existing target exactly as it was and no
// temporary file behind. With failIfExists, an existing target fails the copy
// untouched. Raises EInOutError only when the source cannot be opened or
// measured; every other failure returns false.
bool CopyOneFile(const std::string& source, const std::string& target, bool failIfExists,
                 const TStopTest& stopRequested = {});

// Copies the contents of an open source to an open target in blocks, polling
// the stop test before each block. False on a stop or any error.
bool CopyFileInBlocks(int sourceFd, int targetFd, const TStopTest& stopRequested);

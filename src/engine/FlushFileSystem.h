#pragma once

#include <string>

// Flushes the file system that holds folder to its device (syncfs), so that
// what a run wrote survives a power cut or a pulled USB stick. True when done,
// also when nothing exists at folder (nothing was written there); otherwise
// false with the system's reason.
bool FlushFileSystem(const std::string& folder, std::string& reason);

// For tests of a failing device: the call that flushes an open descriptor
// (0 or -1 with errno, as syncfs). Null restores syncfs.
using TSyncFsCall = int (*)(int fd);
void SetSyncFsCallForTests(TSyncFsCall call);

#pragma once

#include <string>

// Flushes what was written below folder to its device (on a local disk,
// syncfs of its file system), so that what a run wrote survives a power cut
// or a pulled USB stick. True when done, also when nothing exists at folder
// (nothing was written there); otherwise false with the system's reason.
bool FlushFileSystem(const std::string& folder, std::string& reason);

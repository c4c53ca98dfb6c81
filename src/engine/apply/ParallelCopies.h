#pragma once

#include "config/IniFile.h"

#include <string>

// How many copies a synchronisation makes at once: "[system]" key
// "ParallelCopies", "auto" (also when absent or blank) or a number from 1 to 16.
inline const std::string ParallelCopiesSection = "system";
inline const std::string ParallelCopiesKey = "ParallelCopies";
inline constexpr int ParallelCopiesAuto = 0;
inline constexpr int MaxParallelCopies = 16;
inline constexpr int MaxAutoParallelCopies = 8;
// What auto gives onto an sftp:// folder: more than a person may set, since
// those copies wait on the server rather than on this machine.
inline constexpr int SftpParallelCopies = 32;

// ParallelCopiesAuto for "auto" (any letter case) or a blank text, else the
// number; raises EConvertError for anything else.
int TextToParallelCopies(const std::string& text);
int ReadParallelCopies(const TIniFile& ini);

// The number of copies into writeRoot: a number as it is; auto is the number
// of cores, at most 8, but 1 when the receiving device is a rotating disk.
int ResolveParallelCopies(int setting, const std::string& writeRoot);

// Whether the block device whose folder in /sys is deviceFolder (the real
// path of /sys/dev/block/MAJOR:MINOR, a partition or a whole disk) is a
// rotating disk. A virtual disk (virtio, Xen, Hyper-V) reports itself as
// rotating whatever lies below it, and counts as not rotating.
bool IsRotatingDevice(const std::string& deviceFolder);

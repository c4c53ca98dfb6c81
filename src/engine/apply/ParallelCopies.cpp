#include "ParallelCopies.h"

#include "config/AsciiCase.h"
#include "engine/volume/FileSystemKind.h"
#include "sftp/SftpAddress.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

namespace {

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The first character of a one-line file in /sys, or 0.
char FirstCharOf(const std::string& path) {
    std::ifstream file(path);
    char c = 0;
    file >> c;
    return c;
}

} // namespace

int TextToParallelCopies(const std::string& text) {
    std::string trimmed = text;
    trimmed.erase(0, trimmed.find_first_not_of(" \t"));
    trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
    if (trimmed.empty() || LowerAscii(trimmed) == "auto") {
        return ParallelCopiesAuto;
    }
    int number = 0;
    try {
        number = TextToInt(trimmed);
    } catch (const EConvertError&) {
        number = -1;
    }
    if (number < 1 || number > MaxParallelCopies) {
        throw EConvertError("ParallelCopies must be auto or a number from 1 to 16, not \"" + text + "\"");
    }
    return number;
}

int ReadParallelCopies(const TIniFile& ini) {
    return TextToParallelCopies(ini.ReadString(ParallelCopiesSection, ParallelCopiesKey, ""));
}

bool IsRotatingDevice(const std::string& deviceFolder) {
    // A partition has no queue of its own: its disk is the folder above.
    std::string disk = deviceFolder;
    char rotational = FirstCharOf(disk + "/queue/rotational");
    if (rotational == 0) {
        disk = ParentFolder(deviceFolder);
        rotational = FirstCharOf(disk + "/queue/rotational");
    }
    if (rotational != '1') {
        return false;
    }
    for (const char* virtualBus : {"/virtio", "/xen", "/vmbus", "/VMBUS"}) {
        if (disk.find(virtualBus) != std::string::npos) {
            return false;
        }
    }
    const std::string name = disk.substr(disk.find_last_of('/') + 1);
    return name.rfind("vd", 0) != 0 && name.rfind("xvd", 0) != 0;
}

int ResolveParallelCopies(int setting, const std::string& writeRoot) {
    if (setting != ParallelCopiesAuto) {
        return std::clamp(setting, 1, MaxParallelCopies);
    }
    if (IsSftpAddress(writeRoot)) {
        // Copies onto a server wait on round trips, not on this machine's
        // cores: more of them side by side keep more requests in flight, and
        // requests that travel together cost ssh and sshd fewer wake-ups.
        return SftpParallelCopies;
    }
    const std::string device = BlockDeviceFolderOf(writeRoot);
    if (!device.empty() && IsRotatingDevice(device)) {
        return 1; // a disk's head moving between files costs more than copies side by side gain
    }
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, MaxAutoParallelCopies);
}

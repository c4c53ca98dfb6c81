#include "FileSystemKind.h"

#include <blkid/blkid.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

namespace {

constexpr long MsdosMagic = 0x4d44;     // vfat and msdos
constexpr long ExfatMagic = 0x2011BAB0; // the kernel's exfat
constexpr long FuseMagic = 0x65735546;

// The path itself when it exists, else its nearest existing parent folder.
std::string ExistingPart(std::string path) {
    struct stat st {};
    while (!path.empty() && stat(path.c_str(), &st) != 0) {
        const auto slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
        if (slash == std::string::npos) {
            return ".";
        }
        path.resize(slash == 0 ? 1 : slash);
    }
    return path.empty() ? "." : path;
}

// Mount information fields are written with octal escapes for blanks ("\040").
std::string Unescaped(const std::string& field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field.find_first_not_of("01234567", i + 1) >= i + 4) {
            text.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8)));
            i += 3;
        } else {
            text.push_back(field[i]);
        }
    }
    return text;
}

// The type and the source of the mount whose device is dev.
bool FindMount(dev_t dev, std::string& type, std::string& source) {
    std::ifstream mounts("/proc/self/mountinfo");
    const std::string wanted = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id, parent, device;
        fields >> id >> parent >> device;
        if (device != wanted) {
            continue;
        }
        const auto dash = line.find(" - ");
        if (dash == std::string::npos) {
            continue;
        }
        std::istringstream tail(line.substr(dash + 3));
        std::string rawSource;
        tail >> type >> rawSource;
        source = Unescaped(rawSource);
        return true;
    }
    return false;
}

// What the block device holds, as libblkid finds it on the device (or in its
// cache, or in udev's records, when the device cannot be read).
std::string DeviceType(const std::string& device) {
    std::string type;
    if (blkid_probe probe = blkid_new_probe_from_filename(device.c_str())) {
        blkid_probe_enable_superblocks(probe, 1);
        blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE);
        const char* value = nullptr;
        if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0) {
            type = value;
        }
        blkid_free_probe(probe);
    }
    if (type.empty()) {
        if (char* cached = blkid_get_tag_value(nullptr, "TYPE", device.c_str())) {
            type = cached;
            free(cached);
        }
    }
    // A user who may not read the device may still read what udev found on it.
    struct stat st {};
    if (type.empty() && stat(device.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
        std::ifstream udev("/run/udev/data/b" + std::to_string(major(st.st_rdev)) + ":" +
                           std::to_string(minor(st.st_rdev)));
        const std::string key = "E:ID_FS_TYPE=";
        for (std::string line; std::getline(udev, line);) {
            if (line.rfind(key, 0) == 0) {
                type = line.substr(key.size());
            }
        }
    }
    return type;
}

} // namespace

std::string FileSystemTypeOf(const std::string& path) {
    const std::string existing = ExistingPart(path);
    struct statfs fs {};
    struct stat st {};
    if (statfs(existing.c_str(), &fs) != 0 || stat(existing.c_str(), &st) != 0) {
        return {};
    }
    std::string type, source;
    if (!FindMount(st.st_dev, type, source)) {
        return fs.f_type == MsdosMagic ? "vfat" : fs.f_type == ExfatMagic ? "exfat" : "";
    }
    // A bare "fuseblk" says nothing of the format: the device is asked.
    if (fs.f_type == FuseMagic && type == "fuseblk" && source.rfind("/dev/", 0) == 0) {
        const std::string deviceType = DeviceType(source);
        return deviceType.empty() ? type : deviceType;
    }
    // "fuseblk.exfat", "fuse.exfat": the part after the dot names it.
    if (const auto dot = type.find('.'); type.rfind("fuse", 0) == 0 && dot != std::string::npos) {
        return type.substr(dot + 1);
    }
    return type;
}

bool IsFatFamilyType(const std::string& type) {
    return type == "vfat" || type == "msdos" || type == "exfat";
}

bool IsOnFatFamily(const std::string& path) {
    return IsFatFamilyType(FileSystemTypeOf(path));
}

bool KeepsNoPermissions(int fd) {
    struct statfs fs {};
    return fstatfs(fd, &fs) == 0 &&
           (fs.f_type == MsdosMagic || fs.f_type == ExfatMagic || fs.f_type == FuseMagic);
}

namespace {

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

std::string BlockDeviceFolderOf(std::string path) {
    struct stat st {};
    while (stat(path.c_str(), &st) != 0) {
        if (path.empty() || path == "/") {
            return {};
        }
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        path = ParentFolder(path);
    }
    const std::string link =
        "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    char* real = realpath(link.c_str(), nullptr);
    if (real == nullptr) {
        return {};
    }
    std::string folder = real;
    free(real);
    return folder;
}

#pragma once

#include <string>

// The type name of the file system that holds path, as mount reports it
// ("ext4", "vfat", "exfat"); for a FUSE file system on a block device
// ("fuseblk") the type found on the device itself. A path that does not exist
// yet is taken at its nearest existing folder. Empty when nothing could be
// found out.
std::string FileSystemTypeOf(const std::string& path);

// True for the FAT family (vfat, msdos, exfat, also through FUSE): file
// systems that keep modification times to two seconds (or in local time) and
// have neither hard links nor Unix permissions.
bool IsFatFamilyType(const std::string& type);
bool IsOnFatFamily(const std::string& path);

// True for an open file on a file system that keeps no Unix permissions (FAT,
// exFAT, FUSE ones), where setting a mode it cannot store fails with EPERM.
bool KeepsNoPermissions(int fd);

// The real path of the block device's folder in /sys that holds path (or its
// nearest existing parent); empty when it is no block device (tmpfs, overlay, network).
std::string BlockDeviceFolderOf(std::string path);

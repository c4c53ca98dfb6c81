#pragma once

// Gives the entry "from" of the folder open as fromFd the name "to" in the
// folder open as toFd (the same folder or another on the same file system), only
// where nothing is at "to" (then false with errno EEXIST). Tries, in order,
// renameat2(RENAME_NOREPLACE), a hard link and unlink, and, on file systems
// that have neither (FAT, exFAT, several FUSE ones), a look at "to" followed
// by a plain rename: there a file created at "to" in the instant between is
// replaced. Until it succeeds "from" stays where it is. False with errno set
// on failure.
bool RenameWithoutReplacing(int fromFd, const char* from, int toFd, const char* to);

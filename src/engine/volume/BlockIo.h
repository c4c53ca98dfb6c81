#pragma once

#include <cstddef>
#include <sys/types.h>

// Positional reads and writes that ride over interrupted calls.

// One pread retried on EINTR: the bytes read, 0 at the end, -1 on an error.
ssize_t ReadBlockAt(int fd, char* data, std::size_t size, off_t offset);
// Writes all size bytes at offset; false with errno set on an error.
bool WriteAllAt(int fd, const char* data, std::size_t size, off_t offset);

#include "BlockIo.h"

#include <cerrno>
#include <unistd.h>

ssize_t ReadBlockAt(int fd, char* data, std::size_t size, off_t offset) {
    for (;;) {
        const ssize_t n = pread(fd, data, size, offset);
        if (n >= 0 || errno != EINTR) {
            return n;
        }
    }
}

bool WriteAllAt(int fd, const char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        offset += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

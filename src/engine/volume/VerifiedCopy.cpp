#include "VerifiedCopy.h"

#include "BlockIo.h"
#include "CopyFile.h"
#include "config/FileFacts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

namespace {

constexpr std::size_t VerifyBlockSize = 1024 * 1024;

struct TStateFree {
    void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};

// A running hash of bytes and their count.
class THash {
public:
    THash() : FState(XXH3_createState()) { XXH3_64bits_reset(FState.get()); }
    void Add(const char* data, std::size_t size) {
        XXH3_64bits_update(FState.get(), data, size);
        FLength += size;
    }
    bool operator==(const THash& other) const {
        return FLength == other.FLength &&
               XXH3_64bits_digest(FState.get()) == XXH3_64bits_digest(other.FState.get());
    }

private:
    std::unique_ptr<XXH3_state_t, TStateFree> FState;
    std::size_t FLength = 0;
};

bool IsAllZero(const char* data, std::size_t size) {
    return size > 0 && data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0;
}

// Bytes are written back and read back a window at a time: while the disk
// takes one window, the one before it is read back, so that reading back
// overlaps writing instead of following it.
constexpr off_t VerifyWindowSize = 8 * 1024 * 1024;

// One attempt: the copy with the hash of the source, and the hash of the copy
// as read back from the disk.
class TVerifiedAttempt {
public:
    TVerifiedAttempt(int sourceFd, int targetFd, bool polled, const TStopTest& stopRequested,
                     TLocalWriteSteps& steps)
        : FSourceFd(sourceFd), FTargetFd(targetFd), FPolled(polled), FStopRequested(stopRequested),
          FSteps(steps) {
        FBuffer.resize(VerifyBlockSize);
    }

    bool Run(THash& read, THash& written) {
        off_t offset = 0;
        off_t windowStart = 0;
        for (;;) {
            if (Stopped()) {
                return false;
            }
            const ssize_t n = ReadBlockAt(FSourceFd, FBuffer.data(), FBuffer.size(), offset);
            if (n < 0) {
                return false;
            }
            if (n == 0) {
                break;
            }
            read.Add(FBuffer.data(), static_cast<std::size_t>(n));
            // A block of zeros is left as a hole: sparse files stay sparse.
            if (!IsAllZero(FBuffer.data(), static_cast<std::size_t>(n))) {
                if (!WriteAllAt(FTargetFd, FBuffer.data(), static_cast<std::size_t>(n), offset)) {
                    return false;
                }
                FSize = std::max(FSize, offset + n);
            }
            offset += n;
            if (offset - windowStart >= VerifyWindowSize) {
                if (!CloseWindow(windowStart, offset, written)) {
                    return false;
                }
                windowStart = offset;
            }
        }
        if (ftruncate(FTargetFd, offset) != 0) {
            return false;
        }
        FSize = offset;
        if (offset > windowStart && !CloseWindow(windowStart, offset, written)) {
            return false;
        }
        // The last window, then the flush that puts it all on the device.
        if (FPendingEnd > FPendingStart && !ReadBack(written)) {
            return false;
        }
        return fdatasync(FTargetFd) == 0;
    }

private:
    bool Stopped() const {
        if (FPolled && StopRequestedBy(FStopRequested)) {
            errno = ECANCELED;
            return true;
        }
        return false;
    }

    // The window [start, end) is written: its writing back starts, and the
    // window before it, whose writing back started earlier, is read back.
    bool CloseWindow(off_t start, off_t end, THash& written) {
        // A window that ends in a hole reads back as the zeros it stands for.
        if (FSize < end) {
            if (ftruncate(FTargetFd, end) != 0) {
                return false;
            }
            FSize = end;
        }
        sync_file_range(FTargetFd, start, end - start, SYNC_FILE_RANGE_WRITE);
        if (FPendingEnd > FPendingStart && !ReadBack(written)) {
            return false;
        }
        FPendingStart = start;
        FPendingEnd = end;
        return true;
    }

    // Reads the pending window back from the disk: once its pages are
    // written, they leave the page cache, so the read reaches the device.
    bool ReadBack(THash& written) {
        const off_t start = FPendingStart;
        const off_t size = FPendingEnd - FPendingStart;
        FPendingStart = FPendingEnd;
        if (sync_file_range(FTargetFd, start, size,
                            SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
            // Where the range cannot be waited for, the whole file is flushed.
            if (fdatasync(FTargetFd) != 0) {
                return false;
            }
        }
        posix_fadvise(FTargetFd, start, size, POSIX_FADV_DONTNEED);
        for (off_t offset = start; offset < start + size;) {
            if (Stopped()) {
                return false;
            }
            const auto want =
                static_cast<std::size_t>(std::min<off_t>(VerifyBlockSize, start + size - offset));
            const ssize_t n = FSteps.ReadBackAt(FTargetFd, FBuffer.data(), want, offset);
            if (n < 0) {
                return false;
            }
            if (n == 0) {
                return true; // shorter than written: the lengths differ
            }
            written.Add(FBuffer.data(), static_cast<std::size_t>(n));
            offset += n;
        }
        return true;
    }

    int FSourceFd;
    int FTargetFd;
    bool FPolled;
    const TStopTest& FStopRequested;
    TLocalWriteSteps& FSteps;
    // One block for reading the source and reading back: a block is written before a stretch is read back.
    static thread_local inline std::vector<char> FBuffer;
    off_t FSize = 0; // the target's size as written so far
    off_t FPendingStart = 0;
    off_t FPendingEnd = 0; // the window written but not yet read back
};

} // namespace

bool CopyVerified(int sourceFd, int targetFd, bool polled, const TStopTest& stopRequested,
                  std::string& reason, TLocalWriteSteps& steps) {
    posix_fadvise(sourceFd, 0, 0, POSIX_FADV_SEQUENTIAL);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0 && ftruncate(targetFd, 0) != 0) {
            reason = ErrorText(errno);
            return false;
        }
        THash read, written;
        if (!TVerifiedAttempt(sourceFd, targetFd, polled, stopRequested, steps).Run(read, written)) {
            reason = errno == ECANCELED ? "stopped" : ErrorText(errno);
            return false;
        }
        if (read == written) {
            return true;
        }
    }
    reason = ReasonVerifyFailed;
    return false;
}

#include "VerifiedCopy.h"

#include "BlockIo.h"
#include "config/FileFacts.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

namespace {

constexpr std::size_t VerifyBlockSize = 1024 * 1024;

TVerifyWriteHook& WriteHook() {
    static TVerifyWriteHook hook;
    return hook;
}

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

// One attempt: the copy with the hash of the source, then the hash of the copy read back.
bool CopyOnce(int sourceFd, int targetFd, bool polled, const TStopTest& stopRequested, THash& read,
              THash& written) {
    static thread_local std::vector<char> buffer;
    buffer.resize(VerifyBlockSize);
    off_t offset = 0;
    for (;;) {
        if (polled && StopRequestedBy(stopRequested)) {
            errno = ECANCELED;
            return false;
        }
        const ssize_t n = ReadBlockAt(sourceFd, buffer.data(), buffer.size(), offset);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        read.Add(buffer.data(), static_cast<std::size_t>(n));
        // A block of zeros is left as a hole: sparse files stay sparse.
        if (!IsAllZero(buffer.data(), static_cast<std::size_t>(n)) &&
            !WriteAllAt(targetFd, buffer.data(), static_cast<std::size_t>(n), offset)) {
            return false;
        }
        offset += n;
    }
    if (ftruncate(targetFd, offset) != 0) {
        return false;
    }
    if (const TVerifyWriteHook& hook = WriteHook()) {
        hook(targetFd);
    }
    // What is read back must come from the disk, not from the copy's pages in memory.
    if (fdatasync(targetFd) != 0) {
        return false;
    }
    posix_fadvise(targetFd, 0, 0, POSIX_FADV_DONTNEED);
    offset = 0;
    for (;;) {
        if (polled && StopRequestedBy(stopRequested)) {
            errno = ECANCELED;
            return false;
        }
        const ssize_t n = ReadBlockAt(targetFd, buffer.data(), buffer.size(), offset);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        written.Add(buffer.data(), static_cast<std::size_t>(n));
        offset += n;
    }
}

} // namespace

bool CopyVerified(int sourceFd, int targetFd, bool polled, const TStopTest& stopRequested,
                  std::string& reason) {
    posix_fadvise(sourceFd, 0, 0, POSIX_FADV_SEQUENTIAL);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0 && ftruncate(targetFd, 0) != 0) {
            reason = ErrorText(errno);
            return false;
        }
        THash read, written;
        if (!CopyOnce(sourceFd, targetFd, polled, stopRequested, read, written)) {
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

void SetVerifyWriteHookForTests(TVerifyWriteHook hook) {
    WriteHook() = std::move(hook);
}

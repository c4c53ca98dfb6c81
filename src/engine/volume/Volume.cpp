#include "Volume.h"

#include "LocalVolume.h"
#include "SftpVolume.h"

#include <cerrno>
#include <mutex>
#include <utility>

namespace {

std::mutex OpenerMutex;
TVolumeOpener& Opener() {
    static TVolumeOpener opener;
    return opener;
}

} // namespace

TVolume::TVolume(std::string root) : FRoot(std::move(root)) {
    if (!FRoot.empty() && FRoot.back() != '/') {
        FRoot.push_back('/');
    }
}

std::shared_ptr<TVolume> OpenVolume(const std::string& root) {
    TVolumeOpener opener;
    {
        const std::lock_guard lock(OpenerMutex);
        opener = Opener();
    }
    if (opener) {
        return opener(root);
    }
    if (IsSftpAddress(root)) {
        return OpenSftpVolume(root);
    }
    return std::make_shared<TLocalVolume>(root);
}

void SetVolumeOpener(TVolumeOpener opener) {
    const std::lock_guard lock(OpenerMutex);
    Opener() = std::move(opener);
}

int ReadSmallFile(TVolume& volume, std::string_view relative, std::string& contents, std::size_t limit) {
    contents.clear();
    int error = 0;
    bool notRegular = false;
    const std::unique_ptr<TReadableFile> file = volume.OpenFile(relative, error, notRegular);
    if (!file) {
        return error;
    }
    // One byte more than the limit tells a file that is too large.
    contents.resize(limit + 1);
    std::size_t done = 0;
    while (done < contents.size()) {
        const long got =
            file->ReadAt(contents.data() + done, contents.size() - done, static_cast<std::int64_t>(done));
        if (got < 0) {
            contents.clear();
            return errno;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    contents.resize(done);
    return done > limit ? EFBIG : 0;
}

bool IsVolumeTemporaryName(std::string_view name) {
    return IsCopyTemporaryName(name);
}

#include "Volume.h"

#include "LocalVolume.h"
#include "SftpVolume.h"

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

bool IsVolumeTemporaryName(std::string_view name) {
    return IsCopyTemporaryName(name);
}

#include "DeployFolder.h"

#include "config/FileFacts.h"
#include "config/PathText.h"
#include "engine/project/Plan.h"

#include "engine/volume/Volume.h"

namespace {

std::string WithoutTrailingDelimiters(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

} // namespace

bool DeployFolderAcceptable(const std::string& typed, const std::string& resolved) {
    if (IsBlank(typed)) {
        return false;
    }
    const std::string folder = WithoutTrailingDelimiters(resolved);
    const TEntryFacts facts = OpenVolume(folder)->Facts("", true);
    if (facts.FExists) {
        return facts.FIsFolder;
    }
    return facts.FError == 0 && OpenVolume(ExtractFileDir(folder))->Facts("", true).FIsFolder;
}

bool PrepareDeployFolder(const std::string& resolved) {
    const std::shared_ptr<TVolume> volume = OpenVolume(WithoutTrailingDelimiters(resolved));
    return volume->MakeRoot(false) == 0 && volume->Facts("", true).FIsFolder;
}

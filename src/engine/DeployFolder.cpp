#include "DeployFolder.h"

#include "Plan.h"
#include "config/FileFacts.h"
#include "config/PathText.h"

#include <cerrno>
#include <sys/stat.h>

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
    const TFileFacts facts = ReadFileFacts(folder);
    if (facts.FExists) {
        return facts.FIsFolder;
    }
    return facts.FError == 0 && FolderExists(ExtractFileDir(folder));
}

bool PrepareDeployFolder(const std::string& resolved) {
    const std::string folder = WithoutTrailingDelimiters(resolved);
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        return false;
    }
    return FolderExists(folder);
}

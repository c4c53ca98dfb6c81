#include "LinkOverFolder.h"

#include "config/CustomPublic.h"
#include "engine/index/FolderIndex.h"
#include "engine/versions/Versions.h"

TStringList DeleteLinesBelowFolder(const TApplyOptions& options, const std::string& line,
                                   std::string& reason) {
    TStringList index;
    std::vector<TItemFailure> errors;
    BuildFolderIndex(options.FTargetRoot + line + PathDelim, "", "", "", "", index, true, true, true, {},
                     &errors, TLinkMode::Link);
    if (!errors.empty()) {
        reason = errors.front().FPath + ": " + errors.front().FReason;
        return {};
    }
    if (options.FVersions) {
        LeaveOutVersionFolder(index, options.FTargetRoot, options.FTargetRoot,
                              options.FVersions->VersionRoot());
    }
    for (std::string& entry : index) {
        entry.erase(0, options.FTargetRoot.size());
    }
    return index;
}

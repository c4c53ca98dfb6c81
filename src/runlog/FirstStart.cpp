#include "FirstStart.h"

#include "RunLog.h"
#include "config/PathText.h"

#include <filesystem>
#include <system_error>

void PrepareProgramFolders(const TProgramFolders& folders) {
    std::error_code ignored;
    std::filesystem::create_directories(ExtractFileDir(folders.FConfigFileName), ignored);
    try {
        TRunLog log(folders.FLogFolder);
        log.SetViewerFolder(folders.FShareFolder + "/log");
        log.OpenLogFolder();
    } catch (const ERunLogError&) {
    }
}

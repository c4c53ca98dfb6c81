// Where the programs keep the configuration and the run log: beside
// themselves, or in the user's folders once installed.

#include "config/ProgramFolders.h"
#include "InstallLayout.h"
#include "Unprivileged.h"
#include "config/PathText.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(ProgramFolders, InstalledProgramsUseTheUsersFoldersOthersTheirOwn) {
    TTempDir dir;
    const TUserEnvironment xdg{dir / "home", dir / "config", dir / "data"};
    const TUserEnvironment plain{dir / "home", "", ""};
    const TUserEnvironment relative{dir / "home", "config", "data"};

    // The build folder: the viewer beside the programs, everything beside them.
    WriteTextFile(dir / "build/bin/log/index.htm", "viewer");
    const TProgramFolders build = ProgramFoldersFor(dir / "build/bin", xdg);
    EXPECT_FALSE(build.FInstalled);
    EXPECT_EQ(build.FShareFolder, dir / "build/bin");
    EXPECT_EQ(build.FConfigFileName, dir / "build/bin/pairwell.ini");
    EXPECT_EQ(build.FLogFolder, dir / "build/bin/log");

    // Installed: recognised by the files in share/pairwell, even though this
    // test (as root, say) could write the programs' folder.
    const std::string share =
        std::filesystem::path(dir / "usr/bin/" PAIRWELL_SHARE_FROM_BIN).lexically_normal();
    WriteTextFile(share + "/log/index.htm", "viewer");
    const TProgramFolders installed = ProgramFoldersFor(dir / "usr/bin", xdg);
    EXPECT_TRUE(installed.FInstalled);
    EXPECT_EQ(installed.FShareFolder, share);
    EXPECT_EQ(installed.FConfigFileName, dir / "config/pairwell/pairwell.ini");
    EXPECT_EQ(installed.FLogFolder, dir / "data/pairwell/log");
    for (const TUserEnvironment& environment : {plain, relative}) {
        const TProgramFolders byHome = ProgramFoldersFor(dir / "usr/bin", environment);
        EXPECT_EQ(byHome.FConfigFileName, dir / "home/.config/pairwell/pairwell.ini");
        EXPECT_EQ(byHome.FLogFolder, dir / "home/.local/share/pairwell/log");
    }

    // A copy in a folder its user cannot write keeps its viewer but not the user's files.
    if (PermissionsCanBind()) {
        WriteTextFile(dir / "opt/pairwell/log/index.htm", "viewer");
        OpenToEveryone(dir.Path());
        OpenToEveryone(dir / "opt");
        chmod((dir / "opt/pairwell").c_str(), 0555);
        const std::string answer = RunUnprivileged([&] {
            const TProgramFolders folders = ProgramFoldersFor(dir / "opt/pairwell", xdg);
            return std::to_string(folders.FInstalled) + " " + folders.FShareFolder + " " +
                   folders.FConfigFileName;
        });
        EXPECT_EQ(answer, "1 " + dir / "opt/pairwell" + " " + dir / "config/pairwell/pairwell.ini");
        chmod((dir / "opt/pairwell").c_str(), 0755); // for the clean-up
    }

    // The run log of a configuration: the default's own folder, else "log" beside it.
    EXPECT_EQ(LogFolderFor(DefaultConfigFileName()), ProgramFolders().FLogFolder);
    EXPECT_EQ(LogFolderFor(dir / "elsewhere/my.ini"), dir / "elsewhere/log");
}

} // namespace

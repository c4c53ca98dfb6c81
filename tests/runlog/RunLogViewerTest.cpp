// Every log folder carries the page and style sheet that show it.

#include "RunLogTestSupport.h"
#include "config/PathText.h"
#include "runlog/FirstStart.h"
#include "runlog/LogViewer.h"

namespace {

TEST(RunLogViewer, WritingALogFolderPutsTheViewerThereAndRenewsOldCopies) {
    TTempDir dir;
    const std::string viewer = dir / "program/log";
    WriteTextFile(viewer + "/index.htm", "page v2");
    WriteTextFile(viewer + "/log.xsl", "sheet v2");
    SetModifiedTime(viewer + "/index.htm", 1'700'000'000);
    SetModifiedTime(viewer + "/log.xsl", 1'700'000'000);

    TTestClock clock(At(2005, 1, 1));
    TRunLog log(dir / "elsewhere/log", clock.Clock());
    log.SetViewerFolder(viewer);
    log.OpenDayLog();
    EXPECT_EQ(ReadTextFile(dir / "elsewhere/log/index.htm"), "page v2");
    EXPECT_EQ(ReadTextFile(dir / "elsewhere/log/log.xsl"), "sheet v2");

    // An older page is replaced when the log is next written; a newer one
    // (edited by its owner) stays, and so does a missing program copy's target.
    WriteTextFile(dir / "elsewhere/log/index.htm", "page v1");
    SetModifiedTime(dir / "elsewhere/log/index.htm", 1'600'000'000);
    WriteTextFile(dir / "elsewhere/log/log.xsl", "my own sheet");
    std::remove((viewer + "/index.htm").c_str());
    TLogBuffer buffer;
    buffer.WriteLogElement("Project", "p");
    log.CloseLogItem(buffer);
    EXPECT_EQ(ReadTextFile(dir / "elsewhere/log/index.htm"), "page v1");
    EXPECT_EQ(ReadTextFile(dir / "elsewhere/log/log.xsl"), "my own sheet");
    WriteTextFile(viewer + "/index.htm", "page v3");
    log.CloseLogItem(buffer);
    EXPECT_EQ(ReadTextFile(dir / "elsewhere/log/index.htm"), "page v3");
}

TEST(RunLogViewer, TheProgramsCopiesAreBesideTheExecutable) {
    const std::string viewer = ProgramLogViewerFolder();
    EXPECT_EQ(viewer, ExecutableFolder() + "/log");
    if (!PathExists(viewer + "/index.htm")) {
        GTEST_SKIP() << "the log viewer is not built beside the tests";
    }
    TTempDir dir;
    TRunLog(dir / "log").OpenDayLog();
    EXPECT_EQ(ReadTextFile(dir / "log/index.htm"), ReadTextFile(viewer + "/index.htm"));
    EXPECT_EQ(ReadTextFile(dir / "log/log.xsl"), ReadTextFile(viewer + "/log.xsl"));
}

TEST(RunLogViewer, TheFirstStartMakesTheUsersFoldersWithTheViewer) {
    TTempDir dir;
    WriteTextFile(dir / "share/log/index.htm", "page");
    WriteTextFile(dir / "share/log/log.xsl", "sheet");
    const TProgramFolders folders{true, dir / "share", dir / "config/pairwell/pairwell.ini",
                                  dir / "data/pairwell/log"};
    PrepareProgramFolders(folders);
    EXPECT_TRUE(PathExists(dir / "config/pairwell"));
    EXPECT_FALSE(PathExists(dir / "config/pairwell/pairwell.ini")); // written by the first save
    EXPECT_EQ(ReadTextFile(dir / "data/pairwell/log/index.htm"), "page");
    EXPECT_EQ(ReadTextFile(dir / "data/pairwell/log/log.xsl"), "sheet");
    EXPECT_EQ(ReadTextFile(dir / "data/pairwell/log/list.xml"), "<list>\r\n</list>\r\n");

    // A later start leaves the list of days as the runs made it.
    WriteTextFile(dir / "data/pairwell/log/list.xml", "<list><item>2005.01.01</item>\r\n</list>\r\n");
    PrepareProgramFolders(folders);
    EXPECT_EQ(ReadTextFile(dir / "data/pairwell/log/list.xml"),
              "<list><item>2005.01.01</item>\r\n</list>\r\n");
}

} // namespace

// The day files and the list file: creation, item layout, dates, damaged files
// and write failures, all on real files in a temporary folder.
#include "RunLogTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace {

const std::string EmptyList = "<list>\r\n</list>\r\n";

std::set<std::string> FolderNames(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

void CloseItem(const TRunLog& log, std::initializer_list<std::pair<const char*, const char*>> elements) {
    TLogBuffer buffer;
    for (const auto& [name, value] : elements) {
        buffer.WriteLogElement(name, value);
    }
    log.CloseLogItem(buffer);
}

} // namespace

TEST(RunLogDay, FirstRunCreatesDayFileAndListEntryAndSecondChangesNothing) {
    TTempDir dir;
    WriteTextFile(dir / "log/list.xml", EmptyList);
    TTestClock clock(At(2005, 1, 1, 9, 30));
    TRunLog log(dir / "log/", clock.Clock());
    log.SetViewerFolder(dir / "no viewer");
    EXPECT_EQ(log.DayLogFileName(), dir / "log/2005.01.01.xml");

    log.OpenDayLog();
    EXPECT_EQ(ReadTextFile(dir / "log/2005.01.01.xml"), DayHeader20050101 + "</log>\r\n");
    EXPECT_EQ(ReadTextFile(dir / "log/list.xml"), "<list><item>2005.01.01</item>\r\n</list>\r\n");
    // Atomic replacement leaves no temporary file behind.
    EXPECT_EQ(FolderNames(dir / "log"), (std::set<std::string>{".lock", "list.xml", "2005.01.01.xml"}));

    // Later the same day: the day file keeps its items, the list its one entry.
    CloseItem(log, {{"Project", "A"}});
    const std::string dayFile = ReadTextFile(dir / "log/2005.01.01.xml");
    clock.Set(At(2005, 1, 1, 23, 59, 59));
    log.OpenDayLog();
    EXPECT_EQ(ReadTextFile(dir / "log/2005.01.01.xml"), dayFile);
    EXPECT_EQ(ReadTextFile(dir / "log/list.xml"), "<list><item>2005.01.01</item>\r\n</list>\r\n");

    // The next day goes first; a day listed anywhere is not listed again.
    clock.Set(At(2005, 1, 2, 0, 0, 0));
    log.OpenDayLog();
    EXPECT_EQ(ReadTextFile(dir / "log/list.xml"),
              "<list><item>2005.01.02</item><item>2005.01.01</item>\r\n</list>\r\n");
    WriteTextFile(dir / "log/list.xml", "<list>\r\n<item>2005.01.03</item>\r\n</list>\r\n");
    clock.Set(At(2005, 1, 3));
    log.OpenDayLog();
    EXPECT_EQ(ReadTextFile(dir / "log/list.xml"), "<list>\r\n<item>2005.01.03</item>\r\n</list>\r\n");
}

TEST(RunLogDay, MissingFolderAndListFileAreCreated) {
    TTempDir dir;
    TTestClock clock(At(2005, 1, 1));
    const TRunLog log(dir / "a/b/log", clock.Clock());
    log.OpenDayLog();
    EXPECT_EQ(ReadTextFile(dir / "a/b/log/list.xml"), "<list><item>2005.01.01</item>\r\n</list>\r\n");
    EXPECT_EQ(ReadTextFile(dir / "a/b/log/2005.01.01.xml"), DayHeader20050101 + "</log>\r\n");

    // CloseLogItem alone, in a folder that is not there yet, keeps its item too.
    const TRunLog other(dir / "other", clock.Clock());
    CloseItem(other, {{"Project", "A"}});
    EXPECT_EQ(ReadTextFile(dir / "other/2005.01.01.xml"),
              DayHeader20050101 + "<item><Project>A</Project>\r\n</item></log>\r\n");
    EXPECT_EQ(ReadTextFile(dir / "other/list.xml"), "<list><item>2005.01.01</item>\r\n</list>\r\n");
}

TEST(RunLogDay, ListFileWithoutListTagIsLeftAloneButDayFileIsCreated) {
    TTempDir dir;
    const std::string odd = "<days>\n</days>"; // also not CR LF: untouched means untouched
    WriteTextFile(dir / "log/list.xml", odd);
    TTestClock clock(At(2005, 1, 1));
    const TRunLog log(dir / "log", clock.Clock());
    log.OpenDayLog();
    EXPECT_EQ(ReadTextFile(dir / "log/list.xml"), odd);
    EXPECT_EQ(ReadTextFile(dir / "log/2005.01.01.xml"), DayHeader20050101 + "</log>\r\n");
}

TEST(RunLogDay, EditedListFileIsWrittenBackWithCrLfLines) {
    TTempDir dir;
    WriteTextFile(dir / "log/list.xml", "<?xml version=\"1.0\"?>\n<list>\n</list>");
    TTestClock clock(At(2005, 1, 1));
    TRunLog(dir / "log", clock.Clock()).OpenDayLog();
    EXPECT_EQ(ReadTextFile(dir / "log/list.xml"),
              "<?xml version=\"1.0\"?>\r\n<list><item>2005.01.01</item>\r\n</list>\r\n");
}

TEST(RunLogItems, ItemsAreJoinedBeforeTheEndTag) {
    TTempDir dir;
    TTestClock clock(At(2005, 1, 1));
    const TRunLog log(dir / "log", clock.Clock());
    log.OpenDayLog();
    const std::string day = dir / "log/2005.01.01.xml";

    TLogBuffer empty;
    log.CloseLogItem(empty);
    EXPECT_EQ(ReadTextFile(day), DayHeader20050101 + "<item></item></log>\r\n");

    CloseItem(log, {{"Project", "B"}, {"ProcessStatus", "x"}});
    EXPECT_EQ(ReadTextFile(day), DayHeader20050101 + "<item></item><item><Project>B</Project>\r\n"
                                                     "<ProcessStatus>x</ProcessStatus>\r\n"
                                                     "</item></log>\r\n");

    CloseItem(log, {{"Project", "C"}});
    EXPECT_EQ(ReadTextFile(day), DayHeader20050101 + "<item></item><item><Project>B</Project>\r\n"
                                                     "<ProcessStatus>x</ProcessStatus>\r\n"
                                                     "</item><item><Project>C</Project>\r\n"
                                                     "</item></log>\r\n");
}

TEST(RunLogItems, ItemGoesBeforeTheFirstEndTagOnly) {
    TTempDir dir;
    TTestClock clock(At(2005, 1, 1));
    const TRunLog log(dir / "log", clock.Clock());
    WriteTextFile(dir / "log/2005.01.01.xml", "<log>\r\n</log>\r\n</log>\r\n");
    CloseItem(log, {{"Project", "A"}});
    EXPECT_EQ(ReadTextFile(dir / "log/2005.01.01.xml"),
              "<log>\r\n<item><Project>A</Project>\r\n</item></log>\r\n</log>\r\n");
}

TEST(RunLogItems, JobExampleItemByteForByte) {
    TTempDir dir;
    TTestClock clock(At(2005, 1, 1, 10, 0, 0));
    const TRunLog log(dir / "log", clock.Clock());
    log.OpenDayLog();
    const TDateTime begin = At(2005, 1, 1, 10, 0, 0);
    const TDateTime end = At(2005, 1, 1, 10, 0, 2);
    clock.Set(end);

    TLogBuffer buffer;
    buffer.WriteLogElement("ProcessType", "同步");
    buffer.WriteLogElement("SourcePath", "/Src/");
    buffer.WriteLogElement("TargetPath", "/Dst/");
    buffer.WriteLogElement("New", "/Dst/a.txt");
    for (const char* name :
         {"NewCount", "NewFailCount", "UpdateCount", "UpdateFailCount", "DeleteCount", "DeleteFailCount"}) {
        buffer.WriteLogElement(name, name == std::string("NewCount") ? "1" : "0");
    }
    buffer.WriteLogElement("Project", "Site");
    buffer.WriteLogElement("ProcessStatus", "完成");
    buffer.WriteLogElement("BeginTime", FormatTimeOfDay(begin));
    buffer.WriteLogElement("EndTime", FormatTimeOfDay(end));
    buffer.WriteLogElement("SpendTime", FormatSpendTime(end.FMilliseconds - begin.FMilliseconds));
    log.CloseLogItem(buffer);

    EXPECT_EQ(ReadDayFileUtf8(dir / "log/2005.01.01.xml"),
              "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
              "<?xml:stylesheet type=\"text/xsl\" href=\"log.xsl\"?>\r\n"
              "<log>\r\n"
              "<Date>2005年1月1日</Date>\r\n"
              "<item><ProcessType>同步</ProcessType>\r\n"
              "<SourcePath>/Src/</SourcePath>\r\n"
              "<TargetPath>/Dst/</TargetPath>\r\n"
              "<New>/Dst/a.txt</New>\r\n"
              "<NewCount>1</NewCount>\r\n"
              "<NewFailCount>0</NewFailCount>\r\n"
              "<UpdateCount>0</UpdateCount>\r\n"
              "<UpdateFailCount>0</UpdateFailCount>\r\n"
              "<DeleteCount>0</DeleteCount>\r\n"
              "<DeleteFailCount>0</DeleteFailCount>\r\n"
              "<Project>Site</Project>\r\n"
              "<ProcessStatus>完成</ProcessStatus>\r\n"
              "<BeginTime>10:00:00</BeginTime>\r\n"
              "<EndTime>10:00:02</EndTime>\r\n"
              "<SpendTime>00:00:02</SpendTime>\r\n"
              "</item></log>\r\n");
}

TEST(RunLogItems, RunEndingAfterMidnightStartsTheNewDayAndKeepsItsItem) {
    TTempDir dir;
    WriteTextFile(dir / "log/list.xml", EmptyList);
    TTestClock clock(At(2005, 1, 1, 23, 59, 50));
    const TRunLog log(dir / "log", clock.Clock());
    log.OpenDayLog();
    TLogBuffer buffer;
    buffer.WriteLogElement("Project", "Night");
    clock.Set(At(2005, 1, 2, 0, 0, 5));
    EXPECT_EQ(log.DayLogFileName(), dir / "log/2005.01.02.xml");
    log.CloseLogItem(buffer);

    EXPECT_TRUE(buffer.Lines().empty());
    EXPECT_EQ(ReadTextFile(dir / "log/2005.01.01.xml"), DayHeader20050101 + "</log>\r\n");
    EXPECT_EQ(ReadDayFileUtf8(dir / "log/2005.01.02.xml"),
              "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
              "<?xml:stylesheet type=\"text/xsl\" href=\"log.xsl\"?>\r\n"
              "<log>\r\n"
              "<Date>2005年1月2日</Date>\r\n"
              "<item><Project>Night</Project>\r\n"
              "</item></log>\r\n");
    EXPECT_EQ(ReadTextFile(dir / "log/list.xml"),
              "<list><item>2005.01.02</item><item>2005.01.01</item>\r\n</list>\r\n");
}

TEST(RunLogFailures, DayFileWithoutEndTagDropsTheItem) {
    TTempDir dir;
    TTestClock clock(At(2005, 1, 1));
    const TRunLog log(dir / "log", clock.Clock());
    log.OpenDayLog();
    const std::string broken = DayHeader20050101 + "</lo";
    WriteTextFile(dir / "log/2005.01.01.xml", broken);
    TLogBuffer buffer;
    buffer.WriteLogElement("Project", "Lost");
    EXPECT_NO_THROW(log.CloseLogItem(buffer));
    EXPECT_TRUE(buffer.Lines().empty());
    EXPECT_EQ(ReadTextFile(dir / "log/2005.01.01.xml"), broken);
}

TEST(RunLogFailures, UnwritableFolderRaisesAndEmptiesTheBuffer) {
    TTempDir dir;
    TTestClock clock(At(2005, 1, 1));
    // A regular file where the log folder should be stops every write, also
    // for root.
    WriteTextFile(dir / "log", "not a folder");
    for (const std::string& folder : {dir / "log", dir / "log/inner"}) {
        SCOPED_TRACE(folder);
        const TRunLog log(folder, clock.Clock());
        try {
            log.OpenDayLog();
            ADD_FAILURE() << "OpenDayLog did not fail";
        } catch (const ERunLogError& e) {
            EXPECT_NE(std::string(e.what()).find(folder), std::string::npos) << e.what();
        }
        TLogBuffer buffer;
        buffer.WriteLogElement("Project", "A");
        try {
            log.CloseLogItem(buffer);
            ADD_FAILURE() << "CloseLogItem did not fail";
        } catch (const ERunLogError& e) {
            EXPECT_NE(std::string(e.what()).find(folder), std::string::npos) << e.what();
        }
        EXPECT_TRUE(buffer.Lines().empty());
    }
    EXPECT_EQ(ReadTextFile(dir / "log"), "not a folder");
}

TEST(RunLogFailures, UnusableFilesRaiseWithTheirPath) {
    TTestClock clock(At(2005, 1, 1));
    {
        // A day file that cannot be read (a folder in its place).
        TTempDir dir;
        MakeFolder(dir / "log/2005.01.01.xml");
        const TRunLog log(dir / "log", clock.Clock());
        TLogBuffer buffer;
        buffer.WriteLogElement("Project", "A");
        try {
            log.CloseLogItem(buffer);
            ADD_FAILURE() << "CloseLogItem did not fail";
        } catch (const ERunLogError& e) {
            EXPECT_NE(std::string(e.what()).find(dir / "log/2005.01.01.xml"), std::string::npos) << e.what();
        }
        EXPECT_TRUE(buffer.Lines().empty());
    }
    {
        // A list file that cannot be read: the failure is raised, yet the day
        // file is there so the day's items are not lost.
        TTempDir dir;
        MakeFolder(dir / "log/list.xml");
        const TRunLog log(dir / "log", clock.Clock());
        try {
            log.OpenDayLog();
            ADD_FAILURE() << "OpenDayLog did not fail";
        } catch (const ERunLogError& e) {
            EXPECT_NE(std::string(e.what()).find(dir / "log/list.xml"), std::string::npos) << e.what();
        }
        EXPECT_EQ(ReadTextFile(dir / "log/2005.01.01.xml"), DayHeader20050101 + "</log>\r\n");
    }
}

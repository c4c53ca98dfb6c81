// Versions through the real pairwell-cli: what sync replaces and deletes is
// kept, listed by "versions" and brought back by "restore".

#include "CliProgram.h"
#include "TempDir.h"
#include "config/DateTime.h"
#include "config/Gb18030.h"
#include "config/IniFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using TRun = TCliResult;

class VersionsCliTest : public ::testing::Test {
protected:
    VersionsCliTest() : FIni(FConfig) {
        FIni.WriteString("project_P", "source", FDir / "src");
        FIni.WriteString("project_P", "target", FDir / "dst");
        FIni.WriteString("project_P", "FileDelete", "True");
        FIni.WriteString("project_P", "Versioning", "True");
    }

    TRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--config", FConfig});
        return RunCliTo(FDir / "stdout", FDir / "stderr", std::move(args));
    }

    // The lines of "versions", each split into its three fields.
    std::vector<std::vector<std::string>> Versions(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"versions", "P"};
        args.insert(args.end(), extra.begin(), extra.end());
        const TRun run = Run(args);
        EXPECT_EQ(run.FStatus, 0) << run.FErr;
        std::vector<std::vector<std::string>> lines;
        const std::regex line(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\t([^\t\n]+)\t(\d+)\n)");
        for (std::sregex_iterator it(run.FOut.begin(), run.FOut.end(), line), end; it != end; ++it) {
            lines.push_back({(*it)[1], (*it)[2], (*it)[3]});
        }
        std::size_t length = 0;
        for (const auto& fields : lines) {
            length += fields[0].size() + fields[1].size() + fields[2].size() + 3;
        }
        EXPECT_EQ(length, run.FOut.size()) << "every line has the three fields: " << run.FOut;
        return lines;
    }

    TTempDir FDir;
    std::string FConfig = FDir / "pairwell.ini";
    TIniFile FIni;
};

TEST_F(VersionsCliTest, AnUpdateAndADeleteAreKeptListedAndRestored) {
    WriteTextFile(FDir / "src/a.txt", "old a");
    WriteTextFile(FDir / "src/sub/b.txt", "b");
    SetModifiedTime(FDir / "src/a.txt", 1'000'000'000);
    ASSERT_EQ(Run({"sync", "P"}).FStatus, 0);
    EXPECT_TRUE(Versions().empty()) << "copying new files replaces nothing";

    WriteTextFile(FDir / "src/a.txt", "new a, longer");
    SetModifiedTime(FDir / "src/a.txt", 1'000'000'100);
    ASSERT_EQ(unlink((FDir / "src/sub/b.txt").c_str()), 0);
    const TDateTime before = Now();
    const TRun sync = Run({"sync", "P"});
    ASSERT_EQ(sync.FStatus, 0) << sync.FErr;
    EXPECT_EQ(sync.FOut, "new: 0 done, 0 failed\nupdate: 1 done, 0 failed\ndelete: 1 done, 0 failed\n");
    EXPECT_EQ(ReadTextFile(FDir / "dst/a.txt"), "new a, longer");
    EXPECT_FALSE(PathExists(FDir / "dst/sub/b.txt"));
    // The day file of the run's start or end: a run may cross midnight.
    const std::string firstDay = FDir / "log/" + FormatLogDate(before) + ".xml";
    const std::string lastDay = FDir / "log/" + FormatLogDate(Now()) + ".xml";
    const auto log =
        Gb18030ToUtf8(ReadTextFile(firstDay) + (lastDay == firstDay ? "" : ReadTextFile(lastDay)));
    ASSERT_TRUE(log.has_value());
    EXPECT_NE(
        log->find("<ProcessStatus>完成</ProcessStatus>\r\n<VersionCount>2</VersionCount>\r\n<BeginTime>"),
        std::string::npos)
        << *log;

    // Listed by path, with the run's start and the size. The run is moved back
    // in time: its versions are the newest of their paths, which pruning keeps.
    const std::string versions = FDir / "dst/.pairwell-versions/";
    const auto runs = std::filesystem::directory_iterator(versions);
    ASSERT_EQ(std::distance(runs, std::filesystem::directory_iterator()), 1);
    std::filesystem::rename(std::filesystem::directory_iterator(versions)->path(),
                            versions + "2026-01-01 000000");
    const auto kept = Versions();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0][1], "a.txt");
    EXPECT_EQ(kept[0][2], "5");
    EXPECT_EQ(kept[1][1], "sub/b.txt");
    EXPECT_EQ(kept[1][2], "1");
    EXPECT_EQ(kept[0][0], "2026-01-01 00:00:00");
    EXPECT_EQ(kept[1][0], "2026-01-01 00:00:00");
    // A third sync keeps nothing and prunes nothing.
    const auto runFolders = [&] {
        int count = 0;
        for (const auto& version : Versions()) {
            count += version[1] == "a.txt" ? 1 : 0;
        }
        return count;
    };
    ASSERT_EQ(Run({"sync", "P"}).FStatus, 0);
    EXPECT_EQ(runFolders(), 1);
    EXPECT_EQ(Versions({"sub"}), (std::vector<std::vector<std::string>>{kept[1]}));
    EXPECT_FALSE(PathExists(FDir / "src/.pairwell-versions")) << "the version folder is never copied";

    // Restoring puts the old content back and keeps the file it replaces.
    const TRun restore = Run({"restore", "P", "a.txt"});
    ASSERT_EQ(restore.FStatus, 0) << restore.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "dst/a.txt"), "old a");
    const auto afterRestore = Versions({"a.txt"});
    ASSERT_EQ(afterRestore.size(), 2u);
    EXPECT_EQ(afterRestore[0], kept[0]) << "the version stays";
    EXPECT_EQ(afterRestore[1][2], "13") << "the replaced file is the newest version";
    EXPECT_GE(afterRestore[1][0], afterRestore[0][0]);

    // --at picks the newest at or before it; --to restores elsewhere.
    ASSERT_EQ(Run({"restore", "P", "a.txt", "--at", kept[0][0], "--to", FDir / "out"}).FStatus, 0);
    EXPECT_EQ(ReadTextFile(FDir / "out/a.txt"), "old a");
    ASSERT_EQ(Run({"restore", "P", "sub/b.txt", "--to", FDir / "out"}).FStatus, 0);
    EXPECT_EQ(ReadTextFile(FDir / "out/sub/b.txt"), "b");
    EXPECT_FALSE(PathExists(FDir / "dst/sub/b.txt"));

    // No such version: exit 2 with a message, nothing written.
    const TRun early = Run({"restore", "P", "a.txt", "--at", "2000-01-01 00:00:00"});
    EXPECT_EQ(early.FStatus, 2);
    EXPECT_NE(early.FErr.find("no version of a.txt at or before 2000-01-01 00:00:00"), std::string::npos)
        << early.FErr;
    EXPECT_EQ(Run({"restore", "P", "never.txt"}).FStatus, 2);
    EXPECT_EQ(ReadTextFile(FDir / "dst/a.txt"), "old a");
    EXPECT_EQ(Run({"restore", "P"}).FStatus, 64);
    EXPECT_EQ(Run({"versions", "P", "--to", "x"}).FStatus, 64);
}

// A restore writes into the target as a sync does, and is logged and
// reported as one: a file put back where none stood is "New", one put back
// over a file "Update"; failures and a restore that finds nothing too.
TEST_F(VersionsCliTest, ARestoreIsLoggedAsAnItemOfItsOwnAndReportedInJson) {
    WriteTextFile(FDir / "src/d/a.txt", "old a");
    WriteTextFile(FDir / "src/d/b.txt", "b");
    SetModifiedTime(FDir / "src/d/a.txt", 1'000'000'000);
    ASSERT_EQ(Run({"sync", "P"}).FStatus, 0);
    WriteTextFile(FDir / "src/d/a.txt", "new a, longer");
    SetModifiedTime(FDir / "src/d/a.txt", 1'000'000'100);
    ASSERT_EQ(unlink((FDir / "src/d/b.txt").c_str()), 0);
    ASSERT_EQ(Run({"sync", "P"}).FStatus, 0);

    const std::string logFile = FDir / "log/" + FormatLogDate(Now()) + ".xml";
    const auto lastItem = [&] {
        const std::string log = Gb18030ToUtf8(ReadTextFile(logFile)).value_or("");
        const std::size_t at = log.rfind("<item>");
        return at == std::string::npos ? log : log.substr(at, log.find("</item>", at) - at);
    };
    const std::regex time(R"("20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d")");
    const std::regex version(R"(20\d\d-\d\d-\d\d \d\d:\d\d:\d\d)");
    const auto masked = [&](const std::string& text) {
        return std::regex_replace(std::regex_replace(text, time, "\"T\""), version, "V");
    };
    const std::string dst = FDir / "dst/";
    const std::string head = "<item><ProcessType>恢复</ProcessType>\r\n<SourcePath>" + dst +
                             ".pairwell-versions/</SourcePath>\r\n<TargetPath>";
    const auto counts = [](int newDone, int newFailed, int updateDone, int updateFailed) {
        return "\"counts\":{\"check\":{\"failed\":0},\"new\":{\"done\":" + std::to_string(newDone) +
               ",\"failed\":" + std::to_string(newFailed) +
               "},\"update\":{\"done\":" + std::to_string(updateDone) +
               ",\"failed\":" + std::to_string(updateFailed) + "},\"delete\":{\"done\":0,\"failed\":0},\"moved\":0}";
    };
    const std::string json = "{\"schema\":\"pairwell-run/1\",\"command\":\"restore\",\"project\":\"P\","
                             "\"start\":\"T\",\"end\":\"T\",\"status\":";

    const TRun restore = Run({"restore", "P", "d", "--json"});
    ASSERT_EQ(restore.FStatus, 0) << restore.FErr;
    EXPECT_EQ(ReadTextFile(FDir / "dst/d/a.txt"), "old a");
    EXPECT_EQ(ReadTextFile(FDir / "dst/d/b.txt"), "b");
    EXPECT_EQ(masked(restore.FOut),
              json + "\"completed\",\"exitStatus\":0,\"error\":\"\"," + counts(1, 0, 1, 0) +
                  ",\"failures\":[],\"restored\":[{\"phase\":\"update\",\"path\":\"" + dst +
                  "d/a.txt\",\"version\":\"V\"},{\"phase\":\"new\",\"path\":\"" + dst +
                  "d/b.txt\",\"version\":\"V\"}],\"logFile\":\"" + logFile + "\"}\n");
    const std::regex clock(R"(\d\d:\d\d:\d\d)");
    EXPECT_EQ(
        std::regex_replace(lastItem(), clock, "t"),
        head + dst + "</TargetPath>\r\n<New>" + dst +
            "d/b.txt</New>\r\n<NewCount>1</NewCount>\r\n<NewFailCount>0</NewFailCount>\r\n<Update>" + dst +
            "d/a.txt</Update>\r\n<UpdateCount>1</UpdateCount>\r\n<UpdateFailCount>0</UpdateFailCount>\r\n"
            "<DeleteCount>0</DeleteCount>\r\n<DeleteFailCount>0</DeleteFailCount>\r\n<Project>P</Project>\r\n"
            "<ProcessStatus>完成</ProcessStatus>\r\n<VersionCount>1</VersionCount>\r\n<BeginTime>t</"
            "BeginTime>\r\n<EndTime>t</EndTime>\r\n<SpendTime>t</SpendTime>\r\n");

    // A file that cannot be written fails as a sync's would: logged, counted, exit 1.
    WriteTextFile(FDir / "out/d", "a file where the folder should go");
    const TRun failed = Run({"restore", "P", "d/b.txt", "--to", FDir / "out", "--json"});
    EXPECT_EQ(failed.FStatus, 1) << failed.FErr;
    EXPECT_NE(failed.FErr.find(FDir / "out/d/b.txt: "), std::string::npos) << failed.FErr;
    EXPECT_NE(masked(failed.FOut)
                  .find("\"failed-items\",\"exitStatus\":1,\"error\":\"\"," + counts(0, 1, 0, 0) +
                        ",\"failures\":[{\"phase\":\"new\",\"path\":\"" +
                        FDir / "out/d/b.txt\",\"reason\":\""),
              std::string::npos)
        << failed.FOut;
    EXPECT_NE(
        lastItem().find("</TargetPath>\r\n<NewFail>" + FDir / "out/d/b.txt</NewFail>\r\n<NewCount>0</"
                                                              "NewCount>\r\n<NewFailCount>1</NewFailCount>"),
        std::string::npos)
        << lastItem();

    // Nothing to restore: still an item, "中止" with the reason, and exit 2.
    const TRun none = Run({"restore", "P", "never.txt", "--json"});
    EXPECT_EQ(none.FStatus, 2);
    EXPECT_NE(none.FErr.find("no version of never.txt"), std::string::npos) << none.FErr;
    EXPECT_EQ(masked(none.FOut), json +
                                     "\"not-completed\",\"exitStatus\":2,\"error\":\"没有可恢复的版本: "
                                     "never.txt: " +
                                     dst + ".pairwell-versions/\"," + counts(0, 0, 0, 0) +
                                     ",\"failures\":[],\"restored\":[],\"logFile\":\"" + logFile + "\"}\n");
    const std::string item = lastItem();
    EXPECT_EQ(item.rfind(head + dst + "</TargetPath>\r\n<NewCount>0</NewCount>", 0), 0u) << item;
    EXPECT_NE(item.find("<ProcessStatus>中止</ProcessStatus>\r\n<Error>没有可恢复的版本: never.txt</Error>"),
              std::string::npos)
        << item;
}

TEST_F(VersionsCliTest, AVersionFolderThatIsOrHoldsARootRefusesTheProjectBeforeWriting) {
    WriteTextFile(FDir / "src/a.txt", "a");
    for (const std::string& folder : {FDir / "dst", FDir / "src", FDir.Path(), std::string("..")}) {
        FIni.WriteString("project_P", "VersionFolder", folder);
        const TRun run = Run({"sync", "P"});
        EXPECT_EQ(run.FStatus, 2) << folder;
        EXPECT_NE(run.FErr.find("版本文件夹无效"), std::string::npos) << run.FErr;
        EXPECT_FALSE(PathExists(FDir / "dst/a.txt"));
        EXPECT_EQ(Run({"check", "P"}).FStatus, 2);
    }
}

} // namespace

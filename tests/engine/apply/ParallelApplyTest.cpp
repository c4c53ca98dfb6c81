#include "SyncHarness.h"

#include "engine/volume/CopyFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>

namespace {

using Lines = TStringList;
namespace fs = std::filesystem;

// Every entry below root by relative path: a folder as "/", a file as its contents.
std::map<std::string, std::string> TreeOf(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        tree[relative] = entry.is_directory() ? "/" : ReadTextFile(entry.path().string());
    }
    return tree;
}

// The log with the target root taken out, so two targets compare.
Lines LogWithoutRoot(const TLogBuffer& log, const std::string& root) {
    Lines lines;
    for (std::string line : log.Lines()) {
        for (std::size_t at = line.find(root); at != std::string::npos; at = line.find(root)) {
            line.erase(at, root.size());
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(ParallelApplyTest, SeveralWorkersGiveTheSameTreeAndLogAsOne) {
    TSyncHarness one;
    const std::string target4 = one.FDir / "dst4";
    one.FSettings.FIncludeFolders = true;
    int updates = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = "d" + std::to_string(i % 7) + "/e" + std::to_string(i % 11) + "/f" +
                                 std::to_string(i % 3) + "/file" + std::to_string(i) + ".txt";
        WriteTextFile(one.FSource + "/" + name, std::string(static_cast<std::size_t>(i % 97), 'x') + name);
        // Older copies of some files in d0 to d2; every folder below d3 to d6 is new.
        if (i % 10 == 0 && i % 7 < 3) {
            for (const std::string& target : {one.FTarget, target4}) {
                WriteTextFile(target + "/" + name, "old");
                SetModifiedTime(target + "/" + name, 1'000'000'000);
            }
            ++updates;
        }
    }
    one.FOptions.FParallelCopies = 1;
    one.Sync();

    TSyncHarness four;
    four.FSettings = one.FSettings;
    four.FOptions = one.FOptions;
    four.FSettings.FTargetRoot = four.FOptions.FTargetRoot = four.FOptions.FWriteRoot = target4 + "/";
    four.FOptions.FParallelCopies = 4;
    four.Sync();

    EXPECT_EQ(one.FPlan.FNewList, four.FPlan.FNewList);
    EXPECT_GT(one.FPlan.FNewList.size(), 1500u);
    EXPECT_EQ(one.FUpdate.FDone, updates);
    EXPECT_EQ(four.FNew.FDone, static_cast<int>(four.FPlan.FNewList.size()));
    EXPECT_EQ(four.FUpdate.FDone, updates);
    EXPECT_EQ(four.FNew.FFailed + four.FUpdate.FFailed, 0);
    EXPECT_EQ(TreeOf(target4), TreeOf(one.FSource));
    EXPECT_EQ(TreeOf(one.FTarget), TreeOf(one.FSource));
    EXPECT_EQ(LogWithoutRoot(four.FLog, target4), LogWithoutRoot(one.FLog, one.FTarget));
}

TEST(ParallelApplyTest, AStopLeavesNoTemporaryAndNoHalfFileUnderAFinalName) {
    TSyncHarness t;
    t.FOptions.FParallelCopies = 4;
    Lines lines;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "big" + std::to_string(i) + ".bin";
        WriteTextFile(t.FSource + "/" + name,
                      std::string(SingleCallCopyLimit + 40 * CopyBlockSize, static_cast<char>('a' + i)));
        lines.push_back(name);
        for (int j = 0; j < 20; ++j) {
            const std::string small = "s" + std::to_string(i) + "/" + std::to_string(j) + ".txt";
            WriteTextFile(t.FSource + "/" + small, small);
            lines.push_back(small);
        }
    }
    std::atomic<int> polls{0};
    const TPhaseResult result = ApplyPhase(TApplyPhase::New, lines, t.FOptions, t.FLog, SilentProgress(),
                                           [&] { return ++polls > 3; });
    EXPECT_TRUE(result.FStopped);
    EXPECT_LT(static_cast<std::size_t>(result.FDone + result.FFailed), lines.size());
    int finalFiles = 0;
    for (const auto& entry : fs::recursive_directory_iterator(t.FTarget)) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(IsCopyTemporaryName(name)) << entry.path();
        if (entry.is_regular_file()) {
            ++finalFiles;
            const std::string relative = fs::relative(entry.path(), t.FTarget).string();
            EXPECT_EQ(ReadTextFile(entry.path().string()), ReadTextFile(t.FSource + "/" + relative))
                << relative;
        }
    }
    EXPECT_EQ(finalFiles, result.FDone);
    // The log holds one element per line that started, in plan order, then the counts.
    const Lines& log = t.FLog.Lines();
    ASSERT_EQ(log.size(), static_cast<std::size_t>(result.FDone + result.FFailed + 2));
    std::size_t next = 0;
    for (std::size_t i = 0; i + 2 < log.size(); ++i) {
        while (next < lines.size() && log[i].find(t.FTarget + "/" + lines[next] + "<") == std::string::npos) {
            ++next;
        }
        EXPECT_LT(next++, lines.size()) << log[i] << " is out of plan order";
    }
}

TEST(ParallelApplyTest, AFailingItemAmongParallelOnesIsCountedOnceInPlanOrder) {
    TSyncHarness t;
    t.FOptions.FParallelCopies = 3;
    Lines lines, failing;
    for (int i = 0; i < 500; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        WriteTextFile(t.FSource + "/" + name, name);
        if (i % 37 == 5) {
            WriteTextFile(t.FTarget + "/" + name, "there already"); // a new file may not replace it
            failing.push_back(name);
        }
        lines.push_back(name);
    }
    lines.insert(lines.begin() + 250, "../outside.txt");
    failing.insert(failing.begin() + 7, "../outside.txt");
    const TPhaseResult result = ApplyPhase(TApplyPhase::New, lines, t.FOptions, t.FLog, SilentProgress());
    EXPECT_EQ(result.FFailed, static_cast<int>(failing.size()));
    EXPECT_EQ(result.FDone, static_cast<int>(lines.size() - failing.size()));
    EXPECT_EQ(result.FFailedLines, failing);
    ASSERT_EQ(result.FFailures.size(), failing.size());
    Lines logged;
    for (const std::string& line : t.FLog.Lines()) {
        if (line.rfind("<NewFail>", 0) == 0) {
            logged.push_back(
                line.substr(9 + t.FTarget.size() + 1, line.size() - 9 - 10 - t.FTarget.size() - 1));
        }
    }
    EXPECT_EQ(logged, failing);
    EXPECT_EQ(t.FLog.Lines().back(), "<NewFailCount>" + std::to_string(failing.size()) + "</NewFailCount>");
    EXPECT_EQ(ReadTextFile(t.FTarget + "/f5.txt"), "there already");
}

} // namespace

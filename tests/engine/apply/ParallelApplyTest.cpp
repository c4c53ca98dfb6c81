#include "SyncHarness.h"

#include "engine/volume/CopyFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <unistd.h>

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

// The opening and closing of the files in some folders, as the kernel saw
// them: which lines a run has started, and when.
class TOpenWatch {
public:
    TOpenWatch() : FFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) { EXPECT_GE(FFd, 0); }
    ~TOpenWatch() { close(FFd); }
    TOpenWatch(const TOpenWatch&) = delete;
    TOpenWatch& operator=(const TOpenWatch&) = delete;

    void Add(const std::string& folder) {
        const int wd = inotify_add_watch(FFd, folder.c_str(), IN_OPEN | IN_CLOSE_NOWRITE);
        ASSERT_GE(wd, 0);
        FFolders[wd] = folder;
    }
    // The events so far, in order: "+path" for an opening, "-path" for a closing.
    Lines Take() {
        Lines events;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t length; (length = read(FFd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->len > 0) {
                    events.push_back(((event->mask & IN_OPEN) != 0 ? "+" : "-") + FFolders[event->wd] + "/" +
                                     event->name);
                }
            }
        }
        return events;
    }
    // The events until none has come for the given time.
    Lines TakeUntilQuiet(int milliseconds) {
        Lines events = Take();
        pollfd ready{FFd, POLLIN, 0};
        while (poll(&ready, 1, milliseconds) > 0) {
            const Lines more = Take();
            events.insert(events.end(), more.begin(), more.end());
        }
        return events;
    }

private:
    int FFd;
    std::map<int, std::string> FFolders;
};

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

TEST(ParallelApplyTest, NoLineStartsAfterTheStopWasSeen) {
    TSyncHarness t;
    t.FOptions.FParallelCopies = 3;
    TOpenWatch watch;
    Lines lines;
    // Folders of small files: each worker takes many lines of one at a time.
    for (int folder = 0; folder < 8; ++folder) {
        const std::string name = "d" + std::to_string(folder);
        for (int i = 0; i < 64; ++i) {
            lines.push_back(name + "/" + std::to_string(i) + ".txt");
            WriteTextFile(t.FSource + "/" + lines.back(), std::string(64 * 1024, 'x'));
        }
        watch.Add(t.FSource + "/" + name);
    }
    std::set<std::string> started;
    const auto stopOnceStarted = [&] {
        for (const std::string& event : watch.Take()) {
            started.insert(event.substr(1));
        }
        if (started.empty()) {
            return false;
        }
        // No worker starts a line while this test runs: the lines already
        // under way open their files, and then nothing more opens.
        for (const std::string& event : watch.TakeUntilQuiet(500)) {
            started.insert(event.substr(1));
        }
        return true;
    };
    const TPhaseResult result =
        ApplyPhase(TApplyPhase::New, lines, t.FOptions, t.FLog, SilentProgress(), stopOnceStarted);
    EXPECT_TRUE(result.FStopped);
    EXPECT_LT(started.size(), lines.size());
    Lines openedAfterStop;
    for (const std::string& event : watch.Take()) {
        if (event[0] == '+') {
            openedAfterStop.push_back(event.substr(1));
        }
    }
    EXPECT_TRUE(openedAfterStop.empty())
        << openedAfterStop.size() << " lines started after the stop, the first " << openedAfterStop.front();
    EXPECT_EQ(static_cast<std::size_t>(result.FDone + result.FFailed), started.size());
}

TEST(ParallelApplyTest, TheLargeFilesOfOneFolderAreCopiedSideBySide) {
    TSyncHarness t;
    t.FOptions.FParallelCopies = 4;
    TOpenWatch watch;
    Lines lines;
    for (int i = 0; i < 4; ++i) {
        lines.push_back("videos/" + std::to_string(i) + ".bin");
        WriteTextFile(t.FSource + "/" + lines.back(), std::string(24 << 20, static_cast<char>('a' + i)));
    }
    watch.Add(t.FSource + "/videos");
    const TPhaseResult result = ApplyPhase(TApplyPhase::New, lines, t.FOptions, t.FLog, SilentProgress());
    EXPECT_EQ(result.FDone, 4);
    int open = 0;
    int mostOpen = 0;
    for (const std::string& event : watch.Take()) {
        open += event[0] == '+' ? 1 : -1;
        mostOpen = std::max(mostOpen, open);
    }
    EXPECT_GE(mostOpen, 2) << "the copies ran one after another";
    for (const std::string& line : lines) {
        EXPECT_EQ(ReadTextFile(t.FTarget + "/" + line), ReadTextFile(t.FSource + "/" + line)) << line;
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

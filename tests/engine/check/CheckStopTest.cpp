// A stop seen anywhere in a check is reported; a check never hands back a
// partial plan as a complete one.

#include "engine/check/Check.h"
#include "engine/index/FolderIndex.h"

#include "FaultyVolume.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class CheckStopTest : public ::testing::Test {
protected:
    CheckStopTest() {
        MakeFolder(FTarget);
        FSettings.FSourceRoot = FSource + "/";
        FSettings.FTargetRoot = FTarget + "/";
    }

    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
    TCheckSettings FSettings;
};

TEST_F(CheckStopTest, AStopAnsweredOnlyOnceStillStopsTheCheck) {
    for (int i = 0; i < 1000; ++i) {
        WriteTextFile(FSource + "/f" + std::to_string(i) + ".txt", "x");
    }
    // Without the delete pass the number of tests is the same on every run.
    int calls = 0;
    TPlan plan;
    ASSERT_TRUE(RunCheck(FSettings, plan, SilentProgress(), [&] { return ++calls < 0; }));
    ASSERT_EQ(plan.FNewList.size(), 1000u);
    const int total = calls;

    // At the folder of the walk, between blocks of look-ups, before an entry, at the end.
    for (const int stopAt : {1, 2, 3, 4, 5, 6, 7, total / 2, total}) {
        int call = 0;
        EXPECT_FALSE(RunCheck(FSettings, plan, SilentProgress(), [&] { return ++call == stopAt; }))
            << "stop at call " << stopAt << " of " << total << " gave " << plan.FNewList.size() << " lines";
    }
}

// Knows when the check waits for the delete pass: after its status, before
// the delete pass's entries are counted.
class TWaitWatcher : public TProgressSink {
public:
    void ShowStatus(const std::string& text) override { FWaiting = text == CheckStatusTargetIndex; }
    void ResetProgress(std::size_t) override { FWaiting = false; }
    std::atomic<bool> FWaiting{false};
};

TEST_F(CheckStopTest, AStopWhileWaitingForTheDeletePassEndsTheWait) {
    WriteTextFile(FSource + "/a.txt", "a");
    WriteTextFile(FTarget + "/surplus.txt", "x");
    FSettings.FDeletePass = true;
    std::atomic<bool> stopSeenWhileWaiting{false};
    // The delete pass's walk is held at the target root until the stop was seen (at most 5 s).
    auto target = std::make_shared<TFaultyVolume>(FSettings.FTargetRoot);
    FSettings.FTargetVolume = target;
    target->FListingFault = [&](const std::string& folder) {
        if (folder == FSettings.FTargetRoot) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!stopSeenWhileWaiting && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return 0;
    };
    TWaitWatcher watcher;
    TPlan plan;
    const bool complete = RunCheck(FSettings, plan, watcher, [&] {
        if (watcher.FWaiting) {
            stopSeenWhileWaiting = true;
        }
        return stopSeenWhileWaiting.load();
    });
    EXPECT_FALSE(complete);
    EXPECT_TRUE(stopSeenWhileWaiting);
    EXPECT_TRUE(plan.FDeleteList.empty());
}

} // namespace

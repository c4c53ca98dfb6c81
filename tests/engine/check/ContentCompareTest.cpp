#include "SyncHarness.h"

#include <gtest/gtest.h>

namespace {

using Lines = TStringList;

TEST(ContentCompareTest, TheBytesAloneDecideAtTheSizeAndTimeEdges) {
    TSyncHarness t;
    t.FSettings.FCompareContent = true;
    t.FSettings.FTimeMode = TimeModeTargetOlder; // would list only older targets
    t.FSettings.FCheckSize = true;               // would list only equal sizes
    const std::string big(3 * 1024 * 1024 + 17, 'b');
    std::string bigChanged = big;
    bigChanged[bigChanged.size() - 1] = 'c'; // differs in the last byte only, past the first blocks
    const std::pair<const char*, std::pair<std::string, std::string>> files[] = {
        {"same-time-other-bytes.txt", {"abc", "abd"}},
        {"same-bytes-older-target.txt", {"same", "same"}},
        {"same-size-newer-target.txt", {"1234", "4321"}},
        {"other-size.txt", {"short", "longer"}},
        {"big-same.bin", {big, big}},
        {"big-last-byte.bin", {big, bigChanged}},
        {"empty.txt", {"", ""}},
    };
    for (const auto& [name, contents] : files) {
        WriteTextFile(t.FSource + "/" + name, contents.first);
        WriteTextFile(t.FTarget + "/" + name, contents.second);
        SetModifiedTime(t.FSource + "/" + name, 1'600'000'000);
        SetModifiedTime(t.FTarget + "/" + name, 1'600'000'000);
    }
    SetModifiedTime(t.FTarget + "/same-bytes-older-target.txt", 1'500'000'000);
    SetModifiedTime(t.FTarget + "/same-size-newer-target.txt", 1'700'000'000);
    t.Check();
    EXPECT_EQ(t.FPlan.FUpdateList, (Lines{"big-last-byte.bin", "other-size.txt", "same-size-newer-target.txt",
                                          "same-time-other-bytes.txt"}));
    EXPECT_TRUE(t.FPlan.FErrors.empty());

    // The date threshold still applies: sources older than it are in no list.
    t.FSettings.FCheckEditTime = true;
    t.FSettings.FThreshold = LocalDateTimeFromUnix(1'650'000'000, 0);
    t.Check();
    EXPECT_TRUE(t.FPlan.FUpdateList.empty());

    // A folder where the source has a file is new, as without the comparison.
    t.FSettings.FCheckEditTime = false;
    ASSERT_EQ(remove((t.FTarget + "/big-same.bin").c_str()), 0);
    MakeFolder(t.FTarget + "/big-same.bin");
    t.Check();
    EXPECT_EQ(t.FPlan.FNewList, Lines{"big-same.bin"});
}

} // namespace

// Modification times that agree within a project's tolerance, or differ by an
// ignored shift within it, count as equal in every time mode.

#include "engine/check/TimeTolerance.h"
#include "engine/check/CheckSettings.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

constexpr std::int64_t SourceSeconds = 1'100'000'000;

class TimeToleranceTest : public ::testing::Test {
protected:
    TimeToleranceTest() {
        MakeFolder(FSource);
        MakeFolder(FTarget);
    }

    // The planned update lines for every time mode, with pairs whose target
    // is offset from the source by the given milliseconds.
    std::vector<TStringList> UpdatesByMode(const TProjectRecord& record,
                                           const std::vector<std::int64_t>& offsetsMs) {
        std::filesystem::remove_all(FSource);
        std::filesystem::remove_all(FTarget);
        for (const std::int64_t offset : offsetsMs) {
            const std::string name = std::to_string(offset);
            WriteTextFile(FSource + "/" + name, "s");
            WriteTextFile(FTarget + "/" + name, "t");
            SetModifiedTime(FSource + "/" + name, SourceSeconds);
            const std::int64_t target = SourceSeconds * 1000 + offset;
            SetModifiedTime(FTarget + "/" + name, target / 1000, (target % 1000) * 1'000'000);
        }
        std::vector<TStringList> result;
        for (const int mode : {TimeModeTargetOlder, TimeModeTargetNewer, TimeModeDifferent}) {
            TProjectRecord withMode = record;
            withMode.FEditTime = mode;
            TPlan plan;
            EXPECT_TRUE(RunCheck(CheckSettingsFor(withMode, FSource + "/", FTarget + "/", ""), plan,
                                 SilentProgress()));
            std::sort(plan.FUpdateList.begin(), plan.FUpdateList.end());
            result.push_back(plan.FUpdateList);
        }
        return result;
    }

    TTempDir FDir;
    std::string FSource = FDir / "src";
    std::string FTarget = FDir / "dst";
};

using Lines = TStringList;

TEST_F(TimeToleranceTest, ToleranceAndIgnoredShiftHoldAtTheirEdges) {
    TProjectRecord record;
    record.FTimeTolerance = 2;
    // Older, newer and different: by more than 2 s; 1 s either side of the edge.
    EXPECT_EQ(UpdatesByMode(record, {-3000, -2000, -1000, 1000, 2000, 3000}),
              (std::vector<Lines>{{"-3000"}, {"3000"}, {"-3000", "3000"}}));

    // A one-hour shift, taken out within the same 2 s, either way.
    record.FIgnoreTimeShift = "60";
    EXPECT_EQ(UpdatesByMode(record, {3'597'000, 3'598'000, 3'602'000, 3'603'000, -3'599'000, -3'603'000}),
              (std::vector<Lines>{{"-3603000"}, {"3597000", "3603000"}, {"-3603000", "3597000", "3603000"}}));

    // Without tolerance a shift must be exact; a millisecond off is a difference.
    record.FTimeTolerance = 0;
    record.FIgnoreTimeShift = " 60 | 120 ";
    EXPECT_EQ(UpdatesByMode(record, {7'200'000, 3'600'000, 3'600'001, 1}),
              (std::vector<Lines>{{}, {"1", "3600001"}, {"1", "3600001"}}));

    // On this test's file system "auto" is no tolerance at all.
    record.FTimeTolerance = TimeToleranceAuto;
    record.FIgnoreTimeShift.clear();
    EXPECT_EQ(TimeToleranceFor(record, FSource + "/", FTarget + "/", "").FToleranceMs, 0);
    EXPECT_EQ(UpdatesByMode(record, {-1, 1}), (std::vector<Lines>{{"-1"}, {"1"}, {"-1", "1"}}));

    record.FIgnoreTimeShift = "60|one hour";
    EXPECT_THROW(TimeToleranceFor(record, FSource, FTarget, ""), EConvertError);
}

} // namespace

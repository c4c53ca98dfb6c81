#include "SyncHarness.h"

#include "engine/apply/DeferredRelease.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

// More replaced and deleted files than are ever held at once, by parallel copies.
TEST(DeferredReleaseTest, ReplacedAndDeletedFilesGoAtOnceAndEveryHoldEndsWithTheRun) {
    TSyncHarness t;
    t.FOptions.FParallelCopies = 2;
    TStringList updated, deleted;
    for (int i = 0; i < 400; ++i) {
        const std::string name = "d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt";
        WriteTextFile(t.FSource + "/" + name, "new " + name);
        WriteTextFile(t.FTarget + "/" + name, "old");
        WriteTextFile(t.FTarget + "/" + name + ".gone", "surplus");
        updated.push_back(name);
        deleted.push_back(name + ".gone");
    }
    const std::size_t before = OpenDescriptors();
    {
        TDeferredRelease release;
        t.FOptions.FRelease = &release;
        EXPECT_EQ(ApplyPhase(TApplyPhase::Update, updated, t.FOptions, t.FLog, SilentProgress()).FDone, 400);
        EXPECT_EQ(ApplyPhase(TApplyPhase::Delete, deleted, t.FOptions, t.FLog, SilentProgress()).FDone, 400);
        for (int i = 0; i < 400; i += 37) {
            EXPECT_EQ(ReadTextFile(t.FTarget + "/" + updated[i]), "new " + updated[i]);
            EXPECT_FALSE(fs::exists(t.FTarget + "/" + deleted[i]));
        }
    }
    t.FOptions.FRelease = nullptr;
    EXPECT_EQ(OpenDescriptors(), before);
}

} // namespace

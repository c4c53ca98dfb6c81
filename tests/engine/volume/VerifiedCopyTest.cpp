#include "SyncHarness.h"

#include "FaultyVolume.h"
#include "engine/volume/VerifiedCopy.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Lines = TStringList;

// Flips the byte at `at` of the copy as read back from the device, for the
// first `times` copies (none: the plain local volume).
void CorruptCopies(TSyncHarness& t, int times, off_t at = 5) {
    if (times == 0) {
        t.FOptions.FTargetVolume = t.FOptions.FWriteVolume = nullptr;
        return;
    }
    auto volume = std::make_shared<TFaultyVolume>(t.FOptions.FTargetRoot);
    auto left = std::make_shared<int>(times);
    volume->FReadBackFault = [left, at](char* data, std::size_t size, off_t offset) {
        if (*left > 0 && offset <= at && at < offset + static_cast<off_t>(size)) {
            --*left;
            data[at - offset] = static_cast<char>(data[at - offset] ^ 0x20);
        }
    };
    t.FOptions.FTargetVolume = t.FOptions.FWriteVolume = volume;
}

std::size_t EntriesIn(const std::string& folder) {
    std::size_t count = 0;
    DIR* dir = opendir(folder.c_str());
    while (const dirent* entry = readdir(dir)) {
        count += entry->d_name[0] != '.' || (entry->d_name[1] != '\0' && entry->d_name[1] != '.') ? 1 : 0;
    }
    closedir(dir);
    return count;
}

TEST(VerifiedCopyTest, ACorruptedCopyIsRetriedOnceThenFailsAndLeavesTheOldTarget) {
    TSyncHarness t;
    t.FOptions.FVerifyCopy = true;
    const std::string contents(20 * 1024 * 1024 + 3, 'v'); // past the single-call limit too
    WriteTextFile(t.FSource + "/a.txt", "source text a");
    WriteTextFile(t.FSource + "/big.bin", contents);
    WriteTextFile(t.FTarget + "/a.txt", "old target a");

    CorruptCopies(t, 2); // both attempts of a.txt
    TPhaseResult result = ApplyPhase(TApplyPhase::Update, {"a.txt"}, t.FOptions, t.FLog, SilentProgress());
    EXPECT_EQ(result.FFailed, 1);
    ASSERT_EQ(result.FFailures.size(), 1u);
    EXPECT_EQ(result.FFailures[0].FReason, ReasonVerifyFailed);
    EXPECT_EQ(ReadTextFile(t.FTarget + "/a.txt"), "old target a");
    EXPECT_EQ(EntriesIn(t.FTarget), 1u); // no temporary file left

    CorruptCopies(t, 1); // the retry is clean
    result = ApplyPhase(TApplyPhase::Update, {"a.txt"}, t.FOptions, t.FLog, SilentProgress());
    EXPECT_EQ(result.FDone, 1);
    EXPECT_EQ(ReadTextFile(t.FTarget + "/a.txt"), "source text a");

    // A flipped byte far into a big copy, in a stretch read back while the next is written.
    CorruptCopies(t, 2, 17 * 1024 * 1024 + 1);
    result = ApplyPhase(TApplyPhase::New, {"big.bin"}, t.FOptions, t.FLog, SilentProgress());
    EXPECT_EQ(result.FFailed, 1);
    EXPECT_EQ(EntriesIn(t.FTarget), 1u);

    CorruptCopies(t, 0);
    // A sparse source stays sparse.
    WriteTextFile(t.FSource + "/sparse.bin", "head");
    ASSERT_EQ(truncate((t.FSource + "/sparse.bin").c_str(), 64 * 1024 * 1024), 0);
    result = ApplyPhase(TApplyPhase::New, {"big.bin", "sparse.bin"}, t.FOptions, t.FLog, SilentProgress());
    EXPECT_EQ(result.FDone, 2);
    EXPECT_EQ(ReadTextFile(t.FTarget + "/big.bin"), contents);
    struct stat sparse {};
    ASSERT_EQ(stat((t.FTarget + "/sparse.bin").c_str(), &sparse), 0);
    EXPECT_EQ(sparse.st_size, 64 * 1024 * 1024);
    EXPECT_LT(sparse.st_blocks * 512, sparse.st_size / 4);
}

} // namespace

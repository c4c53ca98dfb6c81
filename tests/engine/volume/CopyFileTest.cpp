#include "engine/volume/CopyFile.h"

#include "TempDir.h"
#include "config/CustomPublic.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

timespec MtimeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mtim;
}

// A file of the given size whose bytes vary, so that misplaced blocks show.
void WritePatternFile(const std::string& path, std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    }
    WriteTextFile(path, data);
}

std::size_t EntriesIn(const std::string& folder) {
    std::size_t count = 0;
    DIR* dir = opendir(folder.c_str());
    while (const dirent* entry = readdir(dir)) {
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") {
            ++count;
        }
    }
    closedir(dir);
    return count;
}

class CopyFileTest : public ::testing::TestWithParam<std::size_t> {
protected:
    TTempDir FDir;
    std::string FSource = FDir / "source.bin";
    std::string FTarget = FDir / "out/target.bin";
};

// Both copy paths: up to the limit in one call, above it in blocks.
INSTANTIATE_TEST_SUITE_P(SmallAndLarge, CopyFileTest,
                         ::testing::Values(std::size_t{0}, std::size_t{10 * 1024 * 1024},
                                           std::size_t{10 * 1024 * 1024 + 1}));

TEST_P(CopyFileTest, CopiesContentsPermissionBitsAndModificationTime) {
    WritePatternFile(FSource, GetParam());
    chmod(FSource.c_str(), 0640);
    SetModifiedTime(FSource, 1'200'000'000, 123'456'789);
    MakeFolder(FDir / "out");
    ASSERT_TRUE(CopyOneFile(FSource, FTarget, true));
    EXPECT_EQ(ReadTextFile(FTarget), ReadTextFile(FSource));
    EXPECT_EQ(ModeOf(FTarget), 0640u);
    EXPECT_EQ(MtimeOf(FTarget).tv_sec, 1'200'000'000);
    EXPECT_EQ(MtimeOf(FTarget).tv_nsec, 123'456'789);
    EXPECT_EQ(EntriesIn(FDir / "out"), 1u);
}

TEST_P(CopyFileTest, AStoppedCopyLeavesTheOldTargetAndNoTemporaryFile) {
    WritePatternFile(FSource, GetParam());
    WriteTextFile(FTarget, "the user's file");
    int polls = 0;
    const bool copied = CopyOneFile(FSource, FTarget, false, [&] { return ++polls > 1; });
    if (GetParam() > SingleCallCopyLimit) {
        EXPECT_FALSE(copied);
        EXPECT_EQ(ReadTextFile(FTarget), "the user's file");
    } else {
        EXPECT_TRUE(copied); // a single-call copy is not interrupted
    }
    EXPECT_EQ(EntriesIn(FDir / "out"), 1u);
}

TEST(CopyOneFile, FailIfExistsLeavesAnExistingTargetUntouched) {
    TTempDir dir;
    WriteTextFile(dir / "a", "new");
    WriteTextFile(dir / "b", "existing");
    EXPECT_FALSE(CopyOneFile(dir / "a", dir / "b", true));
    EXPECT_EQ(ReadTextFile(dir / "b"), "existing");
    EXPECT_TRUE(CopyOneFile(dir / "a", dir / "b", false));
    EXPECT_EQ(ReadTextFile(dir / "b"), "new");
}

TEST(CopyOneFile, AMissingSourceRaisesAndAMissingTargetFolderFails) {
    TTempDir dir;
    EXPECT_THROW(CopyOneFile(dir / "missing", dir / "b", false), EInOutError);
    WriteTextFile(dir / "a", "a");
    EXPECT_FALSE(CopyOneFile(dir / "a", dir / "no/such/folder/b", false));
}

TEST(CopyOneFile, ATargetThatIsAFolderIsNotReplaced) {
    TTempDir dir;
    WriteTextFile(dir / "a", "a");
    WriteTextFile(dir / "b/inside", "kept");
    EXPECT_FALSE(CopyOneFile(dir / "a", dir / "b", false));
    EXPECT_EQ(ReadTextFile(dir / "b/inside"), "kept");
    EXPECT_EQ(EntriesIn(dir.Path()), 2u);
}

} // namespace

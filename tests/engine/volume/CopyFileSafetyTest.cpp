// The copy reads only regular files without ever waiting on them, keeps holes,
// and never replaces a target that appears while it writes a new one.

#include "engine/volume/CopyFile.h"

#include "TempDir.h"
#include "config/CustomPublic.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(CopyFileSafety, APipeIsRefusedAtOnceWithoutWaitingForAWriter) {
    TTempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
    std::string reason;
    EXPECT_FALSE(CopyOneFile(dir / "pipe", dir / "copy", false, {}, &reason));
    EXPECT_EQ(reason, "not a regular file");
    EXPECT_FALSE(PathExists(dir / "copy"));
}

class CopyFileSparseTest : public ::testing::TestWithParam<std::int64_t> {};

// Below and above the block-copy limit.
INSTANTIATE_TEST_SUITE_P(SmallAndLarge, CopyFileSparseTest,
                         ::testing::Values(std::int64_t{8} << 20, std::int64_t{256} << 20));

TEST_P(CopyFileSparseTest, HolesStayHolesAndTheDataLandsInPlace) {
    TTempDir dir;
    const std::int64_t size = GetParam();
    const std::string source = dir / "sparse.bin";
    const int fd = open(source.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const std::string head = "head of the file";
    const std::string middle = "in the middle";
    ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(pwrite(fd, middle.data(), middle.size(), size / 2), static_cast<ssize_t>(middle.size()));
    ASSERT_EQ(ftruncate(fd, size), 0); // ends with a hole
    close(fd);

    ASSERT_TRUE(CopyOneFile(source, dir / "copy.bin", true));
    struct stat copied {};
    ASSERT_EQ(stat((dir / "copy.bin").c_str(), &copied), 0);
    EXPECT_EQ(copied.st_size, size);
    EXPECT_LT(copied.st_blocks * 512, 1 << 20) << "the holes were filled";
    const int in = open((dir / "copy.bin").c_str(), O_RDONLY);
    std::string read(middle.size(), '\0');
    ASSERT_EQ(pread(in, read.data(), read.size(), size / 2), static_cast<ssize_t>(read.size()));
    EXPECT_EQ(read, middle);
    char zero = 1;
    ASSERT_EQ(pread(in, &zero, 1, size - 1), 1);
    EXPECT_EQ(zero, 0);
    close(in);
}

TEST(CopyFileSafety, ANewTargetThatAppearsDuringTheCopyIsNeverReplaced) {
    TTempDir dir;
    const std::string source = dir / "big.bin";
    WriteTextFile(source, std::string(static_cast<std::size_t>(SingleCallCopyLimit) + 4096, 'b'));
    const std::string target = dir / "target.bin";
    int polls = 0;
    // The stop test runs between blocks: the race is won on purpose there.
    const TStopTest createTarget = [&] {
        if (++polls == 1) {
            WriteTextFile(target, "written meanwhile");
        }
        return false;
    };
    std::string reason;
    EXPECT_FALSE(CopyOneFile(source, target, true, createTarget, &reason));
    EXPECT_GT(polls, 1);
    EXPECT_EQ(reason, "File exists");
    EXPECT_EQ(ReadTextFile(target), "written meanwhile");
    // And no temporary file is left beside it.
    int entries = 0;
    DIR* listing = opendir(dir.Path().c_str());
    while (const dirent* entry = readdir(listing)) {
        entries += entry->d_name[0] == '.' ? 0 : 1;
    }
    closedir(listing);
    EXPECT_EQ(entries, 2);
}

} // namespace

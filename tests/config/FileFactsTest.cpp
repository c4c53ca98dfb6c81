#include "config/FileFacts.h"
#include "config/CustomPublic.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(FileFacts, OneLookUpTellsExistenceKindTimeAndSize) {
    TTempDir dir;
    WriteTextFile(dir / "file.txt", "hello");
    SetModifiedTime(dir / "file.txt", 1'650'000'000, 987'654'321);
    MakeFolder(dir / "folder");

    const TFileFacts file = ReadFileFacts(dir / "file.txt");
    EXPECT_TRUE(file.FExists);
    EXPECT_FALSE(file.FIsFolder);
    EXPECT_EQ(file.FSize, 5);
    EXPECT_EQ(file.FModified, TFmCustomPublic::GetFileModifiedTime(dir / "file.txt"));
    EXPECT_EQ(file.FModified, LocalDateTimeFromUnix(1'650'000'000, 987'000'000));

    const TFileFacts folder = ReadFileFacts(dir / "folder");
    EXPECT_TRUE(folder.FExists);
    EXPECT_TRUE(folder.FIsFolder);
    EXPECT_EQ(folder.FSize, 0);

    const TFileFacts missing = ReadFileFacts(dir / "missing");
    EXPECT_FALSE(missing.FExists);
    EXPECT_FALSE(missing.FIsFolder);
    EXPECT_EQ(missing.FModified, TDateTime{});
    EXPECT_EQ(missing.FSize, 0);
}

TEST(FileFacts, SizesBeyondFourGibibytesAreExact) {
    TTempDir dir;
    const std::string path = dir / "sparse.bin";
    const std::int64_t size = (std::int64_t{4} << 30) + 1;
    WriteTextFile(path, "");
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0);
    EXPECT_EQ(ReadFileFacts(path).FSize, size);
}

TEST(FileFacts, ExistenceTestsTellFilesFromFoldersAndFollowLinks) {
    TTempDir dir;
    WriteTextFile(dir / "file.txt", "x");
    MakeFolder(dir / "folder");
    ASSERT_EQ(symlink((dir / "file.txt").c_str(), (dir / "to-file").c_str()), 0);
    ASSERT_EQ(symlink((dir / "folder").c_str(), (dir / "to-folder").c_str()), 0);
    ASSERT_EQ(symlink((dir / "missing").c_str(), (dir / "dangling").c_str()), 0);

    const struct {
        const char* FName;
        bool FFile;
        bool FFolder;
    } cases[] = {{"file.txt", true, false},  {"folder", false, true},    {"to-file", true, false},
                 {"to-folder", false, true}, {"dangling", false, false}, {"missing", false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(FileExists(dir / c.FName), c.FFile) << c.FName;
        EXPECT_EQ(FolderExists(dir / c.FName), c.FFolder) << c.FName;
        EXPECT_EQ(ReadFileFacts(dir / c.FName).FIsFolder, c.FFolder) << c.FName;
    }
    EXPECT_TRUE(FolderExists(dir / "folder/"));
    EXPECT_FALSE(FileExists(dir / "file.txt/"));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FolderExists(""));
}

TEST(FileFacts, OnlyAPathThatIsNotThereCountsAsAbsent) {
    TTempDir dir;
    WriteTextFile(dir / "file.txt", "x");
    ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
    for (const std::string& absent : {dir / "missing", dir / "file.txt/below", dir / "missing/below"}) {
        const TFileFacts facts = ReadFileFacts(absent);
        EXPECT_FALSE(facts.FExists) << absent;
        EXPECT_EQ(facts.FError, 0) << absent;
    }
    // Nothing is known about these: they are errors, not absences.
    const TFileFacts loop = ReadFileFacts(dir / "loop");
    EXPECT_FALSE(loop.FExists);
    EXPECT_EQ(loop.FError, ELOOP);
    const TFileFacts tooLong = ReadFileFacts(dir / std::string(5000, 'n'));
    EXPECT_FALSE(tooLong.FExists);
    EXPECT_EQ(tooLong.FError, ENAMETOOLONG);
    EXPECT_EQ(ErrorText(ENAMETOOLONG), "File name too long");
}

} // namespace

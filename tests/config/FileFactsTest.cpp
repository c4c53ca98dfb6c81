#include "config/FileFacts.h"
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

// Sets TZ for one test and puts the previous value back.
class TScopedTimeZone {
public:
    explicit TScopedTimeZone(const char* zone) {
        if (const char* previous = std::getenv("TZ")) {
            FHadPrevious = true;
            FPrevious = previous;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TScopedTimeZone() {
        if (FHadPrevious) {
            setenv("TZ", FPrevious.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    TScopedTimeZone(const TScopedTimeZone&) = delete;
    TScopedTimeZone& operator=(const TScopedTimeZone&) = delete;

private:
    bool FHadPrevious = false;
    std::string FPrevious;
};

TEST(FileFactsTime, MissingPathGivesTheZeroDateTime) {
    TTempDir dir;
    EXPECT_EQ(ReadFileFacts(dir / "missing.txt").FModified, TDateTime{});
    EXPECT_EQ(ReadFileFacts("").FModified, TDateTime{});
}

TEST(FileFactsTime, TimesAreCutToWholeMilliseconds) {
    TScopedTimeZone zone("UTC");
    TTempDir dir;
    const std::int64_t second = 1'700'000'000; // 2023-11-14 22:13:20 UTC
    const std::pair<const char*, std::int64_t> files[] = {
        {"a", 123'100'000}, {"b", 123'500'000}, {"c", 123'999'999}, {"d", 124'000'000}};
    for (const auto& [name, nanoseconds] : files) {
        WriteTextFile(dir / name, name);
        SetModifiedTime(dir / name, second, nanoseconds);
    }
    const TDateTime a = ReadFileFacts(dir / "a").FModified;
    EXPECT_EQ(a, ReadFileFacts(dir / "b").FModified) << "0.4 ms apart in the same millisecond";
    EXPECT_EQ(a, ReadFileFacts(dir / "c").FModified) << "cut, not rounded";
    EXPECT_EQ(ReadFileFacts(dir / "d").FModified.FMilliseconds, a.FMilliseconds + 1);
    EXPECT_EQ(a, EncodeDateTime({2023, 11, 14, 22, 13, 20, 123}));
}

TEST(FileFactsTime, LocalTimeUsesTheOffsetInForceAtTheFileTime) {
    TScopedTimeZone zone("Europe/Berlin");
    TTempDir dir;
    const struct {
        const char* FName;
        std::int64_t FUtc;
        TDateTimeFields FLocal;
    } cases[] = {
        {"january", 1'610'712'000, {2021, 1, 15, 13, 0, 0, 0}}, // 12:00 UTC, winter time +1
        {"july", 1'626'350'400, {2021, 7, 15, 14, 0, 0, 0}},    // 12:00 UTC, summer time +2
        {"before-spring", 1'616'891'400, {2021, 3, 28, 1, 30, 0, 0}},
        {"after-spring", 1'616'895'000, {2021, 3, 28, 3, 30, 0, 0}},
        // The hour that repeats in autumn: two instants, one wall-clock time.
        {"autumn-first", 1'635'640'200, {2021, 10, 31, 2, 30, 0, 0}},
        {"autumn-second", 1'635'643'800, {2021, 10, 31, 2, 30, 0, 0}},
    };
    for (const auto& c : cases) {
        WriteTextFile(dir / c.FName, c.FName);
        SetModifiedTime(dir / c.FName, c.FUtc, 250'000'000);
        TDateTimeFields expected = c.FLocal;
        expected.FMillisecond = 250;
        EXPECT_EQ(ReadFileFacts(dir / c.FName).FModified, EncodeDateTime(expected)) << c.FName;
        EXPECT_EQ(LocalDateTimeFromUnix(c.FUtc, 250'000'000), EncodeDateTime(expected)) << c.FName;
    }
}

TEST(FileFactsTime, LinksToFilesGiveTheTimeOfTheFile) {
    TTempDir dir;
    WriteTextFile(dir / "file.txt", "x");
    SetModifiedTime(dir / "file.txt", 1'600'000'000, 5'000'000);
    ASSERT_EQ(symlink((dir / "file.txt").c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(ReadFileFacts(dir / "link").FModified, ReadFileFacts(dir / "file.txt").FModified);
    EXPECT_EQ(ReadFileFacts(dir / "file.txt").FModified, LocalDateTimeFromUnix(1'600'000'000, 5'000'000));
}

} // namespace

#include "config/CustomPublic.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

TStringList Split(const std::string& text, const std::string& separator = "|") {
    TStringList list = {"previous", "content"};
    TFmCustomPublic::SplitKeywords(text, list, separator);
    return list;
}

TEST(CustomPublicKeywords, SplitKeywordsMakesOneItemPerSeparatedPart) {
    EXPECT_EQ(Split(""), TStringList{});
    EXPECT_EQ(Split("bak"), (TStringList{"bak"}));
    EXPECT_EQ(Split("a|b|c"), (TStringList{"a", "b", "c"}));
    // Empty parts between separators stay; a final separator adds no empty item.
    EXPECT_EQ(Split("bak|"), (TStringList{"bak"}));
    EXPECT_EQ(Split("bak||"), (TStringList{"bak", ""}));
    EXPECT_EQ(Split("|bak"), (TStringList{"", "bak"}));
    EXPECT_EQ(Split("|"), (TStringList{""}));
    EXPECT_EQ(Split(" a | b "), (TStringList{" a ", " b "}));
}

TEST(CustomPublicKeywords, SplitKeywordsTreatsLineBreaksInTheTextAsSeparators) {
    EXPECT_EQ(Split("a\r\nb\nc\rd"), (TStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(Split("a\n\rb"), (TStringList{"a", "", "b"}));
    EXPECT_EQ(Split("a\r\n"), (TStringList{"a"}));
    // A separator becomes a break of its own next to a break of the text.
    EXPECT_EQ(Split("a|\nb"), (TStringList{"a", "", "b"}));
    EXPECT_EQ(Split("a\r|b"), (TStringList{"a", "", "b"}));
}

TEST(CustomPublicKeywords, SplitKeywordsMatchesTheSeparatorWithoutRegardToCase) {
    EXPECT_EQ(Split("oneANDtwoandthreeAnd", "and"), (TStringList{"one", "two", "three"}));
    // The separator is replaced before the text is read as lines.
    EXPECT_EQ(Split("a\r\nb", "\n"), (TStringList{"a", "", "b"}));
    EXPECT_EQ(Split("a|b", ""), (TStringList{"a|b"}));
}

TEST(CustomPublicKeywords, ContainsAnyKeywordFindsTheFirstNonEmptyItemAsASubstring) {
    EXPECT_FALSE(TFmCustomPublic::ContainsAnyKeyword("/bak/", nullptr));
    const TStringList none;
    EXPECT_FALSE(TFmCustomPublic::ContainsAnyKeyword("/bak/", &none));
    const TStringList empties = {"", ""};
    EXPECT_FALSE(TFmCustomPublic::ContainsAnyKeyword("/bak/", &empties));
    EXPECT_FALSE(TFmCustomPublic::ContainsAnyKeyword("", &empties));

    const TStringList keywords = {"", "/Bak/", "2005"};
    EXPECT_TRUE(TFmCustomPublic::ContainsAnyKeyword("/old/BAK/x/", &keywords));
    EXPECT_TRUE(TFmCustomPublic::ContainsAnyKeyword("/img/2005/", &keywords));
    EXPECT_FALSE(TFmCustomPublic::ContainsAnyKeyword("/backup/", &keywords));
    EXPECT_FALSE(TFmCustomPublic::ContainsAnyKeyword("/mybak/", &keywords));

    // Only A-Z fold: É (C3 89) and é (C3 A9) stay different.
    const TStringList accented = {"CAF\xc3\xa9"};
    EXPECT_TRUE(TFmCustomPublic::ContainsAnyKeyword("/caf\xc3\xa9/", &accented));
    EXPECT_FALSE(TFmCustomPublic::ContainsAnyKeyword("/caf\xc3\x89/", &accented));
}

TEST(CustomPublicPaths, IsFolderEntryLooksAtTheLastCharacter) {
    EXPECT_FALSE(TFmCustomPublic::IsFolderEntry(""));
    EXPECT_TRUE(TFmCustomPublic::IsFolderEntry("/"));
    EXPECT_TRUE(TFmCustomPublic::IsFolderEntry("/src/img/"));
    EXPECT_TRUE(TFmCustomPublic::IsFolderEntry("img/"));
    EXPECT_FALSE(TFmCustomPublic::IsFolderEntry("/src/img"));
    EXPECT_FALSE(TFmCustomPublic::IsFolderEntry("/src/img\\"));
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

TEST(CustomPublicFileTime, MissingPathGivesTheZeroDateTime) {
    TTempDir dir;
    EXPECT_EQ(TFmCustomPublic::GetFileModifiedTime(dir / "missing.txt"), TDateTime{});
    EXPECT_EQ(TFmCustomPublic::GetFileModifiedTime(""), TDateTime{});
}

TEST(CustomPublicFileTime, TimesAreCutToWholeMilliseconds) {
    TScopedTimeZone zone("UTC");
    TTempDir dir;
    const std::int64_t second = 1'700'000'000; // 2023-11-14 22:13:20 UTC
    const std::pair<const char*, std::int64_t> files[] = {
        {"a", 123'100'000}, {"b", 123'500'000}, {"c", 123'999'999}, {"d", 124'000'000}};
    for (const auto& [name, nanoseconds] : files) {
        WriteTextFile(dir / name, name);
        SetModifiedTime(dir / name, second, nanoseconds);
    }
    const TDateTime a = TFmCustomPublic::GetFileModifiedTime(dir / "a");
    EXPECT_EQ(a, TFmCustomPublic::GetFileModifiedTime(dir / "b")) << "0.4 ms apart in the same millisecond";
    EXPECT_EQ(a, TFmCustomPublic::GetFileModifiedTime(dir / "c")) << "cut, not rounded";
    EXPECT_EQ(TFmCustomPublic::GetFileModifiedTime(dir / "d").FMilliseconds, a.FMilliseconds + 1);
    EXPECT_EQ(a, EncodeDateTime({2023, 11, 14, 22, 13, 20, 123}));
}

TEST(CustomPublicFileTime, LocalTimeUsesTheOffsetInForceAtTheFileTime) {
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
        EXPECT_EQ(TFmCustomPublic::GetFileModifiedTime(dir / c.FName), EncodeDateTime(expected)) << c.FName;
        EXPECT_EQ(TFmCustomPublic::FileTimeToLocalDateTime(c.FUtc, 250'000'000), EncodeDateTime(expected))
            << c.FName;
    }
}

TEST(CustomPublicFileTime, LinksToFilesGiveTheTimeOfTheFile) {
    TTempDir dir;
    WriteTextFile(dir / "file.txt", "x");
    SetModifiedTime(dir / "file.txt", 1'600'000'000, 5'000'000);
    ASSERT_EQ(symlink((dir / "file.txt").c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(TFmCustomPublic::GetFileModifiedTime(dir / "link"),
              TFmCustomPublic::GetFileModifiedTime(dir / "file.txt"));
    EXPECT_EQ(TFmCustomPublic::GetFileModifiedTime(dir / "file.txt"),
              TFmCustomPublic::FileTimeToLocalDateTime(1'600'000'000, 5'000'000));
}

TEST(CustomPublicFileSize, MissingFilesAndFoldersMeasureZero) {
    TTempDir dir;
    EXPECT_EQ(TFmCustomPublic::GetFileSizeBytes(dir / "missing"), 0);
    EXPECT_EQ(TFmCustomPublic::GetFileSizeBytes(dir.Path()), 0);
    ASSERT_EQ(symlink((dir / "nothing").c_str(), (dir / "dangling").c_str()), 0);
    EXPECT_EQ(TFmCustomPublic::GetFileSizeBytes(dir / "dangling"), 0);
    WriteTextFile(dir / "empty", "");
    EXPECT_EQ(TFmCustomPublic::GetFileSizeBytes(dir / "empty"), 0);
    WriteTextFile(dir / "small", "12345");
    EXPECT_EQ(TFmCustomPublic::GetFileSizeBytes(dir / "small"), 5);
}

TEST(CustomPublicFileSize, SizesBeyondFourGibibytesAreExact) {
    TTempDir dir;
    const std::string path = dir / "sparse.bin";
    const std::int64_t size = (std::int64_t{5} << 30) + 7; // 5 GiB + 7: wrong in 32 bits either way
    WriteTextFile(path, "");
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0) << "the file system refuses sparse files";
    EXPECT_EQ(TFmCustomPublic::GetFileSizeBytes(path), size);
}

TEST(CustomPublicFileSize, AFileThatCannotBeOpenedRaisesAnInOutError) {
    TTempDir dir;
    // A socket is a file that exists and that open() refuses, even to the super-user.
    const std::string path = dir / "socket";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_THROW(TFmCustomPublic::GetFileSizeBytes(path), EInOutError);
    close(listener);

    if (geteuid() != 0) {
        WriteTextFile(dir / "locked", "secret");
        ASSERT_EQ(chmod((dir / "locked").c_str(), 0), 0);
        EXPECT_THROW(TFmCustomPublic::GetFileSizeBytes(dir / "locked"), EInOutError);
    }
}

TEST(CustomPublicFileSize, ANamedPipeIsMeasuredWithoutWaitingForAWriter) {
    TTempDir dir;
    const std::string path = dir / "pipe";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    auto size = std::async(std::launch::async, [&] { return TFmCustomPublic::GetFileSizeBytes(path); });
    if (size.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "measuring a named pipe waits for a writer";
        // Open the other end so that the waiting call can finish.
        const int fd = open(path.c_str(), O_RDWR);
        size.wait();
        close(fd);
        return;
    }
    EXPECT_EQ(size.get(), 0);
}

} // namespace

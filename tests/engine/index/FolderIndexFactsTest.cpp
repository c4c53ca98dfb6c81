#include "engine/index/FolderIndexFacts.h"
#include "config/CustomPublic.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace {

void ExpectSameFacts(const TFileFacts& actual, const TFileFacts& expected, const std::string& path) {
    EXPECT_EQ(actual.FExists, expected.FExists) << path;
    EXPECT_EQ(actual.FIsFolder, expected.FIsFolder) << path;
    EXPECT_EQ(actual.FModified, expected.FModified) << path;
    EXPECT_EQ(actual.FSize, expected.FSize) << path;
}

// A few real files, a folder and a missing path, repeated until the list is
// long enough to be shared out among threads.
TStringList LongPathList(const TTempDir& dir, std::size_t count) {
    TStringList kinds;
    for (int i = 0; i < 5; ++i) {
        const std::string path = dir / ("file" + std::to_string(i) + ".txt");
        WriteTextFile(path, std::string(static_cast<std::size_t>(i) * 10, 'x'));
        SetModifiedTime(path, 1'600'000'000 + i * 3600, i * 1'000'000);
        kinds.push_back(path);
    }
    MakeFolder(dir / "folder");
    kinds.push_back(dir / "folder/");
    kinds.push_back(dir / "missing");
    TStringList paths;
    for (std::size_t i = 0; i < count; ++i) {
        paths.push_back(kinds[i % kinds.size()]);
    }
    return paths;
}

TEST(FolderIndexFacts, FactsOfALongListMatchOneLookUpEachInOrder) {
    TTempDir dir;
    const TStringList paths = LongPathList(dir, 20'011);
    std::vector<TFileFacts> facts = {TFileFacts{true, true, TDateTime{1}, 99}};
    ReadFileFactsOfAll(paths, facts);
    ASSERT_EQ(facts.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        ExpectSameFacts(facts[i], ReadFileFacts(paths[i]), paths[i]);
    }
}

TEST(FolderIndexFacts, StopTestRunsOnTheCallingThreadAndEndsTheReading) {
    TTempDir dir;
    const TStringList paths = LongPathList(dir, 20'000);
    const std::thread::id caller = std::this_thread::get_id();
    int calls = 0;
    bool otherThread = false;
    std::vector<TFileFacts> facts;
    ReadFileFactsOfAll(paths, facts, [&] {
        otherThread = otherThread || std::this_thread::get_id() != caller;
        return ++calls > 3;
    });
    EXPECT_FALSE(otherThread);
    EXPECT_LE(calls, 4);
    ASSERT_EQ(facts.size(), paths.size());
    // What was read is right; what was not read is left at its defaults.
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (facts[i].FExists || !ReadFileFacts(paths[i]).FExists) {
            ExpectSameFacts(facts[i], ReadFileFacts(paths[i]), paths[i]);
        } else {
            ExpectSameFacts(facts[i], TFileFacts{}, paths[i]);
        }
    }

    // A short list is read by the calling thread alone, one block per stop test.
    const TStringList shortList(paths.begin(), paths.begin() + 1000);
    calls = 0;
    ReadFileFactsOfAll(shortList, facts, [&] { return ++calls > 1; });
    ASSERT_EQ(facts.size(), shortList.size());
    std::size_t read = 0;
    for (const TFileFacts& one : facts) {
        read += one.FExists ? 1 : 0;
    }
    std::size_t readable = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        readable += ReadFileFacts(shortList[i]).FExists ? 1 : 0;
    }
    EXPECT_EQ(read, readable) << "exactly the first block is read before the stop";

    ReadFileFactsOfAll(shortList, facts, [] { return true; });
    for (const TFileFacts& one : facts) {
        EXPECT_FALSE(one.FExists);
    }
}

TEST(FolderIndexFacts, AFailingStopTestLeavesNoThreadBehind) {
    TTempDir dir;
    const TStringList paths = LongPathList(dir, 20'000);
    std::vector<TFileFacts> facts;
    int calls = 0;
    EXPECT_THROW(ReadFileFactsOfAll(paths, facts,
                                    [&]() -> bool {
                                        if (++calls == 2) {
                                            throw std::runtime_error("stop test failed");
                                        }
                                        return false;
                                    }),
                 std::runtime_error);
}

TEST(FolderIndexFacts, IndexWithFactsGivesTheFactsOfEachEntry) {
    TTempDir dir;
    WriteTextFile(dir / "a.txt", "abc");
    WriteTextFile(dir / "sub/b.jpg", "12345");
    WriteTextFile(dir / "sub/c.tmp", "skip");
    SetModifiedTime(dir / "sub/b.jpg", 1'500'000'000, 123'456'789);
    ASSERT_EQ(symlink((dir / "sub/b.jpg").c_str(), (dir / "link.jpg").c_str()), 0);

    TStringList index;
    std::vector<TFileFacts> facts;
    BuildFolderIndexWithFacts(dir.Path(), "", "tmp", "", "", index, facts, true, true, true);
    TStringList plain;
    BuildFolderIndex(dir.Path(), "", "tmp", "", "", plain, true, true, true);
    EXPECT_EQ(index, plain);
    ASSERT_EQ(facts.size(), index.size());
    ASSERT_EQ(index.size(), 4u);
    for (std::size_t i = 0; i < index.size(); ++i) {
        ExpectSameFacts(facts[i], ReadFileFacts(index[i]), index[i]);
        EXPECT_EQ(facts[i].FIsFolder, TFmCustomPublic::IsFolderEntry(index[i])) << index[i];
    }

    TStringList stopped = {"old"};
    facts.assign(3, TFileFacts{});
    BuildFolderIndexWithFacts(dir.Path(), "", "", "", "", stopped, facts, true, false, true,
                              [] { return true; });
    EXPECT_TRUE(stopped.empty());
    EXPECT_TRUE(facts.empty());
}

} // namespace

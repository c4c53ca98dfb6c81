// The compact index of a big check: entries across many blocks read back as
// they were added, filtering keeps the order, and the look-up of relative
// paths finds exactly the entries.
#include "engine/PathList.h"

#include <gtest/gtest.h>

#include <string>

TEST(PathList, EntriesAcrossBlocksReadBackAndAreFoundByTheirRelativePath) {
    const std::string root = "/src/";
    TPathList paths;
    const auto nameOf = [](int i) {
        return "d" + std::to_string(i % 97) + "/file " + std::to_string(i) + ".dat";
    };
    const int count = 120000; // some 2.5 MB of text: several blocks
    for (int i = 0; i < count; ++i) {
        paths.push_back(root, nameOf(i));
    }
    paths.push_back(root + "d1/"); // a folder entry, in one piece
    ASSERT_EQ(paths.size(), static_cast<std::size_t>(count) + 1);
    for (int i = 0; i < count; i += 997) {
        ASSERT_EQ(paths[i], root + nameOf(i)) << i;
    }
    EXPECT_EQ(paths[count - 1], root + nameOf(count - 1));
    EXPECT_EQ(paths[count], "/src/d1/");

    const TPathListLookup lookup(paths, root.size());
    for (int i = 0; i < count; i += 101) {
        EXPECT_TRUE(lookup.Contains(nameOf(i))) << i;
    }
    EXPECT_TRUE(lookup.Contains("d1/"));
    EXPECT_FALSE(lookup.Contains("d1"));
    EXPECT_FALSE(lookup.Contains(nameOf(count)));
    EXPECT_FALSE(lookup.Contains(root + nameOf(0))); // relative paths only
    EXPECT_FALSE(lookup.Contains(""));

    paths.RemoveIf([&](std::string_view path) { return path.substr(root.size(), 3) == "d3/"; });
    std::size_t kept = 0;
    for (int i = 0; i < count; ++i) {
        if (i % 97 != 3) {
            ASSERT_EQ(paths[kept], root + nameOf(i)) << i;
            ++kept;
        }
    }
    EXPECT_EQ(paths.size(), kept + 1);
    paths.clear();
    EXPECT_TRUE(paths.empty());
}

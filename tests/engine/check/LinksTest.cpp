#include "SyncHarness.h"

#include "engine/versions/VersionList.h"
#include "engine/versions/Versions.h"

#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Lines = TStringList;

void MakeLink(const std::string& text, const std::string& path) {
    ASSERT_EQ(symlink(text.c_str(), path.c_str()), 0) << path;
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string LinkText(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string("(no link)") : std::string(buffer, static_cast<std::size_t>(n));
}

// The source holds a link to a file, one to a folder and a dangling one; the
// target holds a file where the source has a link, a stale link, a surplus
// link to a folder outside, and a link where the source has a file.
struct TLinkTrees : TSyncHarness {
    std::string FOutside = FDir / "outside";
    TLinkTrees() {
        WriteTextFile(FSource + "/file.txt", "file");
        MakeFolder(FSource + "/folder");
        WriteTextFile(FSource + "/folder/inner.txt", "inner");
        MakeLink("file.txt", FSource + "/to-file");
        MakeLink("folder", FSource + "/to-folder");
        MakeLink("nowhere", FSource + "/dangling");
        MakeLink("file.txt", FSource + "/replaces-file");
        MakeLink("new-text", FSource + "/stale");
        WriteTextFile(FSource + "/plain.txt", "plain");
        WriteTextFile(FSource + "/linked-dir/a.txt", "a");

        WriteTextFile(FOutside + "/keep.txt", "outside");
        WriteTextFile(FTarget + "/replaces-file", "a file in the way");
        MakeLink("old-text", FTarget + "/stale");
        MakeLink(FOutside, FTarget + "/surplus-link");
        MakeLink(FOutside + "/keep.txt", FTarget + "/plain.txt");
        MakeLink(FOutside, FTarget + "/linked-dir");
    }
};

TEST(LinksTest, EachLinkChoiceListsCopiesAndDeletesLinksAsItSays) {
    {
        SCOPED_TRACE("link: links are entries of their own, copied with their text");
        TLinkTrees t;
        t.FSettings.FLinks = TLinkMode::Link;
        t.FSettings.FIncludeFolders = true;
        t.Check();
        EXPECT_EQ(t.FPlan.FNewList,
                  (Lines{"dangling", "file.txt", "folder/", "folder/inner.txt", "linked-dir/",
                         "linked-dir/a.txt", "plain.txt", "to-file", "to-folder"}));
        EXPECT_EQ(t.FPlan.FUpdateList, (Lines{"replaces-file", "stale"}));
        EXPECT_EQ(t.FPlan.FDeleteList, Lines{"surplus-link"});
        t.Apply();
        EXPECT_EQ(t.FNew.FFailed + t.FUpdate.FFailed + t.FDelete.FFailed, 0);
        EXPECT_EQ(LinkText(t.FTarget + "/to-file"), "file.txt");
        EXPECT_EQ(LinkText(t.FTarget + "/to-folder"), "folder");
        EXPECT_EQ(LinkText(t.FTarget + "/dangling"), "nowhere");
        EXPECT_EQ(LinkText(t.FTarget + "/replaces-file"), "file.txt");
        EXPECT_EQ(LinkText(t.FTarget + "/stale"), "new-text");
        EXPECT_FALSE(IsLink(t.FTarget + "/surplus-link"));
        // Links in the target where the source has a file or a folder gave way; nothing outside changed.
        EXPECT_FALSE(IsLink(t.FTarget + "/plain.txt"));
        EXPECT_EQ(ReadTextFile(t.FTarget + "/plain.txt"), "plain");
        EXPECT_TRUE(IsFolder(t.FTarget + "/linked-dir"));
        EXPECT_EQ(ReadTextFile(t.FTarget + "/linked-dir/a.txt"), "a");
        EXPECT_EQ(ReadTextFile(t.FOutside + "/keep.txt"), "outside");
        EXPECT_FALSE(PathExists(t.FOutside + "/a.txt"));
        // A second check finds nothing to do, whatever the links' times.
        t.Check();
        EXPECT_TRUE(t.FPlan.FNewList.empty() && t.FPlan.FUpdateList.empty() && t.FPlan.FDeleteList.empty());
    }
    {
        SCOPED_TRACE("link, without folder entries: a link on the way is replaced by the folder");
        TLinkTrees t;
        t.FSettings.FLinks = TLinkMode::Link;
        t.Sync();
        EXPECT_EQ(t.FNew.FFailed, 0);
        EXPECT_TRUE(IsFolder(t.FTarget + "/linked-dir"));
        EXPECT_EQ(ReadTextFile(t.FOutside + "/keep.txt"), "outside");
    }
    {
        SCOPED_TRACE("skip: links are neither listed nor copied nor deleted, on either side");
        TLinkTrees t;
        t.FSettings.FLinks = TLinkMode::Skip;
        t.Check();
        EXPECT_EQ(t.FPlan.FNewList, (Lines{"file.txt", "folder/inner.txt"}));
        EXPECT_TRUE(t.FPlan.FUpdateList.empty());
        // A target file where the source has a link is not taken for surplus.
        EXPECT_TRUE(t.FPlan.FDeleteList.empty());
        t.Apply();
        EXPECT_EQ(LinkText(t.FTarget + "/surplus-link"), t.FOutside);
        EXPECT_EQ(LinkText(t.FTarget + "/plain.txt"), t.FOutside + "/keep.txt");
        EXPECT_EQ(LinkText(t.FTarget + "/stale"), "old-text");
        EXPECT_FALSE(PathExists(t.FTarget + "/to-file"));
        EXPECT_EQ(ReadTextFile(t.FOutside + "/keep.txt"), "outside");
    }
    {
        SCOPED_TRACE("file: a link to a file is its contents, a link to a folder is left out");
        TLinkTrees t;
        t.Check();
        EXPECT_EQ(t.FPlan.FNewList, (Lines{"file.txt", "folder/inner.txt", "linked-dir/a.txt", "to-file"}));
        t.Apply();
        EXPECT_FALSE(IsLink(t.FTarget + "/to-file"));
        EXPECT_EQ(ReadTextFile(t.FTarget + "/to-file"), "file");
        EXPECT_FALSE(PathExists(t.FTarget + "/to-folder"));
    }
}

TEST(LinksTest, ALinkInTheTargetIsNeverFollowedWithLinksKeptAsLinks) {
    TSyncHarness t;
    t.FSettings.FLinks = TLinkMode::Link;
    const std::string outside = t.FDir / "outside";
    WriteTextFile(outside + "/victim.txt", "untouched");
    WriteTextFile(outside + "/sub/old.txt", "untouched");
    // The source has real files where the target has a link to the outside folder.
    WriteTextFile(t.FSource + "/via/victim.txt", "from the source");
    WriteTextFile(t.FSource + "/via/sub/new.txt", "new");
    ASSERT_EQ(symlink(outside.c_str(), (t.FTarget + "/via").c_str()), 0);
    // A surplus link into the outside folder.
    ASSERT_EQ(symlink((outside + "/victim.txt").c_str(), (t.FTarget + "/gone").c_str()), 0);
    t.Sync();
    EXPECT_EQ(ReadTextFile(outside + "/victim.txt"), "untouched");
    EXPECT_EQ(ReadTextFile(outside + "/sub/old.txt"), "untouched");
    EXPECT_FALSE(PathExists(outside + "/sub/new.txt"));
    EXPECT_TRUE(IsFolder(t.FTarget + "/via"));
    EXPECT_EQ(ReadTextFile(t.FTarget + "/via/victim.txt"), "from the source");
    EXPECT_FALSE(IsLink(t.FTarget + "/gone"));
    EXPECT_TRUE(t.FPlan.FErrors.empty());
}

// The source has a link where the target has a folder with files, a
// subfolder and a link to a folder outside.
struct TLinkOverFolder : TSyncHarness {
    std::string FOutside = FDir / "outside";
    TLinkOverFolder() {
        FSettings.FLinks = TLinkMode::Link;
        MakeLink("elsewhere", FSource + "/x");
        WriteTextFile(FTarget + "/x/a.txt", "a");
        WriteTextFile(FTarget + "/x/sub/b.txt", "b");
        WriteTextFile(FOutside + "/keep.txt", "outside");
        MakeLink(FOutside, FTarget + "/x/out");
    }
};

TEST(LinksTest, ALinkTakesThePlaceOfAFolderWithContentsOnlyWhenSurplusEntriesAreDeleted) {
    {
        SCOPED_TRACE("deleting surplus, with versions and folder entries: the contents are kept as versions");
        TLinkOverFolder t;
        t.FSettings.FIncludeFolders = true;
        const std::string versions = t.FDir / "versions/";
        t.FOptions.FVersions = std::make_shared<TVersionStore>(versions, Now());
        t.Sync();
        EXPECT_EQ(t.FPlan.FUpdateList, Lines{"x"});
        EXPECT_EQ(t.FUpdate.FDone, 1);
        EXPECT_EQ(t.FUpdate.FFailed + t.FDelete.FFailed, 0);
        EXPECT_EQ(LinkText(t.FTarget + "/x"), "elsewhere");
        Lines kept;
        for (const TVersionFile& version : ListVersions(versions)) {
            kept.push_back(version.FPath);
        }
        EXPECT_EQ(kept, (Lines{"x/a.txt", "x/out", "x/sub/b.txt"}));
        EXPECT_EQ(ReadTextFile(t.FOutside + "/keep.txt"), "outside");
        t.Check();
        EXPECT_TRUE(t.FPlan.FNewList.empty() && t.FPlan.FUpdateList.empty() && t.FPlan.FDeleteList.empty());
    }
    {
        SCOPED_TRACE("deleting surplus, without versions");
        TLinkOverFolder t;
        t.Sync();
        EXPECT_EQ(t.FUpdate.FFailed + t.FDelete.FFailed, 0);
        EXPECT_EQ(LinkText(t.FTarget + "/x"), "elsewhere");
        EXPECT_EQ(ReadTextFile(t.FOutside + "/keep.txt"), "outside");
    }
    {
        SCOPED_TRACE("not deleting surplus: the item fails and the folder stays as it was");
        TLinkOverFolder t;
        t.FSettings.FDeletePass = false;
        t.Sync();
        ASSERT_EQ(t.FUpdate.FFailures.size(), 1u);
        EXPECT_NE(t.FUpdate.FFailures[0].FReason.find("folder"), std::string::npos);
        EXPECT_EQ(ReadTextFile(t.FTarget + "/x/a.txt"), "a");
        EXPECT_EQ(ReadTextFile(t.FTarget + "/x/sub/b.txt"), "b");
        EXPECT_EQ(LinkText(t.FTarget + "/x/out"), t.FOutside);
    }
}

TEST(LinksTest, LongLinkTextsAreCopiedAndComparedWhole) {
    TSyncHarness t;
    t.FSettings.FLinks = TLinkMode::Link;
    const auto text = [](std::size_t size, char last) {
        std::string result;
        while (result.size() + 1 < size) {
            result += result.size() % 100 == 99 ? '/' : 'n';
        }
        return result + last;
    };
    MakeLink(text(300, 'a'), t.FSource + "/new-300");
    MakeLink(text(4000, 'a'), t.FSource + "/new-4000");
    MakeLink(text(300, 'a'), t.FSource + "/same");
    MakeLink(text(300, 'a'), t.FTarget + "/same");
    MakeLink(text(300, 'a'), t.FSource + "/differs-late");
    MakeLink(text(300, 'b'), t.FTarget + "/differs-late");
    t.Sync();
    EXPECT_EQ(t.FPlan.FNewList, (Lines{"new-300", "new-4000"}));
    EXPECT_EQ(t.FPlan.FUpdateList, Lines{"differs-late"});
    EXPECT_EQ(LinkText(t.FTarget + "/new-300"), text(300, 'a'));
    EXPECT_EQ(LinkText(t.FTarget + "/new-4000"), text(4000, 'a'));
    EXPECT_EQ(LinkText(t.FTarget + "/differs-late"), text(300, 'a'));
}

} // namespace

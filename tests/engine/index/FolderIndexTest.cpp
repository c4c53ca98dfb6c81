#include "engine/index/FolderIndex.h"
#include "Unprivileged.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <unistd.h>

namespace {

// Switches of one index run, set by name: TIndexOptions().Folders().TargetPass().
struct TIndexOptions {
    bool FIncludeFolders = false;
    bool FTargetPass = false;
    bool FRecurse = true;
    std::string FExcludePaths;

    TIndexOptions& Folders(bool on = true) {
        FIncludeFolders = on;
        return *this;
    }
    TIndexOptions& TargetPass(bool on = true) {
        FTargetPass = on;
        return *this;
    }
    TIndexOptions& Recurse(bool on) {
        FRecurse = on;
        return *this;
    }
    TIndexOptions& ExcludePaths(std::string text) {
        FExcludePaths = std::move(text);
        return *this;
    }
};

// The index of root, without filters unless asked.
TStringList IndexOf(const std::string& root, const TIndexOptions& options, const TStopTest& stop = {}) {
    TStringList index;
    BuildFolderIndex(root, "", "", "", options.FExcludePaths, index, options.FIncludeFolders,
                     options.FTargetPass, options.FRecurse, stop);
    return index;
}

// The entries below root (root + "/" cut off), sorted, for checks that do not
// depend on listing order.
TStringList Relative(const TStringList& index, const std::string& root) {
    TStringList relative;
    for (const std::string& entry : index) {
        EXPECT_EQ(entry.compare(0, root.size() + 1, root + "/"), 0) << entry;
        relative.push_back(entry.substr(root.size() + 1));
    }
    std::sort(relative.begin(), relative.end());
    return relative;
}

std::ptrdiff_t PositionOf(const TStringList& index, const std::string& entry) {
    const auto it = std::find(index.begin(), index.end(), entry);
    EXPECT_NE(it, index.end()) << entry << " is missing";
    return it - index.begin();
}

void MakeLink(const std::string& target, const std::string& link) {
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
}

// photos/2005/a.jpg, photos/b.jpg, docs/c.txt, empty/, top.txt
void MakeSmallTree(const TTempDir& dir) {
    WriteTextFile(dir / "photos/2005/a.jpg", "a");
    WriteTextFile(dir / "photos/b.jpg", "b");
    WriteTextFile(dir / "docs/c.txt", "c");
    MakeFolder(dir / "empty");
    WriteTextFile(dir / "top.txt", "t");
}

TEST(FolderIndexOrder, SourcePassPutsEachFolderBeforeItsContentsAndTargetPassAfter) {
    TTempDir dir;
    MakeSmallTree(dir);
    const std::string root = dir.Path();
    const TStringList everything = {"docs/",        "docs/c.txt",        "empty/",       "photos/",
                                    "photos/2005/", "photos/2005/a.jpg", "photos/b.jpg", "top.txt"};

    for (const bool targetPass : {false, true}) {
        SCOPED_TRACE(targetPass ? "target pass" : "source pass");
        const TStringList index = IndexOf(root, TIndexOptions().Folders().TargetPass(targetPass));
        EXPECT_EQ(Relative(index, root), everything);

        const auto folder = [&](const std::string& name) { return PositionOf(index, root + "/" + name); };
        const auto expectOrder = [&](const std::string& first, const std::string& second) {
            EXPECT_LT(folder(first), folder(second)) << first << " should precede " << second;
        };
        if (targetPass) {
            expectOrder("photos/2005/a.jpg", "photos/2005/");
            expectOrder("photos/2005/", "photos/");
            expectOrder("photos/b.jpg", "photos/");
            expectOrder("docs/c.txt", "docs/");
        } else {
            expectOrder("photos/", "photos/2005/");
            expectOrder("photos/2005/", "photos/2005/a.jpg");
            expectOrder("photos/", "photos/b.jpg");
            expectOrder("docs/", "docs/c.txt");
        }
        // Depth first: everything below photos/ forms one run with its folder entry.
        const auto first = std::min(
            {folder("photos/"), folder("photos/2005/"), folder("photos/2005/a.jpg"), folder("photos/b.jpg")});
        const auto last = std::max(
            {folder("photos/"), folder("photos/2005/"), folder("photos/2005/a.jpg"), folder("photos/b.jpg")});
        EXPECT_EQ(last - first, 3);
    }
}

TEST(FolderIndexOrder, FoldersAreWalkedButNotListedWithoutIncludeFolders) {
    TTempDir dir;
    MakeSmallTree(dir);
    for (const bool targetPass : {false, true}) {
        const TStringList index = IndexOf(dir.Path(), TIndexOptions().TargetPass(targetPass));
        EXPECT_EQ(Relative(index, dir.Path()),
                  (TStringList{"docs/c.txt", "photos/2005/a.jpg", "photos/b.jpg", "top.txt"}));
    }
}

TEST(FolderIndexOrder, WithoutRecurseSubfoldersAreListedButNotEntered) {
    TTempDir dir;
    MakeSmallTree(dir);
    EXPECT_EQ(Relative(IndexOf(dir.Path(), TIndexOptions().Folders().Recurse(false)), dir.Path()),
              (TStringList{"docs/", "empty/", "photos/", "top.txt"}));
    EXPECT_EQ(Relative(IndexOf(dir.Path(), TIndexOptions().Recurse(false)), dir.Path()),
              (TStringList{"top.txt"}));
}

TEST(FolderIndexRoot, TrailingDelimiterOnTheRootChangesNothing) {
    TTempDir dir;
    MakeSmallTree(dir);
    MakeFolder(dir / "photos/docs");
    // The exclude keyword "/docs/" must see the relative path "/docs/" in both forms.
    const TIndexOptions options = TIndexOptions().Folders().ExcludePaths("/docs/");
    const TStringList without = IndexOf(dir.Path(), options);
    const TStringList with = IndexOf(dir.Path() + "/", options);
    EXPECT_EQ(with, without);
    EXPECT_EQ(Relative(without, dir.Path()), (TStringList{"empty/", "photos/", "photos/2005/",
                                                          "photos/2005/a.jpg", "photos/b.jpg", "top.txt"}));
}

TEST(FolderIndexRoot, MissingEmptyOrFileRootGivesAnEmptyIndex) {
    TTempDir dir;
    WriteTextFile(dir / "file.txt", "x");
    for (const std::string& root : {dir / "missing", dir / "missing/", dir / "file.txt", std::string()}) {
        TStringList index = {"left over from before"};
        BuildFolderIndex(root, "", "", "", "", index, true, false, true);
        EXPECT_TRUE(index.empty()) << "root \"" << root << "\" gave " << index.size() << " entries";
    }
}

TEST(FolderIndexRoot, TheFileSystemRootIsWalkedWithRelativePathsFromItsDelimiter) {
    const TStringList index = IndexOf("/", TIndexOptions().Folders().Recurse(false));
    ASSERT_NE(std::find(index.begin(), index.end(), "/usr/"), index.end());
    for (const std::string& entry : index) {
        EXPECT_NE(entry.substr(0, 2), "//") << entry;
    }
    // With a root length of 0 the relative path of /usr is "/usr/" itself.
    const TStringList excluded = IndexOf("/", TIndexOptions().Folders().Recurse(false).ExcludePaths("/usr/"));
    EXPECT_EQ(std::find(excluded.begin(), excluded.end(), "/usr/"), excluded.end());
    EXPECT_EQ(excluded.size() + 1, index.size());
}

TEST(FolderIndexRoot, RootGivenAsLinkToAFolderIsWalked) {
    TTempDir dir;
    WriteTextFile(dir / "real/a.txt", "a");
    MakeLink(dir / "real", dir / "alias");
    EXPECT_EQ(IndexOf(dir / "alias", TIndexOptions()), (TStringList{dir / "alias/a.txt"}));
}

TEST(FolderIndexNames, DotFilesAndDotFoldersAreIndexed) {
    TTempDir dir;
    WriteTextFile(dir / ".hidden", "h");
    WriteTextFile(dir / ".config/settings.ini", "s");
    WriteTextFile(dir / "..double", "d");
    EXPECT_EQ(Relative(IndexOf(dir.Path(), TIndexOptions().Folders()), dir.Path()),
              (TStringList{"..double", ".config/", ".config/settings.ini", ".hidden"}));
}

TEST(FolderIndexNames, NamesThatAreNotUtf8AreKeptByteForByte) {
    TTempDir dir;
    const std::string folder = "\xfe\xfd";
    const std::string file = "caf\xff.txt";
    const std::string latin1 = "na\xefve"; // ISO 8859-1, invalid as UTF-8
    WriteTextFile(dir / (folder + "/" + file), "x");
    WriteTextFile(dir / latin1, "y");
    const TStringList index = IndexOf(dir.Path(), TIndexOptions().Folders());
    EXPECT_EQ(Relative(index, dir.Path()), (TStringList{latin1, folder + "/", folder + "/" + file}));
    for (const std::string& entry : index) {
        EXPECT_TRUE(PathExists(entry)) << entry;
    }
}

TEST(FolderIndexLinks, LinksToFoldersAreSkippedAndLinksToFilesAreFiles) {
    TTempDir dir;
    WriteTextFile(dir / "a/b/deep.txt", "d");
    WriteTextFile(dir / "outside/secret.txt", "s");
    const std::string root = dir / "a";
    MakeLink(root, dir / "a/b/loop");                   // to an ancestor
    MakeLink("..", dir / "a/b/up");                     // relative, to the parent
    MakeLink(dir / "outside", dir / "a/elsewhere");     // out of the tree
    MakeLink(dir / "a/b/deep.txt", dir / "a/shortcut"); // to a file
    MakeLink(dir / "a/nothing", dir / "a/dangling");    // to nothing: not a folder, so a file

    for (const bool includeFolders : {false, true}) {
        TStringList expected = {"b/deep.txt", "dangling", "shortcut"};
        if (includeFolders) {
            expected.insert(expected.begin(), "b/");
        }
        EXPECT_EQ(Relative(IndexOf(root, TIndexOptions().Folders(includeFolders)), root), expected);
    }
}

TEST(FolderIndexAccess, AnUnreadableFolderIsStillAFolderAndItsListingAnError) {
    if (!PermissionsCanBind()) {
        GTEST_SKIP() << "no unprivileged user";
    }
    TTempDir dir;
    OpenToEveryone(dir.Path());
    WriteTextFile(dir / "open/a.txt", "a");
    WriteTextFile(dir / "locked/b.txt", "b");
    ASSERT_EQ(chmod((dir / "locked").c_str(), 0), 0);
    const auto indexAndErrors = [&] {
        std::vector<TItemFailure> errors;
        TStringList index;
        BuildFolderIndex(dir.Path(), "", "", "", "", index, true, false, true, {}, &errors);
        for (const TItemFailure& error : errors) {
            index.push_back("error " + error.FPath + " " + error.FReason);
        }
        std::string text;
        for (const std::string& line : index) {
            text += line + "\n";
        }
        return text;
    };
    EXPECT_EQ(RunUnprivileged(indexAndErrors), dir / "locked/\n" + dir / "open/\n" + dir / "open/a.txt\n" +
                                                   "error " + dir / "locked/ Permission denied\n");
    ASSERT_EQ(chmod(dir.Path().c_str(), 0), 0);
    EXPECT_EQ(RunUnprivileged(indexAndErrors), "error " + dir / " Permission denied\n");
    chmod(dir.Path().c_str(), 0700);
}

// A stop test that answers false to its first `allowed` calls and true after.
struct TStopAfter {
    int FAllowed;
    int FCalls = 0;
    bool operator()() { return ++FCalls > FAllowed; }
};

TEST(FolderIndexStop, StopAlreadySetGivesAnEmptyIndex) {
    TTempDir dir;
    MakeSmallTree(dir);
    TStringList index = {"left over"};
    int calls = 0;
    BuildFolderIndex(dir.Path(), "", "", "", "", index, true, false, true, [&] {
        ++calls;
        return true;
    });
    EXPECT_TRUE(index.empty());
    EXPECT_EQ(calls, 1);
}

TEST(FolderIndexStop, OpenListingsFinishButNoFurtherFolderIsEntered) {
    TTempDir dir;
    MakeSmallTree(dir);
    const std::string root = dir.Path();

    // Stopped after the root: its files and its subfolders' entries remain.
    for (const bool targetPass : {false, true}) {
        TStopAfter stop{1};
        const TStringList index =
            IndexOf(root, TIndexOptions().Folders().TargetPass(targetPass), std::ref(stop));
        EXPECT_EQ(Relative(index, root), (TStringList{"docs/", "empty/", "photos/", "top.txt"}));
        EXPECT_EQ(stop.FCalls, 4) << "one test per folder met: the root and its three subfolders";
    }

    // Stopped after the root and a/: a/ is listed to its end, a/b/ is not entered.
    TTempDir chain;
    WriteTextFile(chain / "root.txt", "r");
    WriteTextFile(chain / "a/one.txt", "1");
    WriteTextFile(chain / "a/two.txt", "2");
    WriteTextFile(chain / "a/b/deep.txt", "d");
    for (const bool targetPass : {false, true}) {
        TStopAfter stop{2};
        const TStringList index =
            IndexOf(chain.Path(), TIndexOptions().Folders().TargetPass(targetPass), std::ref(stop));
        EXPECT_EQ(Relative(index, chain.Path()),
                  (TStringList{"a/", "a/b/", "a/one.txt", "a/two.txt", "root.txt"}));
    }
}

TEST(FolderIndexStop, ExceptionFromTheStopTestPassesThroughAndKeepsEntriesSoFar) {
    TTempDir dir;
    MakeFolder(dir / "sub");
    TStringList index;
    int calls = 0;
    const TStopTest failing = [&]() -> bool {
        if (++calls == 2) {
            throw std::runtime_error("stop test failed");
        }
        return false;
    };
    EXPECT_THROW(BuildFolderIndex(dir.Path(), "", "", "", "", index, true, false, true, failing),
                 std::runtime_error);
    EXPECT_EQ(index, (TStringList{dir / "sub/"}));
}

} // namespace

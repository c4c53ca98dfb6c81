#include "engine/index/FolderIndex.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The four keyword texts and the include-folders switch, set by name.
struct TFilters {
    std::string FIncludeTypes;
    std::string FExcludeTypes;
    std::string FIncludePaths;
    std::string FExcludePaths;
    bool FIncludeFolders = false;

    TFilters& IncludeTypes(std::string text) {
        FIncludeTypes = std::move(text);
        return *this;
    }
    TFilters& ExcludeTypes(std::string text) {
        FExcludeTypes = std::move(text);
        return *this;
    }
    TFilters& IncludePaths(std::string text) {
        FIncludePaths = std::move(text);
        return *this;
    }
    TFilters& ExcludePaths(std::string text) {
        FExcludePaths = std::move(text);
        return *this;
    }
    TFilters& Folders() {
        FIncludeFolders = true;
        return *this;
    }
};

// The sorted entries below root that pass the filters, without the root.
TStringList Passing(const TTempDir& dir, const TFilters& filters) {
    TStringList index;
    BuildFolderIndex(dir.Path(), filters.FIncludeTypes, filters.FExcludeTypes, filters.FIncludePaths,
                     filters.FExcludePaths, index, filters.FIncludeFolders, false, true);
    TStringList relative;
    for (const std::string& entry : index) {
        EXPECT_EQ(entry.compare(0, dir.Path().size() + 1, dir.Path() + "/"), 0) << entry;
        relative.push_back(entry.substr(dir.Path().size() + 1));
    }
    std::sort(relative.begin(), relative.end());
    return relative;
}

void MakeFiles(const TTempDir& dir, const TStringList& names) {
    for (const std::string& name : names) {
        WriteTextFile(dir / name, "x");
    }
}

TEST(KeywordTypeFilter, EmptyTextsLetEveryFileAndFolderThrough) {
    TTempDir dir;
    MakeFiles(dir, {"a.jpg", "README", "notes.", "sub/b.tmp", "sub/deeper/c"});
    MakeFolder(dir / "sub/empty");
    EXPECT_EQ(Passing(dir, TFilters().Folders()),
              (TStringList{"README", "a.jpg", "notes.", "sub/", "sub/b.tmp", "sub/deeper/", "sub/deeper/c",
                           "sub/empty/"}));
}

TEST(KeywordTypeFilter, IncludeTypesMatchTheExtensionAsASubstringOfTheWholeText) {
    TTempDir dir;
    MakeFiles(dir, {"a.JPG", "b.jpeg", "README", "c.jp", "d.pg", "e.g", "f.mp", "g.bmp", "h.jpg|bmp", "i.pgj",
                    "photo.bmp.txt", "sub/j.Jpg", "sub/k.png"});
    // Files in subfolders meet the same test as files in the root.
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes("jpg|bmp")),
              (TStringList{"a.JPG", "c.jp", "d.pg", "e.g", "f.mp", "g.bmp", "h.jpg|bmp", "sub/j.Jpg"}));
    // The text is lower-cased as well.
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes("JPG")),
              (TStringList{"a.JPG", "c.jp", "d.pg", "e.g", "sub/j.Jpg"}));
}

TEST(KeywordTypeFilter, TheExtensionIsWhatFollowsTheLastDot) {
    TTempDir dir;
    MakeFiles(dir, {"archive.tar.gz", "notes.", "README", ".bashrc", "x.TAR"});
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes("gz")), (TStringList{"archive.tar.gz"}));
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes("tar")), (TStringList{"x.TAR"}));
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes("bashrc")), (TStringList{".bashrc"}));
    // Names without an extension pass only an empty include text and are never excluded.
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes("txt")), TStringList{});
    EXPECT_EQ(Passing(dir, TFilters().ExcludeTypes("gz|tar|bashrc")), (TStringList{"README", "notes."}));
}

TEST(KeywordTypeFilter, ExcludeTypesAreTrimmedAndLowerCased) {
    TTempDir dir;
    MakeFiles(dir, {"a.tmp", "b.tm", "c.mp", "d.t", "e.txt", "f.TMP", "README"});
    const TStringList kept = {"README", "e.txt"};
    EXPECT_EQ(Passing(dir, TFilters().ExcludeTypes("tmp")), kept);
    EXPECT_EQ(Passing(dir, TFilters().ExcludeTypes("  tmp\t\r\n")), kept);
    EXPECT_EQ(Passing(dir, TFilters().ExcludeTypes(" TMP ")), kept);
    // Blanks only: nothing left, so nothing is excluded.
    EXPECT_EQ(Passing(dir, TFilters().ExcludeTypes(" \t ")).size(), 7u);
}

TEST(KeywordTypeFilter, IncludeTypesOfASingleBlankLetNoFileThrough) {
    TTempDir dir;
    MakeFiles(dir, {"a.jpg", "README", "notes.", "sub/b.txt"});
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes(" ").Folders()), (TStringList{"sub/"}));
    // An include text is not trimmed: " jpg" still holds "jpg".
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes(" jpg ")), (TStringList{"a.jpg"}));
}

TEST(KeywordTypeFilter, OnlyTheLettersAToZAreFolded) {
    TTempDir dir;
    const std::string upperE = "\xc3\x89"; // É in UTF-8
    const std::string lowerE = "\xc3\xa9"; // é in UTF-8
    MakeFiles(dir, {"a." + upperE, "b." + lowerE, "c.caf" + lowerE});
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes(lowerE)), (TStringList{"b." + lowerE}));
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes("CAF" + lowerE)),
              (TStringList{"b." + lowerE, "c.caf" + lowerE}));
}

TEST(KeywordPathFilter, EmptyKeywordsNeverMatch) {
    TTempDir dir;
    MakeFiles(dir, {"bak/a.txt", "keep/b.txt", "top.txt"});
    const TStringList withoutBak = {"keep/", "keep/b.txt", "top.txt"};
    for (const char* text : {"bak||", "|bak", "bak|", "||bak||", "\r\nbak\r\n"}) {
        EXPECT_EQ(Passing(dir, TFilters().ExcludePaths(text).Folders()), withoutBak) << text;
    }
    // An include list made only of empty keywords still has items, and none of them matches.
    EXPECT_EQ(Passing(dir, TFilters().IncludePaths("|").Folders()), (TStringList{"top.txt"}));
}

TEST(KeywordPathFilter, AFailingFolderIsNeitherListedNorEntered) {
    TTempDir dir;
    MakeFiles(dir, {"photos/2005/a.jpg", "photos/b.jpg", "2005/c.jpg", "top.jpg"});
    // photos/ itself does not hold "2005", so photos/2005/ is never reached.
    EXPECT_EQ(Passing(dir, TFilters().IncludePaths("2005").Folders()),
              (TStringList{"2005/", "2005/c.jpg", "top.jpg"}));
    // Below a passing folder every relative path still holds the keyword.
    EXPECT_EQ(Passing(dir, TFilters().IncludePaths("/photos/").Folders()),
              (TStringList{"photos/", "photos/2005/", "photos/2005/a.jpg", "photos/b.jpg", "top.jpg"}));
}

TEST(KeywordPathFilter, DelimitersAnchorAKeywordToWholeFolderNames) {
    TTempDir dir;
    MakeFiles(dir, {"bak/a.txt", "bak/inner/b.txt", "docs/bak/c.txt", "backup/d.txt", "old/mybak/e.txt",
                    "bakery/f.txt", "top.txt"});
    EXPECT_EQ(Passing(dir, TFilters().ExcludePaths("/bak/")),
              (TStringList{"backup/d.txt", "bakery/f.txt", "old/mybak/e.txt", "top.txt"}));
    // Without delimiters any run of letters matches; "backup" holds no "bak".
    EXPECT_EQ(Passing(dir, TFilters().ExcludePaths("bak")), (TStringList{"backup/d.txt", "top.txt"}));
}

TEST(KeywordPathFilter, KeywordsActOnFoldersBelowTheRootOnly) {
    TTempDir dir;
    // The root's own name holds the keyword, as do file names.
    const std::string root = dir / "bak";
    WriteTextFile(root + "/bak.txt", "x");
    WriteTextFile(root + "/sub/bak.txt", "x");
    WriteTextFile(root + "/bak/skipped.txt", "x");
    TStringList index;
    BuildFolderIndex(root, "", "", "", "bak", index, false, false, true);
    std::sort(index.begin(), index.end());
    EXPECT_EQ(index, (TStringList{root + "/bak.txt", root + "/sub/bak.txt"}));
    BuildFolderIndex(root + "/", "", "", "", "bak", index, false, false, true);
    std::sort(index.begin(), index.end());
    EXPECT_EQ(index, (TStringList{root + "/bak.txt", root + "/sub/bak.txt"}));
}

TEST(KeywordPathFilter, KeywordsAndPathsAreComparedWithoutRegardToAToZCase) {
    TTempDir dir;
    MakeFiles(dir, {"photos/a.jpg", "PHOTOS2/b.jpg", "other/c.jpg"});
    EXPECT_EQ(Passing(dir, TFilters().IncludePaths("/Photos")),
              (TStringList{"PHOTOS2/b.jpg", "photos/a.jpg"}));
    EXPECT_EQ(Passing(dir, TFilters().IncludePaths("/Photos/")), (TStringList{"photos/a.jpg"}));
    const std::string upperE = "\xc3\x89";
    const std::string lowerE = "\xc3\xa9";
    MakeFiles(dir, {"caf" + lowerE + "/d.jpg"});
    EXPECT_EQ(Passing(dir, TFilters().IncludePaths("CAF" + lowerE)),
              (TStringList{"caf" + lowerE + "/d.jpg"}));
    EXPECT_EQ(Passing(dir, TFilters().IncludePaths("caf" + upperE)), TStringList{});
}

TEST(KeywordPathFilter, IncludeAndExcludeTogetherAndKeywordsOnSeveralLines) {
    TTempDir dir;
    MakeFiles(dir, {"img/2005/a.jpg", "img/2005/bak/b.jpg", "img/2006/c.jpg", "doc/d.txt"});
    EXPECT_EQ(Passing(dir, TFilters().IncludePaths("/img/\r\n/doc/").ExcludePaths("/2006/|/BAK/").Folders()),
              (TStringList{"doc/", "doc/d.txt", "img/", "img/2005/", "img/2005/a.jpg"}));
    // The type and path filters together.
    EXPECT_EQ(Passing(dir, TFilters().IncludeTypes("jpg").ExcludePaths("/2006/")),
              (TStringList{"img/2005/a.jpg", "img/2005/bak/b.jpg"}));
}

} // namespace

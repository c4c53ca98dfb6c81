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

} // namespace

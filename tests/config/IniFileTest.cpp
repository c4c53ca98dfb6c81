// How the configuration file stores sections, keys and values.

#include "config/IniFile.h"
#include "config/Gb18030.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class IniFileTest : public ::testing::Test {
protected:
    TTempDir FDir;
    std::string FPath = FDir / "pairwell.ini";
    TIniFile FIni{FPath};

    std::string OnDisk() const { return ReadTextFile(FPath); }
};

TEST_F(IniFileTest, MissingFileReadsAsEmptyAndFirstWriteCreatesIt) {
    TStringList list{"left over"};
    EXPECT_EQ(FIni.ReadString("system", "project", "none"), "none");
    FIni.ReadSections(list);
    EXPECT_TRUE(list.empty());
    list = {"left over"};
    FIni.ReadSection("system", list);
    EXPECT_TRUE(list.empty());
    FIni.EraseSection("system");
    EXPECT_FALSE(PathExists(FPath)) << "reading or erasing nothing must not create the file";

    FIni.WriteString("system", "project", "");
    EXPECT_EQ(OnDisk(), "[system]\r\nproject=\r\n");
    EXPECT_EQ(FIni.ReadString("system", "project", "none"), "") << "an empty value is still a value";
}

TEST_F(IniFileTest, NamesMatchWithoutRegardToLetterCase) {
    FIni.WriteString("project_A", "Source", "one");
    FIni.WriteString("PROJECT_a", "SOURCE", "two");
    FIni.WriteString("project_a", "target", "three");

    EXPECT_EQ(OnDisk(), "[project_A]\r\nSource=two\r\ntarget=three\r\n")
        << "the first spelling stays in the file";
    EXPECT_EQ(FIni.ReadString("Project_A", "source", ""), "two");
    TStringList list;
    FIni.ReadSections(list);
    EXPECT_EQ(list, TStringList{"project_A"});
    FIni.ReadSection("PROJECT_A", list);
    EXPECT_EQ(list, (TStringList{"Source", "target"}));

    // Only A-Z fold: other letters keep their case.
    FIni.WriteString("ä", "k", "small");
    FIni.WriteString("Ä", "k", "capital");
    EXPECT_EQ(FIni.ReadString("ä", "k", ""), "small");
    EXPECT_EQ(FIni.ReadString("Ä", "k", ""), "capital");
}

TEST_F(IniFileTest, SectionsSpelledTwiceActAsOne) {
    WriteTextFile(FPath, "[a]\r\nk=first\r\n[b]\r\nx=1\r\n[A]\r\nK=second\r\nm=2\r\n");
    EXPECT_EQ(FIni.ReadString("a", "k", ""), "first");
    EXPECT_EQ(FIni.ReadString("a", "m", ""), "2");
    TStringList list;
    FIni.ReadSections(list);
    EXPECT_EQ(list, (TStringList{"a", "b"}));
    FIni.ReadSection("a", list);
    EXPECT_EQ(list, (TStringList{"k", "m"}));

    FIni.WriteString("a", "k", "new");
    FIni.WriteString("a", "n", "3");
    EXPECT_EQ(OnDisk(), "[a]\r\nk=new\r\n[b]\r\nx=1\r\n[A]\r\nK=second\r\nm=2\r\nn=3\r\n");
    FIni.EraseSection("a");
    EXPECT_EQ(OnDisk(), "[b]\r\nx=1\r\n");
}

TEST_F(IniFileTest, NewKeysGoToTheEndOfTheirSectionAndNewSectionsToTheEndOfTheFile) {
    FIni.WriteString("one", "a", "1");
    FIni.WriteString("two", "a", "2");
    FIni.WriteString("one", "b", "3");
    FIni.WriteString("three", "a", "4");
    FIni.WriteString("two", "b", "5");
    EXPECT_EQ(OnDisk(), "[one]\r\na=1\r\nb=3\r\n[two]\r\na=2\r\nb=5\r\n[three]\r\na=4\r\n");

    TStringList list;
    FIni.ReadSections(list);
    EXPECT_EQ(list, (TStringList{"one", "two", "three"}));
}

TEST_F(IniFileTest, ReplacesValuesInPlaceAndKeepsUnrelatedLines) {
    const std::string before = "; settings\r\n"
                               "loose line before any section\r\n"
                               "\r\n"
                               "[one]\r\n"
                               "# a comment\r\n"
                               "a=1\r\n"
                               "no equals sign here\r\n"
                               "b = 2\r\n"
                               "\r\n"
                               "[two]\r\n"
                               "c=3\r\n";
    WriteTextFile(FPath, before);
    FIni.WriteString("one", "a", "first");
    FIni.WriteString("ONE", "B", "second");
    FIni.WriteString("one", "new", "third");
    EXPECT_EQ(OnDisk(), "; settings\r\n"
                        "loose line before any section\r\n"
                        "\r\n"
                        "[one]\r\n"
                        "# a comment\r\n"
                        "a=first\r\n"
                        "no equals sign here\r\n"
                        "b = second\r\n"
                        "new=third\r\n"
                        "\r\n"
                        "[two]\r\n"
                        "c=3\r\n");
    EXPECT_EQ(FIni.ReadString("one", "b", ""), "second");

    FIni.EraseSection("two");
    EXPECT_EQ(OnDisk(), "; settings\r\n"
                        "loose line before any section\r\n"
                        "\r\n"
                        "[one]\r\n"
                        "# a comment\r\n"
                        "a=first\r\n"
                        "no equals sign here\r\n"
                        "b = second\r\n"
                        "new=third\r\n"
                        "\r\n");
}

TEST_F(IniFileTest, EraseSectionRemovesOnlyThatSection) {
    FIni.WriteString("project_x", "source", "/src");
    FIni.WriteString("project_y", "source", "/other");
    FIni.WriteString("project_x", "target", "/dst");
    FIni.EraseSection("PROJECT_X");

    EXPECT_EQ(OnDisk(), "[project_y]\r\nsource=/other\r\n");
    EXPECT_EQ(FIni.ReadString("project_x", "source", "gone"), "gone");
    FIni.EraseSection("never there");
    EXPECT_EQ(OnDisk(), "[project_y]\r\nsource=/other\r\n");

    FIni.WriteString("project_x", "source", "/again");
    EXPECT_EQ(OnDisk(), "[project_y]\r\nsource=/other\r\n[project_x]\r\nsource=/again\r\n");
}

TEST_F(IniFileTest, ValuesKeepEveryCharacterButTheBlanksAroundThem) {
    const TStringList values{
        "",    "a=b=c",      "[not a section]", "; not a comment", "C:\\path with blanks\\",
        "50%", "\"quoted\"", "inner  blanks"};
    for (std::size_t i = 0; i < values.size(); ++i) {
        FIni.WriteString("values", "k" + std::to_string(i), values[i]);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(FIni.ReadString("values", "k" + std::to_string(i), "missing"), values[i]) << "value " << i;
    }
    FIni.WriteString("values", "padded", "  padded\t");
    EXPECT_EQ(FIni.ReadString("values", "padded", ""), "padded");
}

// As the profile functions and common INI readers do: "source = /data" works.
TEST_F(IniFileTest, BlanksAroundNamesAndValuesDoNotMatter) {
    WriteTextFile(FPath, "[s]\r\n  spaced  =  value  \r\n\ttab\t=\tx\t\r\n");
    EXPECT_EQ(FIni.ReadString("s", "spaced", ""), "value");
    EXPECT_EQ(FIni.ReadString("s", " spaced ", ""), "value");
    EXPECT_EQ(FIni.ReadString("s", "tab", ""), "x");
    TStringList list;
    FIni.ReadSection("s", list);
    EXPECT_EQ(list, (TStringList{"spaced", "tab"}));
    EXPECT_EQ(FIni.ReadSectionValues("S"), (TIniFile::TValues{{"spaced", "value"}, {"tab", "x"}}));

    // A rewrite keeps the key as spelt and the blanks after "=".
    FIni.WriteString("s", "spaced", "new");
    EXPECT_EQ(OnDisk(), "[s]\r\n  spaced  =  new\r\n\ttab\t=\tx\t\r\n");

    // Section names are taken as written: a project named " x" is not "x".
    FIni.WriteString("project_ x ", "k", "blank");
    FIni.WriteString("project_x", "k", "plain");
    EXPECT_EQ(FIni.ReadString("project_ x ", "k", ""), "blank");
    EXPECT_EQ(FIni.ReadString("project_x", "k", ""), "plain");
    FIni.ReadSections(list);
    EXPECT_EQ(list, (TStringList{"s", "project_ x ", "project_x"}));
}

TEST_F(IniFileTest, SectionValuesAreWrittenInOneReplacementWithTheWriteStringRules) {
    WriteTextFile(FPath, "[p]\r\n; note\r\nSOURCE=/old\r\nkeep=me\r\n\r\n[q]\r\nx=1\r\n");
    FIni.WriteSectionValues("P", {{"source", "/new"}, {"target", "/t"}, {"deploy", ""}});
    EXPECT_EQ(OnDisk(),
              "[p]\r\n; note\r\nSOURCE=/new\r\nkeep=me\r\ntarget=/t\r\ndeploy=\r\n\r\n[q]\r\nx=1\r\n");
    FIni.WriteSectionValues("new", {{"b", "2"}, {"a", "1"}});
    EXPECT_EQ(FIni.ReadSectionValues("new"), (TIniFile::TValues{{"b", "2"}, {"a", "1"}}));
    EXPECT_TRUE(FIni.ReadSectionValues("absent").empty());

    // One value that no line can hold: none of them is written.
    const std::string before = OnDisk();
    EXPECT_THROW(FIni.WriteSectionValues("p", {{"source", "/other"}, {"bad", "two\nlines"}}), EIniFileError);
    EXPECT_EQ(OnDisk(), before);
}

TEST_F(IniFileTest, LongValuesAreNotCut) {
    const std::string ascii(3000, 'a');
    std::string chinese;
    for (int i = 0; i < 3000; ++i) {
        chinese += "中";
    }
    const std::string huge(200000, 'z');
    FIni.WriteString("long", "ascii", ascii);
    FIni.WriteString("long", "chinese", chinese);
    FIni.WriteString("long", "huge", huge);
    EXPECT_EQ(FIni.ReadString("long", "ascii", ""), ascii);
    EXPECT_EQ(FIni.ReadString("long", "chinese", ""), chinese);
    EXPECT_EQ(FIni.ReadString("long", "huge", ""), huge);
}

TEST_F(IniFileTest, BigListingsAreComplete) {
    // Far more than 16384 bytes of section names and of key names.
    std::string text;
    TStringList sections;
    for (int i = 0; i < 2000; ++i) {
        sections.push_back("project_number_" + std::to_string(i) + "_名称");
        text += "[" + sections.back() + "]\r\nsource=/s\r\n";
    }
    TStringList keys;
    sections.push_back("job-project_big");
    text += "[job-project_big]\r\n";
    for (int i = 0; i < 3000; ++i) {
        keys.push_back("project_key_" + std::to_string(i));
        text += keys.back() + "=\r\n";
    }
    WriteTextFile(FPath, Utf8ToGb18030(text).value());

    TStringList list;
    FIni.ReadSections(list);
    EXPECT_EQ(list, sections);
    FIni.ReadSection("job-project_big", list);
    EXPECT_EQ(list, keys);

    FIni.WriteString("job-project_big", "last", "");
    FIni.WriteString("system", "project", "");
    keys.push_back("last");
    sections.push_back("system");
    FIni.ReadSection("job-project_big", list);
    EXPECT_EQ(list, keys);
    FIni.ReadSections(list);
    EXPECT_EQ(list, sections);
}

} // namespace

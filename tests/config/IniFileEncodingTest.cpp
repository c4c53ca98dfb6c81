// The bytes of the configuration file: GB18030 with CR LF, and what happens
// to files that are not what the store writes.

#include "config/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace std::string_literals;

class IniFileBytesTest : public ::testing::Test {
protected:
    TTempDir FDir;
    std::string FPath = FDir / "pairwell.ini";
    TIniFile FIni{FPath};

    std::string OnDisk() const { return ReadTextFile(FPath); }

    void ExpectWriteRefused(const std::string& section, const std::string& key, const std::string& value) {
        const std::string before = OnDisk();
        try {
            FIni.WriteString(section, key, value);
            ADD_FAILURE() << "stored [" << section << "] " << key << "=" << value;
        } catch (const EIniFileError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "Unable to write to " + FPath + ": a name or value that the file cannot hold");
        }
        EXPECT_EQ(OnDisk(), before);
    }
};

// The file split at LF, each line without its CR, joined again with CR LF.
std::string WithCrLf(const std::string& bytes) {
    std::string result;
    std::size_t begin = 0;
    while (begin < bytes.size()) {
        std::size_t end = bytes.find('\n', begin);
        const std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
        end = end == std::string::npos ? bytes.size() : end;
        if (end > begin && bytes[end - 1] == '\r') {
            --end;
        }
        result += bytes.substr(begin, end - begin) + "\r\n";
        begin = next;
    }
    return result;
}

TEST_F(IniFileBytesTest, ChineseIsGb18030OnDiskAndUtf8InMemory) {
    FIni.WriteString("中文", "键", "中文");
    EXPECT_EQ(OnDisk(), "[\xD6\xD0\xCE\xC4]\r\n\xBC\xFC=\xD6\xD0\xCE\xC4\r\n");
    EXPECT_EQ(FIni.ReadString("中文", "键", ""), "中文");

    // Characters beyond GB2312 take four bytes and still come back.
    FIni.WriteString("中文", "rare", "𠀀😀€");
    EXPECT_EQ(FIni.ReadString("中文", "rare", ""), "𠀀😀€");
    TStringList list;
    FIni.ReadSections(list);
    EXPECT_EQ(list, TStringList{"中文"});
}

TEST_F(IniFileBytesTest, ReadsLfOnlyFilesAndWritesCrLf) {
    WriteTextFile(FPath, "[project_\xD6\xD0]\nsource=/a\n\n[system]\nproject=\xD6\xD0\n");
    EXPECT_EQ(FIni.ReadString("project_中", "source", ""), "/a") << "no CR may stick to the value";
    EXPECT_EQ(FIni.ReadString("system", "project", ""), "中");

    FIni.WriteString("system", "project", "x");
    EXPECT_EQ(OnDisk(), "[project_\xD6\xD0]\r\nsource=/a\r\n\r\n[system]\r\nproject=x\r\n");
}

TEST_F(IniFileBytesTest, MissingFinalLineEndAndNulBytes) {
    WriteTextFile(FPath, "[a]\r\nnul=x\0y\r\n\0\0\0\r\nlast=v"s);
    EXPECT_EQ(FIni.ReadString("a", "last", ""), "v");
    EXPECT_EQ(FIni.ReadString("a", "nul", ""), "x\0y"s);

    FIni.WriteString("a", "new", "w");
    EXPECT_EQ(OnDisk(), "[a]\r\nnul=x\0y\r\n\0\0\0\r\nlast=v\r\nnew=w\r\n"s);
}

TEST_F(IniFileBytesTest, UndecodableLinesReadAsAbsentAndSurviveRewrites) {
    const std::string before = "[a]\r\n"
                               "k=good\r\n"
                               "bad=\xFF\xFF\x80\r\n"
                               "[\xFF\xFE]\r\n"
                               "k=hidden\r\n"
                               "[b]\r\n"
                               "k=\xD6\r\n";
    WriteTextFile(FPath, before);
    EXPECT_EQ(FIni.ReadString("a", "k", ""), "good");
    EXPECT_EQ(FIni.ReadString("a", "bad", "absent"), "absent");
    EXPECT_EQ(FIni.ReadString("b", "k", "absent"), "absent") << "a character cut in half";
    TStringList list;
    FIni.ReadSection("a", list);
    EXPECT_EQ(list, TStringList{"k"}) << "keys under an unreadable header belong to no section";
    FIni.ReadSections(list);
    EXPECT_EQ(list, (TStringList{"a", "b"}));

    FIni.WriteString("a", "bad", "fixed");
    FIni.WriteString("b", "k", "ok");
    EXPECT_EQ(OnDisk(), "[a]\r\n"
                        "k=good\r\n"
                        "bad=\xFF\xFF\x80\r\n"
                        "bad=fixed\r\n"
                        "[\xFF\xFE]\r\n"
                        "k=hidden\r\n"
                        "[b]\r\n"
                        "k=\xD6\r\n"
                        "k=ok\r\n");
    EXPECT_EQ(FIni.ReadString("a", "bad", ""), "fixed");
    EXPECT_EQ(FIni.ReadString("b", "k", ""), "ok");
}

TEST_F(IniFileBytesTest, MalformedHeadersAndStrayKeysReadAsAbsent) {
    WriteTextFile(FPath, "stray=before\r\n[a]\r\nk=1\r\n[unclosed\r\nk=2\r\n  [spaced]  trailing\r\nk=3\r\n");
    EXPECT_EQ(FIni.ReadString("", "stray", "absent"), "absent");
    EXPECT_EQ(FIni.ReadString("a", "k", ""), "1");
    EXPECT_EQ(FIni.ReadString("spaced", "k", ""), "3");
    TStringList list;
    FIni.ReadSections(list);
    EXPECT_EQ(list, (TStringList{"a", "spaced"}));

    FIni.EraseSection("a");
    EXPECT_EQ(OnDisk(), "stray=before\r\n[unclosed\r\nk=2\r\n  [spaced]  trailing\r\nk=3\r\n");
}

TEST_F(IniFileBytesTest, HugeLinesAreRead) {
    const std::string huge(1 << 20, 'x');
    WriteTextFile(FPath, "[a]\r\n" + huge + "\r\nbig=" + huge + "\r\nk=v\r\n");
    EXPECT_EQ(FIni.ReadString("a", "big", ""), huge);
    EXPECT_EQ(FIni.ReadString("a", "k", ""), "v");
    FIni.WriteString("a", "k", "w");
    EXPECT_EQ(OnDisk(), "[a]\r\n" + huge + "\r\nbig=" + huge + "\r\nk=w\r\n");
}

TEST_F(IniFileBytesTest, BinaryGarbageNeverBreaksTheStore) {
    std::mt19937 random(20240601);
    for (int round = 0; round < 40; ++round) {
        std::string garbage(4096 + round * 100, '\0');
        for (char& c : garbage) {
            // Plenty of the bytes that mean something to the parser.
            const unsigned r = random() % 512;
            c = r < 256 ? static_cast<char>(r) : "[]=\r\n \t"[r % 7];
        }
        WriteTextFile(FPath, garbage);
        TStringList sections;
        TStringList keys;
        FIni.ReadSections(sections);
        for (const std::string& section : sections) {
            FIni.ReadSection(section, keys);
            for (const std::string& key : keys) {
                FIni.ReadString(section, key, "");
            }
        }
        FIni.WriteString("after garbage", "k", "v");
        EXPECT_EQ(FIni.ReadString("after garbage", "k", ""), "v");
        EXPECT_EQ(OnDisk(), WithCrLf(garbage) + "[after garbage]\r\nk=v\r\n") << "round " << round;
    }
}

TEST_F(IniFileBytesTest, RefusesWhatALineCannotHold) {
    FIni.WriteString("s", "k", "v");
    ExpectWriteRefused("s", "k", "not \xFF UTF-8");
    ExpectWriteRefused("s", "\xC3", "v");
    ExpectWriteRefused("\xE4\xB8", "k", "v");
    ExpectWriteRefused("s", "k", "two\nlines");
    ExpectWriteRefused("s", "k", "ends in CR\r");
    ExpectWriteRefused("s", "a=b", "v");
    ExpectWriteRefused("s", "line\nbreak", "v");
    ExpectWriteRefused("s", "  [looks like a section]", "v");
    ExpectWriteRefused("bra]cket", "k", "v");
    ExpectWriteRefused("line\rbreak", "k", "v");
    ExpectWriteRefused("line\nbreak", "k", "v");

    // What a line can hold reads back as written.
    FIni.WriteString("[x", "k]", "v");
    EXPECT_EQ(FIni.ReadString("[x", "k]", ""), "v");
    FIni.WriteString("", "", "empty names");
    EXPECT_EQ(FIni.ReadString("", "", ""), "empty names");
}

TEST_F(IniFileBytesTest, Utf8FilesReadAsUtf8AndKeepTheirEncoding) {
    WriteTextFile(FPath, "[project_文档]\nsource = /数据\n");
    TStringList list;
    FIni.ReadSections(list);
    EXPECT_EQ(list, TStringList{"project_文档"});
    EXPECT_EQ(FIni.ReadString("project_文档", "source", ""), "/数据");

    FIni.WriteString("project_文档", "target", "/目标");
    EXPECT_EQ(OnDisk(), "[project_文档]\r\nsource = /数据\r\ntarget=/目标\r\n");

    // Plain ASCII and GB18030 files stay GB18030.
    WriteTextFile(FPath, "[a]\r\nk=v\r\n");
    FIni.WriteString("a", "中", "文");
    EXPECT_EQ(OnDisk(), "[a]\r\nk=v\r\n\xD6\xD0=\xCE\xC4\r\n");
    FIni.WriteString("a", "k", "再");
    EXPECT_EQ(FIni.ReadString("a", "k", ""), "再");
    EXPECT_EQ(OnDisk(), "[a]\r\nk=\xD4\xD9\r\n\xD6\xD0=\xCE\xC4\r\n");
    // "值" in GB18030 is also two-byte UTF-8 (U+05B5): still GB18030.
    WriteTextFile(FPath, "[a]\r\nk=\xD6\xB5\r\n");
    EXPECT_EQ(FIni.ReadString("a", "k", ""), "值");
}

TEST_F(IniFileBytesTest, AByteOrderMarkIsSkippedAndKept) {
    // UTF-8's mark means UTF-8, even for a file that is ASCII after it.
    WriteTextFile(FPath, "\xEF\xBB\xBF[first]\r\nk=1\r\n");
    EXPECT_EQ(FIni.ReadString("first", "k", ""), "1");
    FIni.WriteString("first", "名", "值");
    EXPECT_EQ(OnDisk(), "\xEF\xBB\xBF[first]\r\nk=1\r\n名=值\r\n");

    WriteTextFile(FPath, "\x84\x31\x95\x33[first]\r\nk=\xD6\xD0\r\n");
    EXPECT_EQ(FIni.ReadString("first", "k", ""), "中");
    FIni.WriteString("first", "k", "文");
    EXPECT_EQ(OnDisk(), "\x84\x31\x95\x33[first]\r\nk=\xCE\xC4\r\n");
}

} // namespace

// The encodings of stored values and listing records by section prefix.

#include "config/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(StoredValues, SwitchesAreOnOnlyForExactlyTrue) {
    EXPECT_EQ(BoolToText(true), "True");
    EXPECT_EQ(BoolToText(false), "False");
    EXPECT_TRUE(TextIsTrue("True"));
    for (const char* off : {"true", "TRUE", " True", "True ", "1", "", "False", "yes"}) {
        EXPECT_FALSE(TextIsTrue(off)) << '"' << off << '"';
    }
}

TEST(StoredValues, WholeNumbersAreStrictDecimal) {
    EXPECT_EQ(TextToInt("0"), 0);
    EXPECT_EQ(TextToInt("-1"), -1);
    EXPECT_EQ(TextToInt("+3"), 3);
    EXPECT_EQ(TextToInt("007"), 7);
    EXPECT_EQ(TextToInt(" 42\t"), 42);
    EXPECT_EQ(TextToInt("2147483647"), 2147483647);
    EXPECT_EQ(TextToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", " ", "abc", "1a", "1 2", "1.0", "0x10", "$10", "--1", "+-1", "-+1", "+", "-",
                            "2147483648", "-2147483649", "99999999999999999999"}) {
        try {
            TextToInt(bad);
            ADD_FAILURE() << '"' << bad << "\" converted";
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

TEST(StoredValues, RecordsAreListedByExactPrefix) {
    TTempDir dir;
    const std::string path = dir / "pairwell.ini";
    WriteTextFile(path, "[system]\r\n"
                        "[project_]\r\n"
                        "[project_x]\r\n"
                        "[job_j]\r\n"
                        "[job-project_j]\r\n"
                        "[Job_B]\r\n"
                        "[PROJECT_y]\r\n"
                        "[project_project_z]\r\n"
                        "[ project_w]\r\n"
                        "[project_\xD6\xD0\xCE\xC4]\r\n"
                        "[project_ a ]\r\n");
    const TIniFile ini(path);
    TStringList list{"left over"};
    ListSectionsWithPrefix(ini, "project_", list);
    EXPECT_EQ(list, (TStringList{"x", "project_z", "中文", " a "}));
    ListSectionsWithPrefix(ini, "job_", list);
    EXPECT_EQ(list, TStringList{"j"});

    ListSectionsWithPrefix(TIniFile(dir / "missing.ini"), "project_", list);
    EXPECT_TRUE(list.empty());
}

} // namespace

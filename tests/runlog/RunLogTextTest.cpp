// What one element line looks like: escaping, unsafe values, encoding.
#include "RunLogTestSupport.h"
#include "runlog/LogText.h"

#include <gtest/gtest.h>

TEST(RunLogText, EscapesInOrderAndKeepsApostrophe) {
    EXPECT_EQ(EscapeXmlText("<&\""), "&lt;&amp;&quot;");
    EXPECT_EQ(EscapeXmlText("a>b"), "a&gt;b");
    EXPECT_EQ(EscapeXmlText("it's"), "it's");
    // "&" goes first, so entities already in the value are escaped again and
    // the entities made by later steps are not.
    EXPECT_EQ(EscapeXmlText("&lt;&amp;"), "&amp;lt;&amp;amp;");
    EXPECT_EQ(EscapeXmlText("<<>>\"\""), "&lt;&lt;&gt;&gt;&quot;&quot;");
    EXPECT_EQ(EscapeXmlText(""), "");

    TLogBuffer buffer;
    buffer.WriteLogElement("New", "/t/<script>alert(1)</script>\"&'");
    buffer.WriteLogElement("NewCount", "");
    ASSERT_EQ(buffer.Lines().size(), 2u);
    EXPECT_EQ(buffer.Lines()[0], "<New>/t/&lt;script&gt;alert(1)&lt;/script&gt;&quot;&amp;'</New>");
    EXPECT_EQ(buffer.Lines()[1], "<NewCount></NewCount>");
}

TEST(RunLogText, UnsafeBytesBecomeVisibleEscapes) {
    // Valid UTF-8, Chinese and characters beyond the BMP stay as they are.
    EXPECT_EQ(MakeLogSafe("/数据/a b.txt\xF0\xA0\x80\x80"), "/数据/a b.txt\xF0\xA0\x80\x80");
    // A stray byte, a truncated character, an overlong "/", a surrogate and a
    // code beyond U+10FFFF: each byte is shown as \xHH and nothing is dropped.
    EXPECT_EQ(MakeLogSafe("a\xFF"
                          "b"),
              "a\\xFFb");
    EXPECT_EQ(MakeLogSafe("x\xE4\xB8"), "x\\xE4\\xB8");
    EXPECT_EQ(MakeLogSafe("\xC0\xAF"), "\\xC0\\xAF");
    EXPECT_EQ(MakeLogSafe("\xED\xA0\x80"), "\\xED\\xA0\\x80");
    EXPECT_EQ(MakeLogSafe("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
    EXPECT_EQ(MakeLogSafe("\x80z"), "\\x80z");
    // Line breaks and other control bytes would split the element line or make
    // the XML unreadable; U+FFFE and U+FFFF are no XML characters.
    EXPECT_EQ(MakeLogSafe(std::string("a\nb\rc\td\0e", 9)), "a\\x0Ab\\x0Dc\\x09d\\x00e");
    EXPECT_EQ(MakeLogSafe("\xEF\xBF\xBF\xEF\xBF\xBD"), "\\xEF\\xBF\\xBF\xEF\xBF\xBD");

    TLogBuffer buffer;
    buffer.WriteLogElement("New", "/t/<\xFF>\n");
    EXPECT_EQ(buffer.Lines().at(0), "<New>/t/&lt;\\xFF&gt;\\x0A</New>");
}

TEST(RunLogText, NormalisesLineEndsToCrLf) {
    EXPECT_EQ(NormaliseLineEnds("<list>\n</list>"), "<list>\r\n</list>\r\n");
    EXPECT_EQ(NormaliseLineEnds("a\r\nb\rc\r\n"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(NormaliseLineEnds("\n\n"), "\r\n\r\n");
    EXPECT_EQ(NormaliseLineEnds(""), "");
}

TEST(RunLogText, ValuesThatAreNotUtf8ReachTheDayFileReadably) {
    TTempDir dir;
    TTestClock clock(At(2005, 1, 1));
    const TRunLog log(dir / "log", clock.Clock());
    log.OpenDayLog();
    TLogBuffer buffer;
    buffer.WriteLogElement("New", "/t/bad\xFFname\nsecond line");
    buffer.WriteLogElement("Project", "P");
    log.CloseLogItem(buffer);

    const std::string bytes = ReadTextFile(dir / "log/2005.01.01.xml");
    EXPECT_EQ(
        bytes,
        DayHeader20050101 +
            "<item><New>/t/bad\\xFFname\\x0Asecond line</New>\r\n<Project>P</Project>\r\n</item></log>\r\n");
    EXPECT_TRUE(Gb18030ToUtf8(bytes).has_value());
}

TEST(RunLogText, ChineseIsWrittenAsGb18030Bytes) {
    TTempDir dir;
    TTestClock clock(At(2005, 1, 1));
    const TRunLog log(dir / "log", clock.Clock());
    log.OpenDayLog();
    TLogBuffer buffer;
    buffer.WriteLogElement("Project", "项目");
    buffer.WriteLogElement("ProcessStatus", "完成");
    buffer.WriteLogElement("New", "/\xF0\xA0\x80\x80"); // U+20000, four bytes in GB18030
    log.CloseLogItem(buffer);

    EXPECT_EQ(ReadTextFile(dir / "log/2005.01.01.xml"),
              DayHeader20050101 + "<item><Project>\xCF\xEE\xC4\xBF</Project>\r\n"
                                  "<ProcessStatus>\xCD\xEA\xB3\xC9</ProcessStatus>\r\n"
                                  "<New>/\x95\x32\x82\x36</New>\r\n"
                                  "</item></log>\r\n");
}

// An item of a big run: its lines span many blocks of the buffer, and the day
// file is read and written in pieces, yet the file gets the same bytes as for
// a small item.
#include "RunLogTestSupport.h"

#include <gtest/gtest.h>

#include <string>

TEST(RunLogBigItem, ManyLinesReachTheDayFileInOrderWithTheSameBytes) {
    TTempDir dir;
    TTestClock clock(At(2005, 1, 1));
    const TRunLog log(dir / "log", clock.Clock());
    log.OpenDayLog();
    // An earlier item large enough that "</log>" straddles the first piece
    // read (1 MiB), with a lone LF that the write turns into CR LF.
    const std::size_t piece = std::size_t{1} << 20;
    const std::string itemStart = "<item><Project>Earlier\n</Project>";
    const std::string itemEnd = "</item>";
    const std::size_t fillerSize = piece - 3 - DayHeader20050101.size() - itemStart.size() - itemEnd.size();
    const std::string earlier = itemStart + std::string(fillerSize, 'x') + itemEnd;
    WriteTextFile(dir / "log/2005.01.01.xml", DayHeader20050101 + earlier + "</log>\r\n");

    TLogBuffer buffer;
    std::string expected = "<item>";
    for (int i = 0; i < 60000; ++i) {
        // Chinese names are re-encoded block by block; markup is escaped.
        const std::string path = "/目标/<" + std::to_string(i) + ">/文件" + std::to_string(i) + ".txt";
        buffer.WriteLogElement("New", path);
        expected +=
            "<New>/目标/&lt;" + std::to_string(i) + "&gt;/文件" + std::to_string(i) + ".txt</New>\r\n";
    }
    buffer.WriteLogElement("NewCount", "60000");
    expected += "<NewCount>60000</NewCount>\r\n</item>";
    ASSERT_EQ(buffer.LineCount(), 60001u);
    EXPECT_EQ(buffer.Lines()[12345], "<New>/目标/&lt;12345&gt;/文件12345.txt</New>");
    ASSERT_GT(buffer.TextSize(), 2 * piece); // several blocks

    log.CloseLogItem(buffer);
    EXPECT_EQ(buffer.LineCount(), 0u);
    EXPECT_TRUE(buffer.Lines().empty());
    const std::string header = ReadDayFileUtf8(dir / "log/2005.01.01.xml");
    std::string earlierCrLf = earlier;
    earlierCrLf.replace(earlierCrLf.find('\n'), 1, "\r\n");
    const std::string expectedHeader = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
                                       "<?xml:stylesheet type=\"text/xsl\" href=\"log.xsl\"?>\r\n"
                                       "<log>\r\n"
                                       "<Date>2005年1月1日</Date>\r\n";
    EXPECT_TRUE(header == expectedHeader + earlierCrLf + expected + "</log>\r\n");
}

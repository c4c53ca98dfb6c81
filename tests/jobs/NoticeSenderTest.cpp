// The daemon's notice as the bus carries it and as the journal shows it:
// names with quotes, markup, line breaks and bytes that are not UTF-8.

#include "jobs/NoticeSender.h"

#include <gtest/gtest.h>

TEST(NoticeSenderTest, TextsReachTheBusAndTheJournalIntact) {
    EXPECT_EQ(NoticeBusText("任务\"夜间\"同步失败", false), "任务\"夜间\"同步失败");
    EXPECT_EQ(NoticeBusText("照片<1>：中止\n文档 & 图", true), "照片&lt;1&gt;：中止\n文档 &amp; 图");
    EXPECT_EQ(NoticeBusText("照片<1>", false), "照片<1>");
    // A byte that is not UTF-8 is shown by its value; a tab would break nothing but is made visible too.
    EXPECT_EQ(NoticeBusText("a\xff\tb", false), "a\\xFF\\x09b");

    const TRunNotice notice{"J", "任务\"J\"同步失败", "照片：源文件夹无效\n文档：新建失败 1 项", true};
    EXPECT_EQ(NoticeLine(notice), "notice: 任务\"J\"同步失败: 照片：源文件夹无效 / 文档：新建失败 1 项");
}

// The daemon's notice as gdbus reads it and as the journal shows it: names
// with quotes, backslashes, line breaks and bytes that are not UTF-8.

#include "jobs/NoticeSender.h"

#include <gtest/gtest.h>

TEST(NoticeSenderTest, TextsReachGdbusAndTheJournalIntact) {
    EXPECT_EQ(GVariantString("任务\"夜间\"同步失败"), "\"任务\\\"夜间\\\"同步失败\"");
    EXPECT_EQ(GVariantString("C:\\照片：中止\n文档：完成"), "\"C:\\\\照片：中止\\n文档：完成\"");
    // A byte that is not UTF-8 is shown by its value; a tab would break nothing but is made visible too.
    EXPECT_EQ(GVariantString("a\xff\tb"), "\"a\\\\xFF\\\\x09b\"");

    const TRunNotice notice{"J", "任务\"J\"同步失败", "照片：源文件夹无效\n文档：新建失败 1 项", true};
    EXPECT_EQ(NoticeLine(notice), "notice: 任务\"J\"同步失败: 照片：源文件夹无效 / 文档：新建失败 1 项");
}

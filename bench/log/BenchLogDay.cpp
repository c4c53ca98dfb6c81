// bench-log-day: writes a day of the run log through the program's own writer
// (TLogBuffer and TRunLog), for the log page's benchmark and tests.
//
// The day holds a run refused by the deletion guard, a small clean run that
// kept one version and, when FILES > 0, one run of FILES file elements laid
// out as a background run writes them: source and target folders, the create
// phase (1 % of it failed), the update and delete phases, each with its
// counts, then the run's name, status and times. The shares are 90 % created,
// 6 % updated and 4 % deleted; paths are about 60 bytes of mixed Chinese and
// ASCII, so a million elements make about 70 MB.
//
// Usage: bench-log-day LOG_FOLDER FILES [yyyy-mm-dd]

#include "config/DateTime.h"
#include "runlog/RunLog.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

std::string Padded(long value, int width) {
    std::string text = std::to_string(value);
    return std::string(text.size() < static_cast<std::size_t>(width) ? width - text.size() : 0, '0') + text;
}

std::string PathOf(const std::string& root, long index) {
    return root + "原图/照片/" + Padded(2000 + index % 25, 4) + "/文件夹" + Padded(index / 1000, 4) +
           "/图片-" + Padded(index, 7) + ".jpg";
}

void WriteSmallRuns(const TRunLog& log) {
    TLogBuffer refused;
    refused.WriteLogElement("Project", "文档");
    refused.WriteLogElement("ProcessStatus", "中止");
    refused.WriteLogElement("Error", "删除保护: 计划删除 120 项, 占目标的 80%");
    refused.WriteLogElement("BeginTime", "08:00:00");
    refused.WriteLogElement("EndTime", "08:00:00");
    refused.WriteLogElement("SpendTime", "00:00:00");
    log.CloseLogItem(refused);

    TLogBuffer clean;
    clean.WriteLogElement("ProcessType", "同步");
    clean.WriteLogElement("SourcePath", "/srv/网站/");
    clean.WriteLogElement("TargetPath", "/backup/网站/");
    for (long i = 0; i < 3; ++i) {
        clean.WriteLogElement("New", PathOf("/backup/网站/", i));
    }
    clean.WriteLogElement("NewCount", "3");
    clean.WriteLogElement("NewFailCount", "0");
    clean.WriteLogElement("Update", PathOf("/backup/网站/", 7));
    clean.WriteLogElement("UpdateCount", "1");
    clean.WriteLogElement("UpdateFailCount", "0");
    clean.WriteLogElement("DeleteCount", "0");
    clean.WriteLogElement("DeleteFailCount", "0");
    clean.WriteLogElement("VersionCount", "1");
    clean.WriteLogElement("Project", "网站");
    clean.WriteLogElement("ProcessStatus", "完成");
    clean.WriteLogElement("BeginTime", "09:00:00");
    clean.WriteLogElement("EndTime", "09:00:01");
    clean.WriteLogElement("SpendTime", "00:00:01");
    log.CloseLogItem(clean);
}

void WriteBigRun(const TRunLog& log, long files) {
    const std::string root = "/backup/相册/";
    const long created = files * 90 / 100;
    const long updated = files * 6 / 100;
    const long deleted = files - created - updated;
    TLogBuffer big;
    big.WriteLogElement("ProcessType", "同步");
    big.WriteLogElement("SourcePath", "/home/用户/相册/");
    big.WriteLogElement("TargetPath", root);
    long index = 0;
    long failed = 0;
    for (long i = 0; i < created; ++i, ++index) {
        const bool fails = i % 100 == 99;
        failed += fails ? 1 : 0;
        big.WriteLogElement(fails ? "NewFail" : "New", PathOf(root, index));
    }
    big.WriteLogElement("NewCount", std::to_string(created - failed));
    big.WriteLogElement("NewFailCount", std::to_string(failed));
    for (long i = 0; i < updated; ++i, ++index) {
        big.WriteLogElement("Update", PathOf(root, index));
    }
    big.WriteLogElement("UpdateCount", std::to_string(updated));
    big.WriteLogElement("UpdateFailCount", "0");
    for (long i = 0; i < deleted; ++i, ++index) {
        big.WriteLogElement("Delete", PathOf(root, index));
    }
    big.WriteLogElement("DeleteCount", std::to_string(deleted));
    big.WriteLogElement("DeleteFailCount", "0");
    big.WriteLogElement("Project", "相册");
    big.WriteLogElement("ProcessStatus", "完成");
    big.WriteLogElement("BeginTime", "10:00:00");
    big.WriteLogElement("EndTime", "10:41:07");
    big.WriteLogElement("SpendTime", "00:41:07");
    log.CloseLogItem(big);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: bench-log-day LOG_FOLDER FILES [yyyy-mm-dd]\n");
        return 64;
    }
    const long files = std::strtol(argv[2], nullptr, 10);
    int year = 2026, month = 12, day = 8;
    if (argc == 4 && std::sscanf(argv[3], "%d-%d-%d", &year, &month, &day) != 3) {
        std::fprintf(stderr, "bench-log-day: bad date %s\n", argv[3]);
        return 64;
    }
    const TDateTime when = EncodeDateTime({year, month, day, 12, 0, 0, 0});
    try {
        const TRunLog log(argv[1], [when] { return when; });
        log.OpenDayLog();
        WriteSmallRuns(log);
        if (files > 0) {
            WriteBigRun(log, files);
        }
        std::printf("%s\n", log.DayLogFileName().c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench-log-day: %s\n", error.what());
        return 1;
    }
    return 0;
}

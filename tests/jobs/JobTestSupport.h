#pragma once

#include "TempDir.h"
#include "config/Gb18030.h"
#include "config/IniFile.h"
#include "engine/project/ProjectRecord.h"
#include "jobs/JobRecord.h"
#include "runlog/RunLog.h"

#include <gtest/gtest.h>

#include <regex>
#include <vector>

namespace jobtest {

using Lines = TStringList;

inline void StoreProject(TIniFile& ini, const std::string& name, const std::string& source,
                         const std::string& target) {
    ini.WriteString(ProjectSection(name), "source", source);
    ini.WriteString(ProjectSection(name), "target", target);
}

inline void StoreJob(TIniFile& ini, const std::string& name, const Lines& projects) {
    ini.WriteString(JobSection(name), "CbJobValid", "True");
    for (std::size_t i = 0; i < projects.size(); ++i) {
        ini.WriteString(JobProjectSection(name), std::to_string(i), projects[i]);
    }
}

// The items of today's day file, each as its element lines.
inline std::vector<Lines> DayItems(const TRunLog& runLog) {
    const auto text = Gb18030ToUtf8(ReadTextFile(runLog.DayLogFileName()));
    EXPECT_TRUE(text.has_value());
    std::vector<Lines> items;
    std::size_t at = 0;
    while (text && (at = text->find("<item>", at)) != std::string::npos) {
        const std::size_t end = text->find("</item>", at);
        const std::string body = text->substr(at + 6, end - at - 6);
        Lines lines;
        std::size_t start = 0;
        while (start < body.size()) {
            const std::size_t lineEnd = body.find("\r\n", start);
            lines.push_back(body.substr(start, lineEnd - start));
            start = lineEnd + 2;
        }
        items.push_back(lines);
        at = end;
    }
    return items;
}

// The element lines with the three clock readings masked.
inline Lines Masked(Lines lines) {
    static const std::regex clock(R"(<(BeginTime|EndTime|SpendTime)>\d\d:\d\d:\d\d<)");
    for (std::string& line : lines) {
        line = std::regex_replace(line, clock, "<$1>hh:mm:ss<");
    }
    return lines;
}

inline bool Contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace jobtest

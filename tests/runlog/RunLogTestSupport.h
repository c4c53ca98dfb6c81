#pragma once

#include "config/DateTime.h"
#include "config/Gb18030.h"
#include "runlog/RunLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

// A clock the test moves by hand; safe to read from several threads.
class TTestClock {
public:
    explicit TTestClock(TDateTime start) : FNow(start.FMilliseconds) {}
    void Set(TDateTime value) { FNow = value.FMilliseconds; }
    TRunLog::TClock Clock() {
        return [this] { return TDateTime{FNow.load()}; };
    }

private:
    std::atomic<std::int64_t> FNow;
};

inline TDateTime At(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
    return EncodeDateTime({year, month, day, hour, minute, second, 0});
}

// The five lines of a new day file for 1 January 2005, as bytes on disk
// ("2005年1月1日" in GB18030).
inline const std::string DayHeader20050101 = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
                                             "<?xml:stylesheet type=\"text/xsl\" href=\"log.xsl\"?>\r\n"
                                             "<log>\r\n"
                                             "<Date>2005\xC4\xEA"
                                             "1\xD4\xC2"
                                             "1\xC8\xD5</Date>\r\n";

// A day file read back as UTF-8; fails the test when the bytes are not GB18030.
inline std::string ReadDayFileUtf8(const std::string& path) {
    const std::optional<std::string> text = Gb18030ToUtf8(ReadTextFile(path));
    EXPECT_TRUE(text.has_value()) << path << " is not GB18030";
    return text.value_or("");
}

#pragma once

#include "config/DateTime.h"
#include "config/ProgramFolders.h"
#include "config/StringList.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// Raised when a run-log file cannot be written.
class ERunLogError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "&" then ">" then "<" then the double quote; the apostrophe stays.
std::string EscapeXmlText(const std::string& value);

// The element lines of the item being built (UTF-8); nothing reaches the disk
// until the item is closed.
class TLogBuffer {
public:
    // Appends "<name>" + escaped value + "</name>" as one line.
    void WriteLogElement(const std::string& name, const std::string& value);
    // A copy of the lines, in order.
    TStringList Lines() const;
    std::size_t LineCount() const { return FCount; }
    // The bytes of all lines, a line end counted as one.
    std::size_t TextSize() const;
    void Clear() {
        FBlocks.clear();
        FCount = 0;
    }
    // Hands the lines to visit a block at a time (each line ended by "\n"),
    // releasing each block once visited; the buffer is empty afterwards.
    void TakeBlocks(const std::function<void(const std::string& block)>& visit);

private:
    // The lines one after the other in blocks of about 1 MiB: a run of a
    // million files logs a million lines, and one string per line would take
    // half as much again in headers and allocations.
    std::vector<std::string> FBlocks;
    std::size_t FCount = 0;
};

// The run log in one folder: "list.xml" naming the days, one "yyyy.mm.dd.xml"
// day file per day (GB18030, CR LF). Every read-insert-write of a file is done
// under one file lock, so threads and processes sharing the folder lose nothing,
// and each write replaces the file atomically.
class TRunLog {
public:
    using TClock = std::function<TDateTime()>;

    explicit TRunLog(std::string logFolder, TClock clock = Now);

    // Where the log viewer (index.htm, log.xsl) is copied from into the log
    // folder whenever the log is written; the program's own copies by default.
    void SetViewerFolder(std::string folder) { FViewerFolder = std::move(folder); }

    const std::string& LogFolder() const { return FLogFolder; }
    // Log folder + "/" + today as "yyyy.mm.dd" + ".xml".
    std::string DayLogFileName() const;
    // Makes sure today's day file exists and today is listed in list.xml
    // (creating the folder and the list file when missing). This and
    // CloseLogItem also put the log viewer into the folder (InstallLogViewer).
    void OpenDayLog() const;
    // Makes sure the folder exists with its viewer and a list file, without
    // opening a day: a new log folder shows in a browser before any run.
    void OpenLogFolder() const;
    // Inserts "<item>" + the buffer's lines (each ending CR LF) + "</item>"
    // before the first "</log>" of the day file of this moment, creating that
    // day file first when it is missing. The buffer is emptied in every case.
    void CloseLogItem(TLogBuffer& buffer) const;

private:
    std::string FLogFolder;
    TClock FClock;
    std::string FViewerFolder;
};

#pragma once

#include <cstddef>
#include <string>

// Where a check or an apply reports what it is doing: the window's progress
// window, a job's monitor row, the command-line tool's status line. The engine
// calls it only from the thread that started the run.
class TProgressSink {
public:
    virtual ~TProgressSink() = default;
    // A status line with no item ("生成源文件索引...").
    virtual void ShowStatus(const std::string& /*text*/) {}
    // A phase of max items begins: the bar's maximum becomes max, its position 0.
    virtual void ResetProgress(std::size_t /*max*/) {}
    // One item: the bar steps by one and the line shows prefix followed by path.
    virtual void ShowItem(const std::string& /*prefix*/, const std::string& /*path*/) {}
};

// For callers that show nothing.
inline TProgressSink& SilentProgress() {
    static TProgressSink silent;
    return silent;
}

#pragma once

#include "engine/project/Progress.h"

#include <chrono>
#include <string>

// A one-line progress display on standard error, redrawn at most ten times a
// second; silent when standard error is not a terminal. Erase it before
// printing any other line, so that the two never share a line.
class TCliProgress : public TProgressSink {
public:
    TCliProgress();
    ~TCliProgress() override;

    void ShowStatus(const std::string& text) override;
    void ResetProgress(std::size_t max) override;
    void ShowItem(const std::string& prefix, const std::string& path) override;
    // Clears the progress line if one is shown; the next item draws it again.
    void Erase();

private:
    void Draw(const std::string& text, bool force);

    bool FEnabled;
    bool FDrawn = false;
    std::size_t FPosition = 0;
    std::size_t FMax = 0;
    std::chrono::steady_clock::time_point FLastDraw;
};

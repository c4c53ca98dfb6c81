#include "CliProgress.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::size_t TerminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) {
        return size.ws_col;
    }
    return 80;
}

// Keeps the end of a long line (the file name), cutting whole UTF-8 characters only.
std::string FitFromEnd(const std::string& text, std::size_t columns) {
    if (text.size() <= columns) {
        return text;
    }
    std::size_t start = text.size() - (columns > 3 ? columns - 3 : columns);
    while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
        ++start;
    }
    return "..." + text.substr(start);
}

} // namespace

TCliProgress::TCliProgress() : FEnabled(isatty(STDERR_FILENO) == 1) {}

TCliProgress::~TCliProgress() {
    Erase();
}

void TCliProgress::Erase() {
    if (FEnabled && FDrawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        FDrawn = false;
    }
}

void TCliProgress::ShowStatus(const std::string& text) {
    Draw(text, true);
}

void TCliProgress::ResetProgress(std::size_t max) {
    FMax = max;
    FPosition = 0;
}

void TCliProgress::ShowItem(const std::string& prefix, const std::string& path) {
    ++FPosition;
    if (!FEnabled) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (FDrawn && now - FLastDraw < std::chrono::milliseconds(100)) {
        return;
    }
    const std::string counts = std::to_string(FPosition) + "/" + std::to_string(FMax) + " ";
    Draw(counts + prefix + path, false);
}

void TCliProgress::Draw(const std::string& text, bool force) {
    if (!FEnabled) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!force && FDrawn && now - FLastDraw < std::chrono::milliseconds(100)) {
        return;
    }
    FLastDraw = now;
    FDrawn = true;
    // Roughly one column per byte is enough for a status line; Chinese may wrap less tidily.
    const std::string line = FitFromEnd(text, TerminalWidth() - 1);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
}

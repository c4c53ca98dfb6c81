#include "Plan.h"

#include "config/CustomPublic.h"

std::string WithTrailingDelimiter(const std::string& folder) {
    if (!folder.empty() && folder.back() == PathDelim) {
        return folder;
    }
    return folder + PathDelim;
}

bool IsBlank(const std::string& text) {
    // Blanks here are the blank and the control characters, as a trim removes them.
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > ' ') {
            return false;
        }
    }
    return true;
}

bool IsSafePlanLine(const std::string& line) {
    if (line.empty() || line.front() == PathDelim || line.find('\0') != std::string::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find(PathDelim, start);
        if (end == std::string::npos) {
            end = line.size();
        }
        if (line.compare(start, end - start, "..") == 0 && end - start == 2) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

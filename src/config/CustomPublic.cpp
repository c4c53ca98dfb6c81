#include "CustomPublic.h"

#include "AsciiCase.h"
#include "Version.h"

#include <string_view>

void TFmCustomPublic::SplitKeywords(const std::string& text, TStringList& list,
                                    const std::string& separator) {
    // First every separator becomes a line break, then the text is read as lines,
    // so a separator next to a break in the text gives the same items as two breaks.
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (!separator.empty() && text.size() - i >= separator.size() &&
            SameTextIgnoringAsciiCase(std::string_view(text).substr(i, separator.size()), separator)) {
            lines += "\r\n";
            i += separator.size();
        } else {
            lines.push_back(text[i]);
            ++i;
        }
    }

    list.clear();
    std::size_t begin = 0;
    for (std::size_t i = 0; i < lines.size();) {
        const char c = lines[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        list.push_back(lines.substr(begin, i - begin));
        i += (c == '\r' && i + 1 < lines.size() && lines[i + 1] == '\n') ? 2 : 1;
        begin = i;
    }
    if (begin < lines.size()) {
        list.push_back(lines.substr(begin)); // a last line without a break
    }
}

bool TFmCustomPublic::ContainsAnyKeyword(const std::string& text, const TStringList* list) {
    if (list == nullptr) {
        return false;
    }
    const std::string lowerText = LowerAscii(text);
    for (const std::string& item : *list) {
        if (!item.empty() && lowerText.find(LowerAscii(item)) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool TFmCustomPublic::IsFolderEntry(const std::string& path) {
    return !path.empty() && path.back() == PathDelim;
}

std::string TFmCustomPublic::GetProductVersion() {
    return PAIRWELL_PRODUCT_VERSION;
}

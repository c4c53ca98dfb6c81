#include "CustomPublic.h"

#include "AsciiCase.h"
#include "Version.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void RaiseInOutError(const std::string& path, int error) {
    throw EInOutError("I/O error on \"" + path + "\": " + std::strerror(error));
}

} // namespace

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

TDateTime TFmCustomPublic::GetFileModifiedTime(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return TDateTime{};
    }
    return FileTimeToLocalDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

TDateTime TFmCustomPublic::FileTimeToLocalDateTime(std::int64_t seconds, std::int64_t nanoseconds) {
    return LocalDateTimeFromUnix(seconds, nanoseconds);
}

std::int64_t TFmCustomPublic::GetFileSizeBytes(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return 0; // nothing there, or a folder: no file
    }
    // Non-blocking, so that a named pipe met in a tree does not wait for a writer.
    int fd = -1;
    do {
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        RaiseInOutError(path, errno);
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0) {
        const int error = errno;
        close(fd);
        RaiseInOutError(path, error);
    }
    close(fd);
    return static_cast<std::int64_t>(opened.st_size);
}

std::string TFmCustomPublic::GetProductVersion() {
    return PAIRWELL_PRODUCT_VERSION;
}

#include "Gb18030.h"

#include <cerrno>
#include <iconv.h>

namespace {

std::optional<std::string> Convert(const char* to, const char* from, const std::string& input) {
    if (input.empty()) {
        return std::string();
    }
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string output(input.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    std::size_t done = 0;
    bool ok = true;
    while (inLeft > 0) {
        char* out = output.data() + done;
        std::size_t outLeft = output.size() - done;
        const std::size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
        done = output.size() - outLeft;
        if (result != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            output.resize(output.size() * 2);
            continue;
        }
        ok = false; // EILSEQ or EINVAL: not valid text in the source encoding
        break;
    }
    iconv_close(cd);
    if (!ok) {
        return std::nullopt;
    }
    output.resize(done);
    return output;
}

} // namespace

std::optional<std::string> Utf8ToGb18030(const std::string& utf8) {
    return Convert("GB18030", "UTF-8", utf8);
}

std::optional<std::string> Gb18030ToUtf8(const std::string& gb18030) {
    return Convert("UTF-8", "GB18030", gb18030);
}

#include "RootPaths.h"

#include "config/CustomPublic.h"

#include <climits>
#include <cstdlib>
#include <vector>

namespace {

std::string WithoutTrailingDelimiters(std::string path) {
    while (path.size() > 1 && path.back() == PathDelim) {
        path.pop_back();
    }
    return path;
}

} // namespace

std::string RealPathOf(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) {
        return {};
    }
    std::string result = real;
    free(real);
    return result;
}

std::string CanonicalPath(const std::string& path) {
    std::string head = WithoutTrailingDelimiters(path.empty() ? std::string(".") : path);
    std::vector<std::string> tail; // the missing names, last first
    for (int depth = 0; depth < PATH_MAX; ++depth) {
        if (char* real = realpath(head.c_str(), nullptr); real != nullptr) {
            std::string result = real;
            free(real);
            for (auto name = tail.rbegin(); name != tail.rend(); ++name) {
                if (*name == "..") {
                    const auto slash = result.find_last_of(PathDelim);
                    result.resize(slash == 0 ? 1 : slash);
                } else if (!name->empty() && *name != ".") {
                    if (result.back() != PathDelim) {
                        result.push_back(PathDelim);
                    }
                    result += *name;
                }
            }
            return result;
        }
        const auto slash = head.find_last_of(PathDelim);
        if (slash == std::string::npos) {
            if (head == ".") {
                break;
            }
            tail.push_back(head);
            head = ".";
        } else {
            tail.push_back(head.substr(slash + 1));
            head = slash == 0 ? std::string(1, PathDelim) : head.substr(0, slash);
        }
    }
    return WithoutTrailingDelimiters(path);
}

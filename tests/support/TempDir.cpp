#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

TTempDir::TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "pairwell-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    FPath = buffer.data();
}

TTempDir::~TTempDir() {
    std::error_code ec;
    // Read-only folders left by a test would stop the removal.
    for (auto it = fs::recursive_directory_iterator(FPath, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(FPath, ec);
}

void WriteTextFile(const std::string& path, const std::string& contents) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out.good()) << "cannot write " << path;
    out << contents;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void MakeFolder(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    ASSERT_FALSE(ec) << "cannot create " << path;
}

void SetModifiedTime(const std::string& path, std::int64_t seconds, std::int64_t nanoseconds) {
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = static_cast<long>(nanoseconds);
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << "cannot set time of " << path;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool HoldsCopyTemporaries(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    bool found = false;
    while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        // The run lock shares the prefix but is no temporary.
        const std::string name = entry->d_name;
        found = found || (name.rfind(".pairwell-", 0) == 0 && name != ".pairwell-lock");
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return found;
}

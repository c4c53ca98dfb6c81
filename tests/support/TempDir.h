#pragma once

#include <cstdint>
#include <string>

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes. Path() has no trailing delimiter.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    // Path() + "/" + relative.
    std::string operator/(const std::string& relative) const { return FPath + "/" + relative; }

private:
    std::string FPath;
};

// Small file helpers for tests; each fails the current test on error.
void WriteTextFile(const std::string& path, const std::string& contents); // creates parent folders
std::string ReadTextFile(const std::string& path);
void MakeFolder(const std::string& path); // with missing parents
// Sets a file's modification time to a POSIX second plus nanoseconds.
void SetModifiedTime(const std::string& path, std::int64_t seconds, std::int64_t nanoseconds = 0);
bool PathExists(const std::string& path);
// Whether folder holds a temporary file of a copy (".pairwell-…").
bool HoldsCopyTemporaries(const std::string& folder);

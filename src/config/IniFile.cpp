#include "IniFile.h"

#include "AtomicFile.h"
#include "FileFacts.h"
#include "IniFileText.h"

#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Every operation reads the whole file and every change writes it whole again
// through a temporary file and a rename, so a reader sees the old file or the
// new one and nothing in between. Changes hold the process's mutex and a lock
// file beside the configuration file from reading to renaming; nothing is
// kept between operations.

namespace {

std::mutex& ProcessMutex() {
    static std::mutex mutex;
    return mutex;
}

EIniFileError WriteError(const std::string& fileName, const std::string& reason) {
    return EIniFileError("Unable to write to " + fileName + ": " + reason);
}

// A name or value that would not read back as it was given.
const std::string NotStorableReason = "a name or value that the file cannot hold";

// Why a file that exists cannot be read.
std::string UnreadableReason(const std::string& fileName) {
    struct stat st {};
    if (stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return "not a regular file";
    }
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return ErrorText(errno);
    }
    close(fd);
    return "the file cannot be read";
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// A missing file reads as an empty one.
TIniText Load(const std::string& fileName) {
    return TIniText(ReadWholeFile(fileName).value_or(std::string()));
}

// Reads, changes and rewrites the file under both locks. change returns false
// when it left the text as it was; then nothing is written.
template <typename TChange> void ChangeFile(const std::string& fileName, TChange change) {
    const TFileLock lock(fileName + ".lock");
    if (!lock.Locked()) {
        throw WriteError(fileName,
                         "the lock file " + fileName + ".lock cannot be made: " + ErrorText(lock.Error()));
    }
    const std::optional<std::string> bytes = ReadWholeFile(fileName);
    if (!bytes && Exists(fileName)) {
        // Rewriting a file that cannot be read would lose its contents.
        throw WriteError(fileName, UnreadableReason(fileName));
    }
    TIniText text(bytes.value_or(std::string()));
    if (change(text) && !ReplaceFileAtomically(fileName, text.Bytes())) {
        throw WriteError(fileName, ErrorText(errno));
    }
}

} // namespace

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const std::lock_guard guard(ProcessMutex());
    return Load(FFileName).Find(section, key).value_or(defaultValue);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    const std::lock_guard guard(ProcessMutex());
    ChangeFile(FFileName, [&](TIniText& text) {
        if (!text.Set(section, key, value)) {
            throw WriteError(FFileName, NotStorableReason);
        }
        return true;
    });
}

TIniFile::TValues TIniFile::ReadSectionValues(const std::string& section) const {
    const std::lock_guard guard(ProcessMutex());
    return Load(FFileName).Values(section);
}

void TIniFile::WriteSectionValues(const std::string& section, const TValues& values) {
    const std::lock_guard guard(ProcessMutex());
    ChangeFile(FFileName, [&](TIniText& text) {
        for (const auto& [key, value] : values) {
            if (!text.Set(section, key, value)) {
                throw WriteError(FFileName, NotStorableReason);
            }
        }
        return !values.empty();
    });
}

void TIniFile::ReadSections(TStringList& list) const {
    const std::lock_guard guard(ProcessMutex());
    Load(FFileName).Sections(list);
}

void TIniFile::ReadSection(const std::string& section, TStringList& list) const {
    const std::lock_guard guard(ProcessMutex());
    Load(FFileName).Keys(section, list);
}

void TIniFile::EraseSection(const std::string& section) {
    const std::lock_guard guard(ProcessMutex());
    // Erasing what is not there changes nothing, needs no lock file and
    // creates no file.
    if (!Load(FFileName).HasSection(section)) {
        return;
    }
    ChangeFile(FFileName, [&](TIniText& text) { return text.Erase(section); });
}

#include "JobState.h"

#include "JobRecord.h"
#include "config/AsciiCase.h"
#include "config/AtomicFile.h"

#include <functional>
#include <vector>

namespace {

const std::string KeyFirstStart = "FirstStart";
const std::string KeyLastStart = "LastStart";
const std::string KeyLastEnd = "LastEnd";
const std::string KeyLastEndClean = "LastEndClean";
const std::string KeyLastCleanEnd = "LastCleanEnd";
const std::string KeyLastStaleNotice = "LastStaleNotice";

// Sections in file order, each with its keys in order.
using TKeys = std::vector<std::pair<std::string, std::string>>;
using TSections = std::vector<std::pair<std::string, TKeys>>;

TSections Parse(const std::string& text) {
    TSections sections;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (line[0] == '[' && line.back() == ']') {
            sections.emplace_back(line.substr(1, line.size() - 2), TKeys{});
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos && !sections.empty()) {
            sections.back().second.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return sections;
}

std::string Format(const TSections& sections) {
    std::string text = "# Pairwell: when each job last ran. Written by the runners.\n";
    for (const auto& [name, keys] : sections) {
        text += "\n[" + name + "]\n";
        for (const auto& [key, value] : keys) {
            text += key + "=" + value + "\n";
        }
    }
    return text;
}

const std::string* Find(const TKeys& keys, const std::string& key) {
    for (const auto& [name, value] : keys) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

void Set(TKeys& keys, const std::string& key, const std::string& value) {
    for (auto& [name, old] : keys) {
        if (name == key) {
            old = value;
            return;
        }
    }
    keys.emplace_back(key, value);
}

std::optional<TDateTime> TimeOf(const TKeys& keys, const std::string& key) {
    const std::string* text = Find(keys, key);
    return text ? TryTextToDateTime(*text) : std::nullopt;
}

// change returns false when it left the keys as they were: nothing is written then.
bool Update(const std::string& fileName, const std::string& jobName,
            const std::function<bool(TKeys&)>& change) {
    // A job name is one line of the configuration, so it fits one line here too.
    if (jobName.find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    const TFileLock lock(fileName + ".lock");
    if (!lock.Locked()) {
        return false;
    }
    TSections sections = Parse(ReadWholeFile(fileName).value_or(""));
    const std::string section = JobSection(jobName);
    TKeys* keys = nullptr;
    for (auto& [name, values] : sections) {
        if (SameTextIgnoringAsciiCase(name, section)) {
            keys = &values;
        }
    }
    if (keys == nullptr) {
        keys = &sections.emplace_back(section, TKeys{}).second;
    }
    return !change(*keys) || ReplaceFileAtomically(fileName, Format(sections));
}

} // namespace

std::string JobStateFileName(const std::string& configFile) {
    const std::size_t slash = configFile.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = configFile.find_last_of('.');
    if (dot != std::string::npos && dot > nameStart) {
        return configFile.substr(0, dot) + ".state";
    }
    return configFile + ".state";
}

TJobState::TJobState(const std::string& configFile) : FFileName(JobStateFileName(configFile)) {}

TJobRunState TJobState::Read(const std::string& jobName) const {
    TJobRunState state;
    const std::string section = JobSection(jobName);
    for (const auto& [name, keys] : Parse(ReadWholeFile(FFileName).value_or(""))) {
        if (!SameTextIgnoringAsciiCase(name, section)) {
            continue;
        }
        state.FFirstStart = TimeOf(keys, KeyFirstStart);
        state.FLastStart = TimeOf(keys, KeyLastStart);
        state.FLastEnd = TimeOf(keys, KeyLastEnd);
        const std::string* clean = Find(keys, KeyLastEndClean);
        state.FLastEndClean = clean != nullptr && *clean == "True";
        state.FLastCleanEnd = TimeOf(keys, KeyLastCleanEnd);
        state.FLastStaleNotice = TimeOf(keys, KeyLastStaleNotice);
    }
    return state;
}

bool TJobState::RecordStart(const std::string& jobName, TDateTime when) const {
    return Update(FFileName, jobName, [&](TKeys& keys) {
        if (Find(keys, KeyFirstStart) == nullptr) {
            Set(keys, KeyFirstStart, DateTimeToText(when));
        }
        Set(keys, KeyLastStart, DateTimeToText(when));
        return true;
    });
}

bool TJobState::RecordEnd(const std::string& jobName, TDateTime when, bool clean) const {
    return Update(FFileName, jobName, [&](TKeys& keys) {
        Set(keys, KeyLastEnd, DateTimeToText(when));
        Set(keys, KeyLastEndClean, clean ? "True" : "False");
        if (clean) {
            Set(keys, KeyLastCleanEnd, DateTimeToText(when));
        }
        return true;
    });
}

std::optional<bool> TJobState::ClaimStaleNotice(const std::string& jobName, TDateTime when) const {
    bool claimed = false;
    const bool written = Update(FFileName, jobName, [&](TKeys& keys) {
        const std::optional<TDateTime> told = TimeOf(keys, KeyLastStaleNotice);
        if (told && StartOfDay(*told) == StartOfDay(when)) {
            return false;
        }
        Set(keys, KeyLastStaleNotice, DateTimeToText(when));
        claimed = true;
        return true;
    });
    if (!written) {
        return std::nullopt;
    }
    return claimed;
}

#include "JsonReport.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// The length of the valid UTF-8 sequence at text[at], or 0.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned minimum = 0;
    unsigned code = 0;
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

struct TTotals {
    int FCheckFailed = 0, FNewDone = 0, FNewFailed = 0, FUpdateDone = 0, FUpdateFailed = 0, FDeleteDone = 0,
        FDeleteFailed = 0, FMoved = 0;
};

std::string CountsJson(const TTotals& t) {
    const auto phase = [](int done, int failed) {
        return "{\"done\":" + std::to_string(done) + ",\"failed\":" + std::to_string(failed) + "}";
    };
    return "{\"check\":{\"failed\":" + std::to_string(t.FCheckFailed) +
           "},\"new\":" + phase(t.FNewDone, t.FNewFailed) +
           ",\"update\":" + phase(t.FUpdateDone, t.FUpdateFailed) +
           ",\"delete\":" + phase(t.FDeleteDone, t.FDeleteFailed) + ",\"moved\":" + std::to_string(t.FMoved) +
           "}";
}

TTotals TotalsOf(const TProjectReport& p) {
    return {p.FCheckFailed,  p.FNewDone,    p.FNewFailed,    p.FUpdateDone,
            p.FUpdateFailed, p.FDeleteDone, p.FDeleteFailed, p.FMoved};
}

std::string FailuresJson(const TProjectReport& p, bool withProject) {
    std::string text = "[";
    for (const auto& failure : p.FFailures) {
        if (text.size() > 1) {
            text += ",";
        }
        text += "{";
        if (withProject) {
            text += "\"project\":" + JsonString(p.FProject) + ",";
        }
        text += "\"phase\":" + JsonString(failure.FPhase) + ",\"path\":" + JsonString(failure.FPath) +
                ",\"reason\":" + JsonString(failure.FReason) + "}";
    }
    return text + "]";
}

// The members every project entry and the sync object share.
std::string ProjectMembers(const TProjectReport& p) {
    return "\"project\":" + JsonString(p.FProject) + ",\"start\":" + JsonString(JsonTime(p.FStart)) +
           ",\"end\":" + JsonString(JsonTime(p.FEnd)) +
           ",\"status\":" + JsonString(JsonStatus(p.FExitStatus)) +
           ",\"exitStatus\":" + std::to_string(p.FExitStatus) + ",\"error\":" + JsonString(p.FError) +
           ",\"counts\":" + CountsJson(TotalsOf(p)) + ",\"failures\":" + FailuresJson(p, false);
}

} // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const std::size_t length = Utf8Length(text, at);
        if (length == 0) {
            out += "\\ufffd";
            ++at;
            continue;
        }
        if (length > 1) {
            out.append(text, at, length);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
        at += length;
    }
    return out + "\"";
}

std::string JsonTime(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string result = text;
    if (result.size() >= 5) {
        result.insert(result.size() - 2, ":"); // +0100 -> +01:00
    }
    return result;
}

std::string JsonStatus(int exitStatus) {
    switch (exitStatus) {
    case 0:
        return "completed";
    case 1:
        return "failed-items";
    default:
        return "not-completed";
    }
}

TProjectReport MakeProjectReport(const TBackgroundRun& run, std::time_t start, std::time_t end,
                                 int exitStatus, const std::string& error) {
    TProjectReport p;
    p.FProject = run.FProjectName;
    p.FStart = start;
    p.FEnd = end;
    p.FExitStatus = exitStatus;
    p.FError = error;
    p.FCheckFailed = static_cast<int>(run.FPlan.FErrors.size());
    p.FNewDone = run.FNewResult.FDone;
    p.FNewFailed = run.FNewResult.FFailed;
    p.FUpdateDone = run.FUpdateResult.FDone;
    p.FUpdateFailed = run.FUpdateResult.FFailed;
    p.FDeleteDone = run.FDeleteResult.FDone;
    p.FDeleteFailed = run.FDeleteResult.FFailed;
    p.FMoved = run.FMoveCount;
    const auto add = [&](const char* phase, const std::vector<TItemFailure>& failures) {
        for (const TItemFailure& failure : failures) {
            p.FFailures.push_back({phase, failure.FPath, failure.FReason});
        }
    };
    add("check", run.FPlan.FErrors);
    // A move that fell back to copying fails nothing, but its reason is told.
    add("move", run.FMoveFallbacks);
    add("new", run.FNewResult.FFailures);
    add("update", run.FUpdateResult.FFailures);
    add("delete", run.FDeleteResult.FFailures);
    return p;
}

namespace {

// Monitoring tools read the file from elsewhere: the path from the root.
std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    char* folder = getcwd(nullptr, 0);
    if (folder == nullptr) {
        return path;
    }
    std::string result = folder;
    free(folder);
    return result + "/" + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

} // namespace

std::string SyncJson(const TProjectReport& project, const std::string& logFile) {
    return "{\"schema\":\"pairwell-run/1\",\"command\":\"sync\"," + ProjectMembers(project) +
           ",\"logFile\":" + JsonString(Absolute(logFile)) + "}";
}

std::string RestoreJson(const TProjectReport& project, const std::vector<TRestoredFile>& restored,
                        const std::string& logFile) {
    std::string files = "[";
    for (const TRestoredFile& file : restored) {
        files += (files.size() > 1 ? ",{" : "{") + std::string("\"phase\":") +
                 (file.FReplaced ? "\"update\"" : "\"new\"") + ",\"path\":" + JsonString(file.FPath) +
                 ",\"version\":" + JsonString(FormatVersionTime(file.FVersionStart)) + "}";
    }
    return "{\"schema\":\"pairwell-run/1\",\"command\":\"restore\"," + ProjectMembers(project) +
           ",\"restored\":" + files + "],\"logFile\":" + JsonString(Absolute(logFile)) + "}";
}

std::string RunJobJson(const std::string& job, std::time_t start, std::time_t end, int exitStatus,
                       const std::vector<TProjectReport>& projects, const std::string& logFile,
                       const std::string& error) {
    TTotals totals;
    std::string failures = "[";
    std::string entries = "[";
    for (const TProjectReport& p : projects) {
        const TTotals t = TotalsOf(p);
        totals.FCheckFailed += t.FCheckFailed;
        totals.FNewDone += t.FNewDone;
        totals.FNewFailed += t.FNewFailed;
        totals.FUpdateDone += t.FUpdateDone;
        totals.FUpdateFailed += t.FUpdateFailed;
        totals.FDeleteDone += t.FDeleteDone;
        totals.FDeleteFailed += t.FDeleteFailed;
        totals.FMoved += t.FMoved;
        const std::string own = FailuresJson(p, true);
        if (own.size() > 2) {
            failures += (failures.size() > 1 ? "," : "") + own.substr(1, own.size() - 2);
        }
        entries += (entries.size() > 1 ? ",{" : "{") + ProjectMembers(p) + "}";
    }
    return "{\"schema\":\"pairwell-run/1\",\"command\":\"run-job\",\"job\":" + JsonString(job) +
           ",\"start\":" + JsonString(JsonTime(start)) + ",\"end\":" + JsonString(JsonTime(end)) +
           ",\"status\":" + JsonString(JsonStatus(exitStatus)) +
           ",\"exitStatus\":" + std::to_string(exitStatus) + ",\"error\":" + JsonString(error) +
           ",\"counts\":" + CountsJson(totals) + ",\"failures\":" + failures + "],\"projects\":" + entries +
           "],\"logFile\":" + JsonString(Absolute(logFile)) + "}";
}

#pragma once

#include "config/DateTime.h"

#include <optional>
#include <string>

// What the runners remember of each job between runs, in a state file beside
// the configuration ("pairwell.state" beside "pairwell.ini"), never in the
// configuration itself, so that a save from the job editor never races a
// runner. Every run of a job records its start and its end, whoever runs it:
// a monitor row of the window, the daemon or "pairwell-cli run-job".
//
// The file is a small INI text in UTF-8, one section per job:
//   [job_Nightly]
//   FirstStart=2026-03-01 02:30:00
//   LastStart=2026-03-10 02:30:00
//   LastEnd=2026-03-10 02:31:12
//   LastEndClean=True
//   LastCleanEnd=2026-03-10 02:31:12
//   LastStaleNotice=2026-03-12 09:00:00
// Writers take a lock file (the state file's name plus ".lock") around each
// read-modify-write and replace the file atomically, so that the window, the
// daemon and the command-line tool may record at the same time; readers read
// without the lock and always see a whole file.
struct TJobRunState {
    std::optional<TDateTime> FFirstStart;      // the first start ever recorded
    std::optional<TDateTime> FLastStart;       // the start of the latest run
    std::optional<TDateTime> FLastEnd;         // the end of the latest run that ended
    bool FLastEndClean = false;                // that run had no failure, refusal or stop
    std::optional<TDateTime> FLastCleanEnd;    // the end of the latest run without failures
    std::optional<TDateTime> FLastStaleNotice; // when the stale alert was last told
};

// "dir/pairwell.state" for "dir/pairwell.ini": the configuration's name with
// its extension replaced (or ".state" added when it has none).
std::string JobStateFileName(const std::string& configFile);

class TJobState {
public:
    // The state of the configuration at configFile; nothing is read or
    // created until asked.
    explicit TJobState(const std::string& configFile);

    const std::string& FileName() const { return FFileName; }

    // The recorded state of a job (names ignore the case of A-Z, as in the
    // configuration); all empty for a job
    // that never ran or when the file is missing or unreadable.
    TJobRunState Read(const std::string& jobName) const;

    // A run of the job began at when. False when the file could not be
    // written (the run goes on; the state is only lost).
    bool RecordStart(const std::string& jobName, TDateTime when) const;
    // The run ended at when; clean when no item failed, no project was
    // refused and nothing stopped it.
    bool RecordEnd(const std::string& jobName, TDateTime when, bool clean) const;
    // The stale alert is to be told at when: records it and returns true,
    // unless it was told already on when's calendar day (then false). Checked
    // and recorded under the lock, so two tellers never both tell it. Returns
    // nullopt when the file could not be written.
    std::optional<bool> ClaimStaleNotice(const std::string& jobName, TDateTime when) const;

private:
    std::string FFileName;
};

#include "JobDaemon.h"

#include "Alarm.h"
#include "JobRecord.h"
#include "JobThread.h"
#include "LogOpener.h"
#include "NoticeSender.h"
#include "RunNotice.h"
#include "SchedulerLock.h"
#include "StaleAlert.h"
#include "config/ProgramFolders.h"
#include "runlog/RunLog.h"

#include <map>
#include <memory>
#include <poll.h>
#include <sys/stat.h>

namespace {

constexpr int CheckMilliseconds = 450;
// How often each job's backup is looked at for the stale alert.
constexpr long long StaleCheckMilliseconds = 60'000;

// What tells that the configuration file changed: a save replaces it.
struct TFileStamp {
    dev_t FDevice = 0;
    ino_t FInode = 0;
    off_t FSize = -1;
    std::int64_t FModified = 0;

    bool operator==(const TFileStamp&) const = default;
};

TFileStamp StampOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return {};
    }
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec};
}

std::string RunOutcome(const TJobThread& runner) {
    if (!runner.FailureText().empty()) {
        return "not completed: " + runner.FailureText();
    }
    for (const TProjectRunResult& result : runner.Results()) {
        if (!result.FCompleted) {
            return "not completed";
        }
    }
    return AllClean(runner.Results()) ? "completed" : "completed with failures";
}

class TDaemon {
public:
    TDaemon(const std::string& configFile, const TDaemonOptions& options)
        : FIni(configFile), FRunLog(LogFolderFor(configFile)), FOptions(options), FStaleNotices(configFile),
          FLogOpener(configFile, LogFolderFor(configFile)) {}

    int Run();

private:
    struct TJob {
        TJob(const TIniFile& ini, const std::string& name, TTriggerTuning tuning)
            : FTriggers(ini, name, tuning) {}
        TAlarm FAlarm;
        TJobTriggers FTriggers;
        TJobScheduleTexts FScheduled; // what the alarm was armed from
        std::unique_ptr<TJobThread> FRunner;
        std::optional<TDateTime> FStaleCheckedAt;
    };

    void Say(const std::string& text) {
        if (FOptions.FMessages != nullptr) {
            *FOptions.FMessages << DateTimeToText(FOptions.FNow()) << ' ' << text << std::endl;
        }
    }
    // Sends a notice to the desktop; where no service answers, one line of the messages.
    void Tell(const std::optional<TRunNotice>& notice);
    void RunEnded(const std::string& name, TJob& job);
    void CheckStale(const std::string& name, TJob& job, TDateTime now);
    void ReadJobs();
    void Reschedule(const std::string& name, TJob& job);
    void Check(const std::string& name, TJob& job);
    void Start(const std::string& name, TJob& job);
    void WaitForChange();

    TIniFile FIni;
    TRunLog FRunLog;
    const TDaemonOptions& FOptions;
    TStaleNoticeDays FStaleNotices; // at most once a day per job
    TNoticeSender FNotices;
    TLogOpener FLogOpener; // for the notices' "查看日志"
    std::map<std::string, std::unique_ptr<TJob>> FJobs;
    TJobThreadKeeper FKeeper; // runners of jobs removed from the configuration
};

void TDaemon::Tell(const std::optional<TRunNotice>& notice) {
    if (notice && !FNotices.Send(*notice)) {
        Say(NoticeLine(*notice));
    }
}

void TDaemon::RunEnded(const std::string& name, TJob& job) {
    job.FRunner->Wait();
    Say("job " + name + " ended: " + RunOutcome(*job.FRunner));
    // "Notify" as it stands now: the configuration is read again when it changes.
    Tell(ChooseRunNotice(name, job.FRunner->Results(), job.FRunner->FailureText(), ReadNotifyMode(FIni)));
    job.FStaleCheckedAt.reset(); // the run may have ended the alert, or begun it
}

void TDaemon::CheckStale(const std::string& name, TJob& job, TDateTime now) {
    if (job.FStaleCheckedAt &&
        now.FMilliseconds - job.FStaleCheckedAt->FMilliseconds < StaleCheckMilliseconds) {
        return;
    }
    job.FStaleCheckedAt = now;
    const std::optional<int> days = ReadStaleBackupDays(FIni, name, now);
    if (!days) {
        return;
    }
    const std::optional<TRunNotice> notice = ChooseStaleNotice(name, *days, ReadNotifyMode(FIni));
    if (notice && FStaleNotices.Claim(name, now)) {
        Tell(notice);
    }
}

void TDaemon::Reschedule(const std::string& name, TJob& job) {
    const TDateTime now = FOptions.FNow();
    job.FScheduled = ReadJobScheduleTexts(FIni, name);
    job.FAlarm.Arm(NextRunTime(FIni, name, now), now);
}

void TDaemon::ReadJobs() {
    TStringList names;
    ListJobs(FIni, names);
    std::map<std::string, std::unique_ptr<TJob>> jobs;
    for (const std::string& name : names) {
        if (!TextIsTrue(FIni.ReadString(JobSection(name), JobKey::CbJobValid, "False")) || jobs.count(name)) {
            continue;
        }
        const auto found = FJobs.find(name);
        bool changed = true;
        if (found != FJobs.end()) {
            TJob& known = *found->second;
            const TJobKind kind = known.FTriggers.Kind();
            known.FTriggers.Reload(FOptions.FNow(), std::chrono::steady_clock::now());
            // A save of something else leaves the armed time alone: a periodic
            // job counts its period from its last run, not from every save.
            changed = ReadJobScheduleTexts(FIni, name) != known.FScheduled || known.FTriggers.Kind() != kind;
            jobs[name] = std::move(found->second);
            FJobs.erase(found);
        } else {
            auto job = std::make_unique<TJob>(FIni, name, FOptions.FTuning);
            job->FTriggers.Begin(FOptions.FNow(), std::chrono::steady_clock::now());
            jobs[name] = std::move(job);
            Say("job " + name + " scheduled");
        }
        if (!jobs[name]->FRunner && changed) {
            Reschedule(name, *jobs[name]);
        }
        if (jobs[name]->FTriggers.InfoText() == WatchLimitText) {
            Say("job " + name +
                ": too few inotify watches (fs.inotify.max_user_watches); checked every 5 minutes");
        }
    }
    for (auto& [name, job] : FJobs) {
        Say("job " + name + " no longer scheduled");
        FKeeper.Keep(std::move(job->FRunner)); // a run of a removed job stops at its next file
    }
    FJobs = std::move(jobs);
}

void TDaemon::Start(const std::string& name, TJob& job) {
    try {
        job.FRunner = std::make_unique<TJobThread>(FIni, FRunLog, name, nullptr, nullptr);
    } catch (const std::exception& error) {
        Say("job " + name + " could not start: " + error.what());
        // What asked for the run is spent, as by a run that failed at once.
        job.FTriggers.RunStarted(FOptions.FNow(), std::chrono::steady_clock::now());
        job.FTriggers.RunEnded();
        Reschedule(name, job);
        return;
    }
    job.FTriggers.RunStarted(FOptions.FNow(), std::chrono::steady_clock::now());
    Say("job " + name + " started");
    job.FRunner->Start();
}

void TDaemon::Check(const std::string& name, TJob& job) {
    if (job.FRunner && job.FRunner->Finished()) {
        RunEnded(name, job);
        job.FRunner.reset();
        job.FTriggers.RunEnded();
        Reschedule(name, job);
    }
    const TDateTime now = FOptions.FNow();
    if (!job.FRunner) {
        CheckStale(name, job, now);
    }
    bool due = job.FAlarm.Check(now);
    if (job.FTriggers.Poll(now, std::chrono::steady_clock::now(), false)) {
        due = true;
    }
    if (!due) {
        return;
    }
    if (job.FRunner) {
        Reschedule(name, job); // the job still runs: no second runner
    } else {
        Start(name, job);
    }
}

void TDaemon::WaitForChange() {
    std::vector<pollfd> fds;
    if (FNotices.Fd() >= 0) {
        fds.push_back({FNotices.Fd(), POLLIN, 0});
    }
    for (const auto& [name, job] : FJobs) {
        for (const int fd : job->FTriggers.Fds()) {
            fds.push_back({fd, POLLIN | POLLPRI, 0});
        }
    }
    // Woken early by a change, a mount or a notice's action, at the latest at
    // the next check; a stop signal interrupts the wait.
    poll(fds.data(), fds.size(), CheckMilliseconds);
}

int TDaemon::Run() {
    const auto stopRequested = [this] { return StopRequestedBy(FOptions.FStopRequested); };
    ReadJobs();
    TFileStamp stamp = StampOf(FIni.FileName());
    while (!stopRequested()) {
        WaitForChange();
        if (stopRequested()) {
            break;
        }
        if (FNotices.ActionInvoked()) {
            Say("opening the log");
            FLogOpener.Open();
        }
        FLogOpener.Reap();
        if (const TFileStamp now = StampOf(FIni.FileName()); now != stamp) {
            stamp = now;
            Say("configuration changed");
            ReadJobs();
        }
        for (auto& [name, job] : FJobs) {
            Check(name, *job);
        }
    }
    Say("stopping");
    for (auto& [name, job] : FJobs) {
        if (job->FRunner) {
            job->FRunner->RequestStop();
        }
    }
    for (auto& [name, job] : FJobs) {
        if (job->FRunner) {
            RunEnded(name, *job);
        }
    }
    FKeeper.JoinAll();
    return 0;
}

} // namespace

int RunJobDaemon(const std::string& configFile, const TDaemonOptions& options) {
    TSchedulerLock lock(configFile, "pairwell-cli daemon");
    if (lock.Result() == TSchedulerLock::Failed) {
        if (options.FMessages != nullptr) {
            *options.FMessages << "pairwell-cli: cannot take the scheduler lock " << lock.ErrorText()
                               << std::endl;
        }
        return 2;
    }
    if (lock.Result() == TSchedulerLock::HeldElsewhere) {
        if (options.FMessages != nullptr) {
            *options.FMessages << "pairwell-cli: the jobs of " << configFile << " are already scheduled by "
                               << SchedulerLockHolder(configFile).value_or("another scheduler") << std::endl;
        }
        return 2;
    }
    if (options.FMessages != nullptr) {
        *options.FMessages << "pairwell-cli daemon: scheduling the jobs of " << configFile << std::endl;
    }
    TDaemon daemon(configFile, options);
    return daemon.Run();
}

#include "FrmItem.h"

#include "ByteText.h"
#include "PathShortening.h"
#include "jobs/JobSchedule.h"
#include "jobs/JobThread.h"
#include "jobs/JobTriggers.h"
#include "jobs/StaleAlert.h"
#include "ui_FrmItem.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPointer>
#include <algorithm>
#include <climits>

namespace {
constexpr int AlarmCheckMilliseconds = 450;
constexpr int IdleInfoWidth = 180;
constexpr int RunningBarWidth = 180;
constexpr int StaleCheckMilliseconds = 60'000;
const QString RunByServiceText = QStringLiteral("由后台服务运行");
} // namespace

TFrmItem::TFrmItem(TIniFile& iniFile, const TRunLog& runLog, TJobThreadKeeper& keeper, QWidget* parent)
    : QFrame(parent), FIniFile(iniFile), FRunLog(runLog), FKeeper(keeper),
      ui(std::make_unique<Ui::FrmItem>()) {
    ui->setupUi(this);
    QFont mainFont(QStringLiteral("宋体"));
    mainFont.setPixelSize(14);
    ui->LabMain->setFont(mainFont);
    ui->LabMain->clear();
    ui->ProgressBar1->setValue(0);
    SetState(StateIdle);
    SetNextRun(NothingArmed);
    // Pressed by a click, a key or a screen reader alike.
    connect(ui->SpeedButton1, &QToolButton::toggled, this, &TFrmItem::SpeedButton1Click);
    FClock.setInterval(AlarmCheckMilliseconds);
    connect(&FClock, &QTimer::timeout, this, [this] { CheckAlarm(Now()); });
    FClock.start();
    FStaleClock.setInterval(StaleCheckMilliseconds);
    connect(&FStaleClock, &QTimer::timeout, this, [this] { CheckStale(Now()); });
    FStaleClock.start();
}

TFrmItem::~TFrmItem() {
    if (FProcessor) {
        // The run ends at its next safe point; nothing of this row is touched again.
        FKeeper.Keep(std::move(FProcessor));
    }
}

void TFrmItem::SetJob(const QString& name) {
    FJobName = name;
    ui->LabMain->setText(QStringLiteral("任务：%1").arg(name));
    setAccessibleName(ui->LabMain->text());
    if (!FRunByService) {
        BeginTriggers();
    }
    Reschedule();
}

void TFrmItem::BeginTriggers() {
    // Watches only while this row schedules the job; a catch-up counts from
    // the last start, whoever made it.
    FTriggers = std::make_unique<TJobTriggers>(FIniFile, TextToBytes(FJobName));
    FTriggers->Begin(Now(), std::chrono::steady_clock::now());
}

void TFrmItem::SetRunByService(bool byService) {
    FRunByService = byService;
    if (byService) {
        FTriggers.reset();
    } else if (!FJobName.isEmpty()) {
        BeginTriggers();
    }
    Reschedule();
}

void TFrmItem::ShowTriggerInfo() {
    if (FRunByService) {
        FAlarm.SetEnabled(false);
        if (!FProcessor) {
            SetInfo(RunByServiceText);
        }
        return;
    }
    if (FTriggers && !FProcessor && !ui->SpeedButton1->isChecked()) {
        if (const std::string text = FTriggers->InfoText(); !text.empty()) {
            SetInfo(QString::fromStdString(text));
        }
    }
}

void TFrmItem::SetState(int state) {
    FState = state;
    if (state == StateIdle) {
        ui->LabInfo->setText(QString::fromStdString(NotArmedText));
        ui->ProgressBar1->setFixedWidth(0);
        ui->LabInfo->setFixedWidth(IdleInfoWidth);
        ui->LabDetail->clear();
    } else if (state == StateRunning) {
        ui->ProgressBar1->setFixedWidth(RunningBarWidth);
        ui->LabInfo->setFixedWidth(0);
        ui->LabDetail->clear();
    }
}

void TFrmItem::SetNextRun(TDateTime time) {
    FNextRun = time;
    if (time == NothingArmed) {
        // A row whose job still runs keeps its running layout.
        if (!FProcessor) {
            SetState(StateIdle);
        }
        FAlarm.SetEnabled(false);
        return;
    }
    ui->LabInfo->setText(QStringLiteral("执行预定：") + QString::fromStdString(FormatNextRun(time)));
    FAlarm.Arm(time, Now());
}

void TFrmItem::Reschedule() {
    if (FJobName.isEmpty()) {
        return;
    }
    SetNextRun(NothingArmed);
    SetNextRun(NextRunTime(FIniFile, TextToBytes(FJobName), Now()));
    if (FTriggers) {
        FTriggers->Reload(Now(), std::chrono::steady_clock::now());
    }
    ShowTriggerInfo();
    CheckStale(Now());
}

void TFrmItem::SetInfo(const QString& text) {
    ui->LabInfo->setText(text);
}

void TFrmItem::SetDetail(const QString& text) {
    ui->LabDetail->setText(text);
}

void TFrmItem::SetDetailPath(const QString& status, const QString& path) {
    const QFontMetrics metrics(ui->LabDetail->font());
    const int room = ui->LabDetail->width() - metrics.horizontalAdvance(status) - 5;
    const auto widthOf = [&](const QString& text) { return metrics.horizontalAdvance(text); };
    ui->LabDetail->setText(status + ShortenPath(path, room, widthOf));
}

void TFrmItem::CheckAlarm(TDateTime now, TSteadyTime steady) {
    if (FRunByService) {
        return;
    }
    bool due = FAlarm.Check(now);
    if (FTriggers) {
        const std::string before = FTriggers->InfoText();
        if (FTriggers->Poll(now, steady, ui->SpeedButton1->isChecked())) {
            due = true;
        } else if (FTriggers->InfoText() != before) {
            ShowTriggerInfo(); // a catch-up came due after a wake-up, or the watches ran out
        }
    }
    if (due) {
        RxClock1Alarm();
    }
}

void TFrmItem::RxClock1Alarm() {
    if (FProcessor) {
        Reschedule(); // the job still runs: no second runner
        return;
    }
    ui->ProgressBar1->setValue(0);
    SetState(StateRunning);
    auto buffer = std::make_shared<TProgressBuffer>();
    // The end of the run reaches the row on the window's thread, and only
    // while the row still exists.
    QPointer<TFrmItem> row(this);
    auto terminated = [row] {
        QMetaObject::invokeMethod(
            qApp,
            [row] {
                if (row) {
                    row->ProcessorTerminated();
                }
            },
            Qt::QueuedConnection);
    };
    try {
        FProcessor =
            std::make_unique<TJobThread>(FIniFile, FRunLog, TextToBytes(FJobName), buffer, terminated);
    } catch (const std::exception&) {
        // Today's log could not be prepared: back to idle, armed again; what
        // asked for the run is spent, as by a run that failed at once.
        if (FTriggers) {
            FTriggers->RunStarted(Now(), std::chrono::steady_clock::now());
            FTriggers->RunEnded();
        }
        SetState(StateIdle);
        Reschedule();
        return;
    }
    FProgress = std::make_unique<TQueuedProgress>(*this, buffer);
    ShowStale(); // the detail line is the run's now
    if (ui->SpeedButton1->isChecked()) {
        FProcessor->Pause();
    }
    if (FTriggers) {
        FTriggers->RunStarted(Now(), std::chrono::steady_clock::now());
    }
    FProcessor->Start();
    emit RunStarted(FJobName);
}

void TFrmItem::ProcessorTerminated() {
    std::optional<TJobRunOutcome> outcome;
    if (FProcessor) {
        FProcessor->Wait();
        outcome = TJobRunOutcome{FJobName, FProcessor->Results(), FProcessor->FailureText()};
        FProcessor.reset();
    }
    if (FProgress) {
        FProgress->Flush();
        FProgress.reset();
    }
    if (FTriggers) {
        FTriggers->RunEnded();
    }
    SetState(StateIdle);
    Reschedule();
    emit RunEnded(FJobName);
    if (outcome) {
        emit RunFinished(*outcome);
    }
}

void TFrmItem::CheckStale(TDateTime now) {
    if (FJobName.isEmpty()) {
        return;
    }
    const std::optional<int> days = ReadStaleBackupDays(FIniFile, TextToBytes(FJobName), now);
    FStaleDays = days.value_or(0);
    ShowStale();
    if (days) {
        emit StaleSeen(FJobName, *days, now);
    }
}

// Red while stale; the detail line says so whenever no run shows its progress there.
void TFrmItem::ShowStale() {
    const QString text = FStaleDays > 0 ? QString::fromStdString(StaleBackupText(FStaleDays)) : QString();
    setStyleSheet(text.isEmpty() ? QString()
                                 : QStringLiteral("#FrmItem { background-color: rgb(255, 200, 200); }"));
    setAccessibleDescription(text);
    if (FProcessor) {
        ui->LabDetail->setStyleSheet(QString());
        return;
    }
    ui->LabDetail->setStyleSheet(text.isEmpty() ? QString() : QStringLiteral("color: rgb(200, 0, 0);"));
    ui->LabDetail->setText(text);
}

void TFrmItem::SpeedButton1Click() {
    const bool down = ui->SpeedButton1->isChecked();
    if (FProcessor) {
        down ? FProcessor->Pause() : FProcessor->Resume();
    } else if (down) {
        SetNextRun(NothingArmed);
    } else {
        Reschedule();
    }
}

void TFrmItem::ShowProgressStatus(const QString& text) {
    SetDetail(text);
}

void TFrmItem::ShowProgressItem(const QString& prefix, const QString& path) {
    if (path.isEmpty()) {
        SetDetail(prefix);
    } else {
        SetDetailPath(prefix, path);
    }
}

void TFrmItem::ShowProgressBar(std::size_t position, std::size_t maximum) {
    const auto clamp = [](std::size_t value) {
        return static_cast<int>(std::min<std::size_t>(value, INT_MAX));
    };
    ui->ProgressBar1->setMaximum(std::max(1, clamp(maximum)));
    ui->ProgressBar1->setValue(clamp(std::min(position, maximum)));
}

// bench-window: times the window's interactive check as the user sees it.
//
// Opens the real main window offscreen on a program folder of its own (a copy
// of the given configuration, the log folder), loads the project, types the
// source and target folders into the settings page, runs the check from the
// action to the results page and its "检查完成!" notice (answered at once),
// and then times filling the three memos with the plan a second time. With
// --engine it also times the engine's check alone in the same process, so the
// window's own share of the time shows.
//
// Prints "key value" lines:
//   check_s        action to notice, one line per run
//   plan           new/update/delete line counts of the last run
//   results_page   1 when the results page was showing when the notice came
//   memo_fill_s    the three SetMemoLines calls with the plan's lines
//   memo_paint_s   the results page's first repaint after that fill
//   memo_convert_s the same fill's first half: plan lines to the memos' text
//   memo_settext_s its second half: the text into the three memos
//   engine_check_s RunCheck alone (with --engine)
//   engine_worker_silent_check_s RunCheck on a worker thread, reporting nothing
//   engine_worker_check_s RunCheck on a worker thread reporting to the shown
//                  progress window, as the window runs it (with --engine)
//   phase_*_s      when, from the action, the check reached each visible step
//                  (progress window shown, each memo filled, main window back)
//   ui_cpu_s       CPU time the window's thread spent during the check
//   cpu_s          CPU time of the whole process during the check
//   progress_paints paints of the progress window during the check
//
// Usage: bench-window --config FILE --project NAME [--source DIR] [--target DIR]
//                     [--repeat N] [--engine]

#include "ByteText.h"
#include "FmPairwell.h"
#include "FmProcess.h"
#include "QueuedProgress.h"
#include "ResultsPage.h"
#include "SettingsPage.h"
#include "WorkerRun.h"
#include "engine/check/Check.h"
#include "engine/check/CheckSettings.h"
#include "engine/project/Plan.h"
#include "ui_FmPairwell.h"
#include "ui_ResultsPage.h"
#include "ui_SettingsPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sys/resource.h>

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point from, TClock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

[[noreturn]] void Fail(const char* message) {
    std::fprintf(stderr, "bench-window: %s\n", message);
    std::exit(2);
}

struct TArguments {
    QString FConfig;
    QString FProject;
    std::optional<QString> FSource;
    std::optional<QString> FTarget;
    int FRepeat = 1;
    bool FEngine = false;
};

TArguments ParseArguments(const QStringList& words) {
    TArguments arguments;
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString& word = words[i];
        const auto value = [&]() -> QString {
            if (i + 1 >= words.size()) {
                Fail("an option lacks its value");
            }
            return words[++i];
        };
        if (word == QLatin1String("--config")) {
            arguments.FConfig = value();
        } else if (word == QLatin1String("--project")) {
            arguments.FProject = value();
        } else if (word == QLatin1String("--source")) {
            arguments.FSource = value();
        } else if (word == QLatin1String("--target")) {
            arguments.FTarget = value();
        } else if (word == QLatin1String("--repeat")) {
            arguments.FRepeat = value().toInt();
        } else if (word == QLatin1String("--engine")) {
            arguments.FEngine = true;
        } else {
            Fail("usage: bench-window --config FILE --project NAME [--source DIR] [--target DIR] "
                 "[--repeat N] [--engine]");
        }
    }
    if (arguments.FConfig.isEmpty() || arguments.FRepeat < 1) {
        Fail("--config FILE is required and --repeat must be at least 1");
    }
    return arguments;
}

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Answers the completion notice the moment it shows and notes when that was:
// the end of the check as the user sees it. Notes the visible steps before it.
class TNoticeWatcher : public QObject {
public:
    std::optional<TClock::time_point> FShownAt;
    std::optional<TClock::time_point> FProgressShownAt;
    std::optional<TClock::time_point> FMainShownAt;
    TClock::time_point FMemoFilledAt[3];
    int FProgressPaints = 0;
    QString FText;
    bool FOnResultsPage = false;
    TFmPairwell* FWindow = nullptr;

    void Reset() {
        FShownAt.reset();
        FProgressShownAt.reset();
        FMainShownAt.reset();
        FProgressPaints = 0;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        QWidget* progress = &FWindow->FmProcess();
        if (event->type() == QEvent::Paint && widget &&
            (widget == progress || progress->isAncestorOf(widget))) {
            ++FProgressPaints;
        }
        if (event->type() == QEvent::Show && watched == progress && !FProgressShownAt) {
            FProgressShownAt = TClock::now();
        }
        if (event->type() == QEvent::Show && watched == FWindow && FProgressShownAt && !FMainShownAt) {
            FMainShownAt = TClock::now();
        }
        if (event->type() == QEvent::Show && !FShownAt) {
            if (auto* box = qobject_cast<QMessageBox*>(watched)) {
                FShownAt = TClock::now();
                FText = box->text().trimmed();
                FOnResultsPage =
                    FWindow->Controls().PageControl2->currentWidget() == FWindow->Controls().TabSheet6;
                QTimer::singleShot(0, box, [box] {
                    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
                        ok->click();
                    } else {
                        box->close();
                    }
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

// Lets the window's event loop run for a while without spinning.
void Settle(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const TArguments arguments = ParseArguments(QApplication::arguments());

    // A program folder of its own: the configuration is a copy, so the
    // window's close bookkeeping never touches the caller's file.
    QTemporaryDir programFolder;
    if (!programFolder.isValid() || !QDir(programFolder.path()).mkpath(QStringLiteral("log"))) {
        Fail("cannot make a program folder");
    }
    QFile list(programFolder.filePath(QStringLiteral("log/list.xml")));
    if (!list.open(QIODevice::WriteOnly) ||
        list.write("<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<list></list>\r\n") < 0) {
        Fail("cannot write the log list");
    }
    list.close();
    const QString config = programFolder.filePath(QStringLiteral("pairwell.ini"));
    if (!QFile::copy(arguments.FConfig, config)) {
        Fail("cannot copy the configuration file");
    }

    TFmPairwellOptions options;
    options.FProgramFolder = programFolder.path();
    options.FConfigFileName = config;
    options.FWithBrowser = false;
    options.FTrayAvailable = false;
    TFmPairwell window(options);
    window.show();

    TSettingsPage& settings = window.SettingsPage();
    Ui::SettingsPage& page = settings.Controls();
    if (!arguments.FProject.isEmpty()) {
        settings.SelectProject(arguments.FProject);
        if (settings.ShownProjectName().isEmpty()) {
            Fail("the configuration has no such project");
        }
        settings.LoadProject(settings.ShownProjectName());
    }
    if (arguments.FSource) {
        page.DirectoryEdit1->setText(*arguments.FSource);
    }
    if (arguments.FTarget) {
        page.DirectoryEdit2->setText(*arguments.FTarget);
    }
    Settle(300);

    TNoticeWatcher watcher;
    watcher.FWindow = &window;
    application.installEventFilter(&watcher);
    Ui::ResultsPage& memos = window.ResultsPage().Controls();
    QPlainTextEdit* memoList[3] = {memos.Memo1, memos.Memo2, memos.Memo3};
    for (int i = 0; i < 3; ++i) {
        QObject::connect(memoList[i], &QPlainTextEdit::textChanged,
                         [&watcher, i] { watcher.FMemoFilledAt[i] = TClock::now(); });
    }
    for (int run = 0; run < arguments.FRepeat; ++run) {
        watcher.Reset();
        const double uiCpu = CpuSeconds(RUSAGE_THREAD);
        const double cpu = CpuSeconds(RUSAGE_SELF);
        const TClock::time_point started = TClock::now();
        window.FileCheckExecute();
        std::printf("ui_cpu_s %.4f\n", CpuSeconds(RUSAGE_THREAD) - uiCpu);
        std::printf("cpu_s %.4f\n", CpuSeconds(RUSAGE_SELF) - cpu);
        std::printf("progress_paints %d\n", watcher.FProgressPaints);
        if (watcher.FProgressShownAt && watcher.FMainShownAt) {
            std::printf("phase_progress_shown_s %.4f\n", Seconds(started, *watcher.FProgressShownAt));
            for (int i = 0; i < 3; ++i) {
                std::printf("phase_memo%d_filled_s %.4f\n", i + 1,
                            Seconds(started, watcher.FMemoFilledAt[i]));
            }
            std::printf("phase_main_shown_s %.4f\n", Seconds(started, *watcher.FMainShownAt));
        }
        if (!watcher.FShownAt) {
            Fail("the check ended without a notice");
        }
        if (watcher.FText != MsgCheckDone.trimmed()) {
            std::fprintf(stderr, "bench-window: the check said \"%s\"\n", qPrintable(watcher.FText));
            return 1;
        }
        std::printf("check_s %.4f\n", Seconds(started, *watcher.FShownAt));
        std::fflush(stdout);
        Settle(200);
    }
    application.removeEventFilter(&watcher);

    TResultsPage& results = window.ResultsPage();
    const TApplyPhase phases[] = {TApplyPhase::New, TApplyPhase::Update, TApplyPhase::Delete};
    TStringList plan[3];
    for (int i = 0; i < 3; ++i) {
        plan[i] = results.MemoLines(phases[i]);
    }
    std::printf("plan new=%zu update=%zu delete=%zu\n", plan[0].size(), plan[1].size(), plan[2].size());
    std::printf("results_page %d\n", watcher.FOnResultsPage ? 1 : 0);

    // The memo fill again with the same lines, on the results page as shown
    // after a check; the check itself empties the memos first.
    for (int run = 0; run < arguments.FRepeat; ++run) {
        results.ClearPlan();
        Settle(50);
        const TClock::time_point started = TClock::now();
        for (int i = 0; i < 3; ++i) {
            results.SetMemoLines(phases[i], plan[i]);
        }
        const TClock::time_point filled = TClock::now();
        results.repaint();
        const TClock::time_point painted = TClock::now();
        std::printf("memo_fill_s %.4f\n", Seconds(started, filled));
        std::printf("memo_paint_s %.4f\n", Seconds(filled, painted));
        Settle(50);

        // The same fill in its two halves: the lines to text, the text into the memos.
        results.ClearPlan();
        Settle(50);
        const TClock::time_point converting = TClock::now();
        QString texts[3];
        for (int i = 0; i < 3; ++i) {
            QStringList text;
            text.reserve(static_cast<qsizetype>(plan[i].size()));
            for (const std::string& line : plan[i]) {
                text.append(BytesToText(line));
            }
            texts[i] = text.join(QLatin1Char('\n'));
        }
        const TClock::time_point converted = TClock::now();
        for (int i = 0; i < 3; ++i) {
            results.Memo(phases[i])->setPlainText(texts[i]);
        }
        std::printf("memo_convert_s %.4f\n", Seconds(converting, converted));
        std::printf("memo_settext_s %.4f\n", Seconds(converted, TClock::now()));
        Settle(50);
    }

    if (arguments.FEngine) {
        const std::string source = WithTrailingDelimiter(TextToBytes(page.DirectoryEdit1->text()));
        const std::string target = WithTrailingDelimiter(TextToBytes(page.DirectoryEdit2->text()));
        const TCheckSettings check = CheckSettingsFor(settings.ShownRecord(), source, target, "");
        for (int run = 0; run < arguments.FRepeat; ++run) {
            TPlan enginePlan;
            const TClock::time_point started = TClock::now();
            RunCheck(check, enginePlan, SilentProgress());
            std::printf("engine_check_s %.4f\n", Seconds(started, TClock::now()));

            TPlan silentPlan;
            const TClock::time_point silentStart = TClock::now();
            RunOnWorkerThread([&] { RunCheck(check, silentPlan, SilentProgress(), [] { return false; }); });
            std::printf("engine_worker_silent_check_s %.4f\n", Seconds(silentStart, TClock::now()));

            // The same as the window runs it: on a worker thread while the
            // event loop turns, reporting to the shown progress window.
            TPlan queuedPlan;
            TFmProcess& progressWindow = window.FmProcess();
            progressWindow.show();
            const TClock::time_point queuedStart = TClock::now();
            {
                TQueuedProgress progress(progressWindow);
                RunOnWorkerThread([&] { RunCheck(check, queuedPlan, progress, [] { return false; }); });
                progress.Flush();
            }
            std::printf("engine_worker_check_s %.4f\n", Seconds(queuedStart, TClock::now()));
            progressWindow.hide();
        }
    }
    std::fflush(stdout);
    return 0;
}

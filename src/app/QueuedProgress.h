#pragma once

#include "engine/Progress.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstddef>
#include <mutex>

// What shows a run's progress on the window's thread: the progress window, a
// job's monitor row.
class TProgressView {
public:
    virtual ~TProgressView() = default;
    virtual void ShowProgressStatus(const QString& text) = 0;
    virtual void ShowProgressItem(const QString& prefix, const QString& path) = 0;
    virtual void ShowProgressBar(std::size_t position, std::size_t maximum) = 0;
};

// A progress sink for a run on another thread. The run only records the latest
// state; a timer on the window's thread shows it about thirty times a second,
// so a large run is never slowed down by drawing and never floods the event
// queue.
class TQueuedProgress : public QObject, public TProgressSink {
    Q_OBJECT
public:
    explicit TQueuedProgress(TProgressView& view, QObject* parent = nullptr);

    // Run thread.
    void ShowStatus(const std::string& text) override;
    void ResetProgress(std::size_t max) override;
    void ShowItem(const std::string& prefix, const std::string& path) override;

    // Window thread: shows what changed since the last call.
    void Flush();

private:
    struct TState {
        std::string FStatus;
        std::string FPrefix;
        std::string FPath;
        bool FIsItem = false;
        bool FTextChanged = false;
        std::size_t FPosition = 0;
        std::size_t FMaximum = 0;
        bool FBarChanged = false;
    };

    TProgressView& FView;
    QTimer FTimer;
    std::mutex FMutex;
    TState FState;
};

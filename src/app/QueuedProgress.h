#pragma once

#include "engine/project/Progress.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstddef>
#include <memory>
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

// The latest progress of a run on another thread. The run only records it;
// the window takes it when it draws. Shared between the two, it stays valid
// for a run that outlives what showed it.
class TProgressBuffer : public TProgressSink {
public:
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

    void ShowStatus(const std::string& text) override;
    void ResetProgress(std::size_t max) override;
    void ShowItem(const std::string& prefix, const std::string& path) override;
    // The state with what changed since the last call.
    TState Take();

private:
    std::mutex FMutex;
    TState FState;
};

// Shows a buffer's progress on a view about thirty times a second, so a large
// run is never slowed down by drawing and never floods the event queue.
class TQueuedProgress : public QObject, public TProgressSink {
    Q_OBJECT
public:
    explicit TQueuedProgress(TProgressView& view, std::shared_ptr<TProgressBuffer> buffer = {},
                             QObject* parent = nullptr);

    const std::shared_ptr<TProgressBuffer>& Buffer() const { return FBuffer; }

    // Run thread: recorded in the buffer.
    void ShowStatus(const std::string& text) override { FBuffer->ShowStatus(text); }
    void ResetProgress(std::size_t max) override { FBuffer->ResetProgress(max); }
    void ShowItem(const std::string& prefix, const std::string& path) override {
        FBuffer->ShowItem(prefix, path);
    }

    // Window thread: shows what changed since the last call.
    void Flush();

private:
    TProgressView& FView;
    std::shared_ptr<TProgressBuffer> FBuffer;
    QTimer FTimer;
};

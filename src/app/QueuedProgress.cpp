#include "QueuedProgress.h"

#include "ByteText.h"

namespace {
constexpr int RefreshMilliseconds = 33;
}

TQueuedProgress::TQueuedProgress(TProgressView& view, QObject* parent) : QObject(parent), FView(view) {
    FTimer.setInterval(RefreshMilliseconds);
    connect(&FTimer, &QTimer::timeout, this, &TQueuedProgress::Flush);
    FTimer.start();
}

void TQueuedProgress::ShowStatus(const std::string& text) {
    std::lock_guard lock(FMutex);
    FState.FStatus = text;
    FState.FIsItem = false;
    FState.FTextChanged = true;
}

void TQueuedProgress::ResetProgress(std::size_t max) {
    std::lock_guard lock(FMutex);
    FState.FMaximum = max;
    FState.FPosition = 0;
    FState.FBarChanged = true;
}

void TQueuedProgress::ShowItem(const std::string& prefix, const std::string& path) {
    std::lock_guard lock(FMutex);
    FState.FPrefix = prefix;
    FState.FPath = path;
    FState.FIsItem = true;
    FState.FTextChanged = true;
    ++FState.FPosition;
    FState.FBarChanged = true;
}

void TQueuedProgress::Flush() {
    TState state;
    {
        std::lock_guard lock(FMutex);
        state = FState;
        FState.FTextChanged = false;
        FState.FBarChanged = false;
    }
    if (state.FTextChanged) {
        if (state.FIsItem) {
            FView.ShowProgressItem(QString::fromStdString(state.FPrefix), BytesToText(state.FPath));
        } else {
            FView.ShowProgressStatus(QString::fromStdString(state.FStatus));
        }
    }
    if (state.FBarChanged) {
        FView.ShowProgressBar(state.FPosition, state.FMaximum);
    }
}

#include "QueuedProgress.h"

#include "ByteText.h"

namespace {
constexpr int RefreshMilliseconds = 33;
}

void TProgressBuffer::ShowStatus(const std::string& text) {
    std::lock_guard lock(FMutex);
    FState.FStatus = text;
    FState.FIsItem = false;
    FState.FTextChanged = true;
}

void TProgressBuffer::ResetProgress(std::size_t max) {
    std::lock_guard lock(FMutex);
    FState.FMaximum = max;
    FState.FPosition = 0;
    FState.FBarChanged = true;
}

void TProgressBuffer::ShowItem(const std::string& prefix, const std::string& path) {
    std::lock_guard lock(FMutex);
    FState.FPrefix = prefix;
    FState.FPath = path;
    FState.FIsItem = true;
    FState.FTextChanged = true;
    ++FState.FPosition;
    FState.FBarChanged = true;
}

TProgressBuffer::TState TProgressBuffer::Take() {
    std::lock_guard lock(FMutex);
    TState state = FState;
    FState.FTextChanged = false;
    FState.FBarChanged = false;
    return state;
}

TQueuedProgress::TQueuedProgress(TProgressView& view, std::shared_ptr<TProgressBuffer> buffer,
                                 QObject* parent)
    : QObject(parent), FView(view),
      FBuffer(buffer ? std::move(buffer) : std::make_shared<TProgressBuffer>()) {
    FTimer.setInterval(RefreshMilliseconds);
    connect(&FTimer, &QTimer::timeout, this, &TQueuedProgress::Flush);
    FTimer.start();
}

void TQueuedProgress::Flush() {
    const TProgressBuffer::TState state = FBuffer->Take();
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

#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT end the window as "关闭" does, instead of killing it in
// the middle of a run or with edits unsaved. The handler only writes to a
// pipe; Received is emitted from the event loop. A second signal ends the
// program at once, as the default action would. One object at a time.
class TTerminationSignal : public QObject {
    Q_OBJECT
public:
    explicit TTerminationSignal(QObject* parent = nullptr);
    // Gives the signals back what they did before.
    ~TTerminationSignal() override;

signals:
    void Received();

private:
    QSocketNotifier* FNotifier = nullptr;
};

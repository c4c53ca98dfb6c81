#include "TerminationSignal.h"

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
std::atomic<bool> Signalled = false;
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set inside a signal handler");

extern "C" void OnTerminationSignal(int signalNumber) {
    if (Signalled.exchange(true)) {
        // Asked twice: the default action ends the program now.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    const int savedErrno = errno;
    const char byte = 1;
    if (write(SignalPipe[1], &byte, 1) != 1) {
        // The pipe is empty and non-blocking: this cannot fail in a way worth telling.
    }
    errno = savedErrno;
}

// What the signals did before: given back when the object goes.
struct sigaction FormerTerm {};
struct sigaction FormerInt {};

} // namespace

TTerminationSignal::TTerminationSignal(QObject* parent) : QObject(parent) {
    Signalled = false;
    if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // the signals keep their default action
    }
    FNotifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (read(SignalPipe[0], &byte, 1) == 1) {
        }
        emit Received();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &FormerTerm);
    sigaction(SIGINT, &action, &FormerInt);
}

TTerminationSignal::~TTerminationSignal() {
    if (FNotifier == nullptr) {
        return;
    }
    sigaction(SIGTERM, &FormerTerm, nullptr);
    sigaction(SIGINT, &FormerInt, nullptr);
    delete FNotifier;
    close(SignalPipe[0]);
    close(SignalPipe[1]);
    SignalPipe[0] = SignalPipe[1] = -1;
}

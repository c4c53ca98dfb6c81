#include "StopSignal.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> Signalled = false;
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set inside a signal handler");

extern "C" void OnStopSignal(int signalNumber) {
    if (Signalled.exchange(true)) {
        // Asked twice: the default action ends the program now.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
    }
}

} // namespace

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking call returns EINTR and the run polls sooner
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalled() {
    return Signalled.load();
}

TStopTest StopSignalTest() {
    return [] { return StopSignalled(); };
}

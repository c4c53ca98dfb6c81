#pragma once

#include "Apply.h"
#include "DeferredRelease.h"

#include <optional>
#include <string>

// The files one run replaces and deletes are let go of on threads of their
// own while the run goes on, and every one of them before the receiving file
// system is flushed: done means on the device. The command-line tool, the
// jobs and the window apply their plans this way.
class TRunRelease {
public:
    // Points options.FRelease here for the run's phases.
    explicit TRunRelease(TApplyOptions& options);
    // Waits for whatever is still held (a run that stopped or failed).
    ~TRunRelease();
    TRunRelease(const TRunRelease&) = delete;
    TRunRelease& operator=(const TRunRelease&) = delete;

    // Lets go of every file still held, then flushes the file system of
    // writeRoot (through the options' write volume when they have one). False with the reason when the flush
    // failed.
    bool ReleaseAndFlush(const std::string& writeRoot, std::string& reason);

private:
    TApplyOptions& FOptions;
    std::optional<TDeferredRelease> FRelease;
};

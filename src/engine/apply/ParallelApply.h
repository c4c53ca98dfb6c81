#pragma once

#include "Apply.h"

#include <cstddef>
#include <functional>
#include <string>

// Runs the items of one phase on `workers` threads. Workers take the lines in
// plan order and hand back each item's reason (empty when done); no copied
// data passes between threads, and at most a bounded window of results waits
// to be taken. On the calling thread only: show(i) as line i starts, in plan
// order; done(i, reason) for every started line, in plan order; and the stop
// test, every few milliseconds. While the stop test runs, no worker starts a
// new line, so a stop test that holds (a paused job) holds every worker at its
// next line. After a stop, running copies end or abandon their file, no line
// starts, and true is returned. An exception from show or done ends the
// workers the same way and passes on.
bool RunPhaseItemsInParallel(TApplyPhase phase, const TStringList& lines, const TApplyOptions& options,
                             unsigned workers, const std::function<void(std::size_t)>& show,
                             const std::function<void(std::size_t, const std::string&)>& done,
                             const TStopTest& stopRequested);

#pragma once

#include "StopTest.h"

#include <cstddef>
#include <functional>

// Calls body(i) for every i below count, spread over the cores in blocks for
// long ranges. The stop test runs on the calling thread only, between blocks;
// after a stop no new block starts and false is returned. body must be safe
// to call from several threads at once for different i.
bool ParallelFor(std::size_t count, const std::function<void(std::size_t)>& body,
                 const TStopTest& stopRequested = {});

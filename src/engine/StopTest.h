#pragma once

#include <functional>

// Polled by long runs; true asks the run to end at its next test. An empty
// test never stops (background runs).
using TStopTest = std::function<bool()>;

inline bool StopRequestedBy(const TStopTest& stopTest) {
    return stopTest && stopTest();
}

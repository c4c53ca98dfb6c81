#pragma once

#include <functional>
#include <utility>

// Polled by long runs; true asks the run to end at its next test. An empty
// test never stops (background runs).
using TStopTest = std::function<bool()>;

inline bool StopRequestedBy(const TStopTest& stopTest) {
    return stopTest && stopTest();
}

// Marks the calling thread as inside one file operation of an apply (a copy,
// a delete) for as long as it lives. A stop test asked from within may end
// the operation but must not hold the thread there: a pause waits for the
// next test outside.
class TFileOperationScope {
public:
    TFileOperationScope() { ++Depth(); }
    ~TFileOperationScope() { --Depth(); }
    TFileOperationScope(const TFileOperationScope&) = delete;
    TFileOperationScope& operator=(const TFileOperationScope&) = delete;

    static bool Inside() { return Depth() > 0; }

    // Called by a stop test that is asked inside a file operation and would
    // hold the thread if it could (a pause): whoever runs the operations is
    // to reach a point outside all of them and ask the stop test again.
    static void AskToHold() { HoldAsked() = true; }
    // Whether AskToHold was called on this thread since the last call.
    static bool TakeHoldRequest() { return std::exchange(HoldAsked(), false); }

private:
    static bool& HoldAsked() {
        static thread_local bool asked = false;
        return asked;
    }
    static int& Depth() {
        static thread_local int depth = 0;
        return depth;
    }
};

#pragma once

#include <string>

// A folder that could no longer be reached mid-run: its connection was lost
// and could not be made again. The run ended there; what it had done stays done.
struct TLostFolder {
    std::string FRoot;
    std::string FReason; // ssh's words
    bool Lost() const { return !FReason.empty(); }
};

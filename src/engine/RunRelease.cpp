#include "RunRelease.h"

#include "FlushFileSystem.h"

TRunRelease::TRunRelease(TApplyOptions& options) : FOptions(options), FRelease(std::in_place) {
    FOptions.FRelease = &*FRelease;
}

TRunRelease::~TRunRelease() {
    FOptions.FRelease = nullptr;
}

bool TRunRelease::ReleaseAndFlush(const std::string& writeRoot, std::string& reason) {
    FOptions.FRelease = nullptr;
    FRelease.reset();
    return FlushFileSystem(writeRoot, reason);
}

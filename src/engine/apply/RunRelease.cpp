#include "RunRelease.h"

#include "engine/volume/FlushFileSystem.h"
#include "engine/volume/Volume.h"

TRunRelease::TRunRelease(TApplyOptions& options) : FOptions(options), FRelease(std::in_place) {
    FOptions.FRelease = &*FRelease;
}

TRunRelease::~TRunRelease() {
    FOptions.FRelease = nullptr;
}

bool TRunRelease::ReleaseAndFlush(const std::string& writeRoot, std::string& reason) {
    FOptions.FRelease = nullptr;
    FRelease.reset();
    // Through the run's own volume where it has one: the same that was written to.
    return FOptions.FWriteVolume ? FOptions.FWriteVolume->Flush(reason) : FlushFileSystem(writeRoot, reason);
}

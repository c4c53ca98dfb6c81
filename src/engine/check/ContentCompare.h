#pragma once

#include "engine/project/StopTest.h"
#include "engine/volume/Volume.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// How one pair of files compared by their bytes.
struct TContentResult {
    bool FDiffers = false;
    int FError = 0; // the errno of a file that could not be read
    bool FErrorOnSource = false;
};

// The path of pair k below both roots.
using TPairPath = std::function<void(std::size_t k, std::string& relative)>;

// Compares count pairs of files (the source volume's and the target's) byte for byte, several pairs at a time
// on their own threads, each pair in large blocks until its first difference (a file that ends before the
// other differs). The stop test runs on the calling thread only, every few milliseconds; after a stop the
// readers leave their files at the next block and false is returned. results[k] belongs to pair k.
bool CompareFilePairs(TVolume& source, TVolume& target, std::size_t count, const TPairPath& pathOf,
                      std::vector<TContentResult>& results, const TStopTest& stopRequested = {});

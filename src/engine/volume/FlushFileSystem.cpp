#include "FlushFileSystem.h"

#include "Volume.h"

bool FlushFileSystem(const std::string& folder, std::string& reason) {
    return OpenVolume(folder)->Flush(reason);
}

#include "Links.h"

#include "config/CustomPublic.h"

#include <atomic>

namespace {

std::atomic<unsigned long> LookupGeneration{0};

} // namespace

void ForgetLinkLookups() {
    ++LookupGeneration;
}

bool NoLinkOnTheWay(TVolume& volume, std::string_view relative) {
    const std::size_t end = relative.find_last_of(PathDelim, relative.size() >= 2 ? relative.size() - 2 : 0);
    if (relative.empty() || end == std::string_view::npos) {
        return true; // directly below the root
    }
    const std::string_view folder = relative.substr(0, end + 1);
    struct TLast {
        unsigned long FGeneration = 0;
        std::string FRoot;
        std::string FFolder;
        bool FReal = false;
    };
    static thread_local TLast last;
    const unsigned long generation = LookupGeneration.load(std::memory_order_relaxed);
    if (last.FGeneration == generation && last.FFolder == folder && last.FRoot == volume.Root()) {
        return last.FReal;
    }
    bool real = true;
    std::size_t start = 0;
    while (real && start < folder.size()) {
        const std::size_t slash = folder.find(PathDelim, start);
        const TEntryFacts facts = volume.Facts(folder.substr(0, slash), false);
        if (!facts.FExists) {
            break; // nothing there: no link on the way either
        }
        real = !facts.FIsLink;
        start = slash + 1;
    }
    last.FGeneration = generation;
    last.FRoot = volume.Root();
    last.FFolder.assign(folder);
    last.FReal = real;
    return real;
}

bool LinkAwareCounterpartIsMissing(TVolume& source, TVolume& target, std::string_view relative, int& error) {
    error = 0;
    if (!NoLinkOnTheWay(source, relative)) {
        return true; // the source has a link or a file where the target has a folder
    }
    const TEntryFacts counterpart = source.Facts(relative, false);
    if (counterpart.FError != 0) {
        error = counterpart.FError;
        return false;
    }
    if (!counterpart.FExists) {
        return true;
    }
    if (!relative.empty() && relative.back() == PathDelim) {
        return !counterpart.FIsFolder; // a link or a file in the source replaces the folder's contents
    }
    if (target.Facts(relative, false).FIsLink) {
        return false; // the new or the update phase replaces it
    }
    return counterpart.FIsFolder;
}

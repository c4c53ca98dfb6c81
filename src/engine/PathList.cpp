#include "PathList.h"

#include <algorithm>
#include <functional>

namespace {

// Large enough that the blocks' own cost vanishes, small enough that the
// unused end of the last one does not matter.
constexpr std::size_t PathBlockSize = std::size_t{1} << 20;

} // namespace

void TPathList::push_back(std::string_view head, std::string_view tail) {
    const std::size_t length = head.size() + tail.size();
    if (FBlocks.empty() || FBlocks.back().size() + length > FBlocks.back().capacity()) {
        FBlocks.emplace_back();
        FBlocks.back().reserve(std::max(PathBlockSize, length));
    }
    std::string& block = FBlocks.back();
    FEntries.push_back({static_cast<std::uint32_t>(FBlocks.size() - 1),
                        static_cast<std::uint32_t>(block.size()), static_cast<std::uint32_t>(length)});
    block.append(head);
    block.append(tail);
}

void TPathList::clear() {
    FBlocks.clear();
    FBlocks.shrink_to_fit();
    FEntries.clear();
    FEntries.shrink_to_fit();
}

TPathListLookup::TPathListLookup(const TPathList& paths, std::size_t prefixLength)
    : FPaths(paths), FPrefixLength(prefixLength) {
    // At most half the slots are taken, so that a probe ends soon.
    std::size_t capacity = 16;
    while (capacity < 2 * paths.size()) {
        capacity *= 2;
    }
    FSlots.assign(capacity, 0);
    FMask = capacity - 1;
    const std::hash<std::string_view> hash;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string_view path = paths[i].substr(prefixLength);
        std::size_t slot = hash(path) & FMask;
        while (FSlots[slot] != 0 && EntryOf(FSlots[slot]) != path) {
            slot = (slot + 1) & FMask;
        }
        FSlots[slot] = static_cast<std::uint32_t>(i + 1);
    }
}

bool TPathListLookup::Contains(std::string_view path) const {
    std::size_t slot = std::hash<std::string_view>()(path) & FMask;
    while (FSlots[slot] != 0) {
        if (EntryOf(FSlots[slot]) == path) {
            return true;
        }
        slot = (slot + 1) & FMask;
    }
    return false;
}

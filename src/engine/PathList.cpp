#include "PathList.h"

#include <algorithm>

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

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// An ordered list of paths kept one after the other in blocks of text: a
// million index entries cost their bytes and twelve more each, where a list
// of strings costs a heap block and a string object each. Entries are read
// as views, valid until the list is cleared.
class TPathList {
public:
    std::size_t size() const { return FEntries.size(); }
    bool empty() const { return FEntries.empty(); }
    std::string_view operator[](std::size_t i) const {
        const TEntry& entry = FEntries[i];
        return std::string_view(FBlocks[entry.FBlock]).substr(entry.FOffset, entry.FLength);
    }

    // Appends the path made of head followed by tail.
    void push_back(std::string_view head, std::string_view tail = {});
    void clear();
    // Leaves out the entries for which remove returns true, keeping the order.
    template <class TPredicate> void RemoveIf(TPredicate remove) {
        TPathList kept;
        for (std::size_t i = 0; i < size(); ++i) {
            if (!remove((*this)[i])) {
                kept.push_back((*this)[i]);
            }
        }
        *this = std::move(kept);
    }

private:
    struct TEntry {
        std::uint32_t FBlock;
        std::uint32_t FOffset;
        std::uint32_t FLength;
    };
    std::vector<std::string> FBlocks;
    std::vector<TEntry> FEntries;
};

// The entries of a path list, each less its first prefixLength bytes, as a
// set to look paths up in: a table of entry numbers, four bytes a slot,
// where a set of views would cost some fifty bytes an entry. The list must
// stay unchanged while the set is in use.
class TPathListLookup {
public:
    TPathListLookup(const TPathList& paths, std::size_t prefixLength);
    bool Contains(std::string_view path) const;

private:
    std::string_view EntryOf(std::uint32_t slot) const { return FPaths[slot - 1].substr(FPrefixLength); }

    const TPathList& FPaths;
    const std::size_t FPrefixLength;
    std::vector<std::uint32_t> FSlots; // entry number + 1; 0 is a free slot
    std::size_t FMask = 0;
};

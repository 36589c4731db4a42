// Precomputed per-name filters that let the parallel walk reject almost every name entry
// from two small contiguous arrays, without touching the name text:
//   exact: the character mask of the name computed from its text alone (a-z, ".", "_",
//          "0"-"3"; no bits from other characters), so a one-character test of those
//          characters needs no text at all;
//   pairs: a 32-bit mask of the name's adjacent character pairs (hashed): a name can only
//          contain a text if it holds every pair of the text.
// Both are necessary conditions of the plain tests, so a walk that checks them first and
// then runs the plain test accepts exactly the same entries.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "database/loaded_database.h"

namespace kavo {

struct SearchIndex {
    // Per entry: the exact mask in the low 32 bits, the pair mask in the high 32 bits.
    std::vector<uint64_t> filter;

    size_t size() const { return filter.size(); }
    // Whether entry n may contain a text whose masks make up `query` (see Query).
    bool MayContain(int32_t n, uint64_t query) const {
        return (filter[static_cast<size_t>(n)] & query) == query;
    }
    static uint64_t Query(uint32_t exact, uint32_t pairs) {
        return static_cast<uint64_t>(pairs) << 32 | exact;
    }

    // Builds the filters of every name entry (on all processors).
    static std::shared_ptr<const SearchIndex> Build(const LoadedDatabase& db);
};

inline uint32_t PairBit(char16_t a, char16_t b) {
    const uint32_t h = ((static_cast<uint32_t>(a) << 7) ^ static_cast<uint32_t>(b)) * 0x9E3779B1u;
    return uint32_t{1} << (h >> 27);
}

// The pair mask of a text (0 for texts shorter than two units).
inline uint32_t PairMask(std::u16string_view text) {
    uint32_t m = 0;
    for (size_t i = 1; i < text.size(); ++i) {
        m |= PairBit(text[i - 1], text[i]);
    }
    return m;
}

// Whether a unit has its own exact bit (a-z, ".", "_", "0"-"3").
inline bool HasExactBit(char16_t c) {
    return (c >= u'a' && c <= u'z') || c == u'.' || c == u'_' || (c >= u'0' && c <= u'3');
}

}  // namespace kavo

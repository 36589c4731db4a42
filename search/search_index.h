// Precomputed per-name filters that let the parallel walk reject almost every name entry
// from two small contiguous arrays, without touching the name text:
//   exact: the character mask of the name computed from its text alone (a-z, ".", "_",
//          "0"-"3"; no bits from other characters), so a one-character test of those
//          characters needs no text at all;
//   pairs: a 64-bit mask of the name's adjacent character pairs (hashed): a name can only
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

// What a text needs of a name: its exact mask and its pair mask.
struct NameQuery {
    uint64_t pairs = 0;
    uint32_t exact = 0;
    NameQuery Both(const NameQuery& o) const { return {pairs | o.pairs, exact | o.exact}; }
};

struct SearchIndex {
    std::vector<uint64_t> pairs;  // per entry
    std::vector<uint32_t> exact;  // per entry

    size_t size() const { return pairs.size(); }
    // Whether entry n may contain a text that needs `q`.
    bool MayContain(int32_t n, const NameQuery& q) const {
        const size_t i = static_cast<size_t>(n);
        return ((pairs[i] & q.pairs) == q.pairs) & ((exact[i] & q.exact) == q.exact);
    }

    // Builds the filters of every name entry (on all processors).
    static std::shared_ptr<const SearchIndex> Build(const LoadedDatabase& db);
};

inline uint64_t PairBit(char16_t a, char16_t b) {
    const uint32_t h = ((static_cast<uint32_t>(a) << 7) ^ static_cast<uint32_t>(b)) * 0x9E3779B1u;
    return uint64_t{1} << (h >> 26);
}

// The pair mask of a text (0 for texts shorter than two units).
inline uint64_t PairMask(std::u16string_view text) {
    uint64_t m = 0;
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

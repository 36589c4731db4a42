// The one case function of the system: the Unicode simple case mapping of the BMP
// (Unicode 15.0), from a generated table. Every comparison of names without case, every
// lower-cased key and every query pattern goes through it, so that both toolchains and
// every user locale agree on what "the same name" means.
#pragma once

#include <string>
#include <string_view>

namespace kavo {

namespace case_map_detail {
#include "base/case_map_table.inc"
}  // namespace case_map_detail

// Simple lower-case mapping of one UTF-16 code unit; surrogates map to themselves.
inline char16_t LowerUnit(char16_t c) {
    if (c < 0x80) {
        return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    }
    using namespace case_map_detail;
    return static_cast<char16_t>(c + kLowerDelta[kLowerIndex[c >> 8]][c & 0xFF]);
}

// Simple upper-case mapping of one UTF-16 code unit.
inline char16_t UpperUnit(char16_t c) {
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    }
    using namespace case_map_detail;
    return static_cast<char16_t>(c + kUpperDelta[kUpperIndex[c >> 8]][c & 0xFF]);
}

void LowerInPlace(std::u16string& s);
void UpperInPlace(std::u16string& s);
std::u16string Lower(std::u16string_view s);
std::u16string Upper(std::u16string_view s);

// Equality and ordinal order of the lower-cased forms.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
int CompareIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace kavo

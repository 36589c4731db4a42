#include "base/case_map.h"

namespace kavo {

void LowerInPlace(std::u16string& s) {
    for (char16_t& c : s) {
        c = LowerUnit(c);
    }
}

void UpperInPlace(std::u16string& s) {
    for (char16_t& c : s) {
        c = UpperUnit(c);
    }
}

std::u16string Lower(std::u16string_view s) {
    std::u16string r(s);
    LowerInPlace(r);
    return r;
}

std::u16string Upper(std::u16string_view s) {
    std::u16string r(s);
    UpperInPlace(r);
    return r;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && LowerUnit(a[i]) != LowerUnit(b[i])) {
            return false;
        }
    }
    return true;
}

int CompareIgnoreCase(std::u16string_view a, std::u16string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = LowerUnit(a[i]);
        const char16_t y = LowerUnit(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace kavo

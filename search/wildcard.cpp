#include "search/wildcard.h"

namespace kavo {

bool WildcardMatch(std::u16string_view name, std::u16string_view pattern) {
    // One restart point (the last star) suffices: a later star always subsumes an earlier
    // one, so the walk is linear in practice and never recursive.
    size_t n = 0;
    size_t p = 0;
    bool have_restart = false;
    size_t r = 0;
    size_t s = 0;
    while (n < name.size()) {
        const bool at_end = p >= pattern.size();
        const char16_t c = at_end ? 0 : pattern[p];
        ++p;
        if (!at_end && c == u'*') {
            if (p == pattern.size()) {
                return true;
            }
            r = n + 1;
            s = p;
            have_restart = true;
            continue;
        }
        const char16_t passed = name[n];
        ++n;
        if (at_end || (c != u'?' && c != passed)) {
            if (!have_restart) {
                return false;
            }
            n = r;
            r = r + 1;
            p = s;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p >= pattern.size();
}

}  // namespace kavo

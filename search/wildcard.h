// Whole-name wildcard match of lower-case texts: '?' is any one character, '*' any run of
// characters (also none), every other character itself.
#pragma once

#include <string_view>

namespace kavo {

bool WildcardMatch(std::u16string_view name, std::u16string_view pattern);

}  // namespace kavo

// The one cast between the system's char16_t text and the Win32 API's wchar_t, which are
// both UTF-16 code units on Windows.
#pragma once

#include <string>
#include <string_view>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is UTF-16");

namespace kavo::win {

inline const wchar_t* W(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline const wchar_t* W(const char16_t* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
inline wchar_t* W(char16_t* s) {
    return reinterpret_cast<wchar_t*>(s);
}
inline const char16_t* U(const wchar_t* s) {
    return reinterpret_cast<const char16_t*>(s);
}
inline std::u16string_view U(const wchar_t* s, size_t n) {
    return {reinterpret_cast<const char16_t*>(s), n};
}

}  // namespace kavo::win

// printf-style formatting into UTF-16 for the system's own message texts, which are written
// with C format directives ("Deleting %s\n", "%c: type: %lu"). Arguments are type-checked at
// run time: %s takes text, %c a character, the integer directives any integer. Supported:
// flags "-" and "0", a width, the length modifiers l, ll, h, I64, and s c d i u x X %.
// A directive whose argument is missing or of the wrong kind is written as it stands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kavo {

struct FormatArg {
    enum class Kind { kText, kChar, kSigned, kUnsigned } kind;
    std::u16string_view text;
    int64_t i = 0;
    uint64_t u = 0;
};

std::u16string FormatArgs(std::u16string_view fmt, const std::vector<FormatArg>& args);

namespace format_detail {
inline FormatArg Make(std::u16string_view s) {
    return {FormatArg::Kind::kText, s, 0, 0};
}
inline FormatArg Make(const std::u16string& s) {
    return Make(std::u16string_view(s));
}
inline FormatArg Make(const char16_t* s) {
    return Make(std::u16string_view(s ? s : u"(null)"));
}
inline FormatArg Make(char16_t c) {
    return {FormatArg::Kind::kChar, {}, c, 0};
}
template <typename T>
requires std::is_integral_v<T> FormatArg Make(T v) {
    if constexpr (std::is_signed_v<T>) {
        return {FormatArg::Kind::kSigned, {}, static_cast<int64_t>(v), 0};
    } else {
        return {FormatArg::Kind::kUnsigned, {}, 0, static_cast<uint64_t>(v)};
    }
}
}  // namespace format_detail

template <typename... Args>
std::u16string Format(std::u16string_view fmt, const Args&... args) {
    std::vector<FormatArg> list;
    list.reserve(sizeof...(Args));
    (list.push_back(format_detail::Make(args)), ...);
    return FormatArgs(fmt, list);
}

}  // namespace kavo

// UTF-16 text helpers shared by every subsystem. The system's text is UTF-16 code units in
// char16_t strings on both toolchains; these convert at the edges (UTF-8 files and consoles,
// numbers) without touching the locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

// Strict conversions: unpaired surrogates and invalid UTF-8 become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// ASCII literal to UTF-16 (bytes above 0x7F are taken as Latin-1).
std::u16string AsciiToUtf16(std::string_view s);

// Decimal text of an integer (as _i64tow with base 10).
std::u16string ToDecimal(int64_t v);
std::u16string ToDecimalUnsigned(uint64_t v);

// Parses an optionally signed decimal integer that fills the whole text; nullopt otherwise.
std::optional<int64_t> ParseInt64(std::u16string_view s);
// Parses leading decimal digits as _wtoi64 does: optional white space and sign, digits up to
// the first other character; 0 when there are none.
int64_t ParseLeadingInt64(std::u16string_view s);

bool StartsWith(std::u16string_view s, std::u16string_view prefix);
bool EndsWith(std::u16string_view s, std::u16string_view suffix);
void ReplaceAll(std::u16string& s, char16_t from, char16_t to);
std::vector<std::u16string> Split(std::u16string_view s, char16_t sep);

}  // namespace kavo

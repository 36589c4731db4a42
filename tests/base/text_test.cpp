#include <gtest/gtest.h>

#include "base/case_map.h"
#include "base/format.h"
#include "base/text.h"

namespace kavo {
namespace {

TEST(CaseMap, SimpleMappingsOfTheBmp) {
    struct Case {
        char16_t in, lower, upper;
    } cases[] = {
        {u'A', u'a', u'A'},
        {u'z', u'z', u'Z'},
        {u'1', u'1', u'1'},
        {u'\u00DC', u'\u00FC', u'\u00DC'},                       // Ü ü
        {u'\u00FF', u'\u00FF', u'\u0178'},                       // ÿ Ÿ
        {u'\u0130', u'i', u'\u0130'},                            // İ lowers to i, simple mapping
        {u'\u0131', u'\u0131', u'I'},                            // dotless ı uppers to I
        {u'\u00DF', u'\u00DF', u'\u00DF'},                       // ß has no simple upper mapping
        {u'\u03A3', u'\u03C3', u'\u03A3'},                       // Σ σ
        {u'\u03C2', u'\u03C2', u'\u03A3'},                       // final ς
        {u'\u0416', u'\u0436', u'\u0416'},                       // Ж ж
        {u'\uFF21', u'\uFF41', u'\uFF21'},                       // fullwidth A
        {u'\u1E9E', u'\u00DF', u'\u1E9E'},                       // capital sharp s
        {char16_t{0xD83D}, char16_t{0xD83D}, char16_t{0xD83D}},  // surrogates map to themselves
        {u'\u65E5', u'\u65E5', u'\u65E5'},                       // CJK: no case
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LowerUnit(c.in), c.lower) << std::hex << static_cast<int>(c.in);
        EXPECT_EQ(UpperUnit(c.in), c.upper) << std::hex << static_cast<int>(c.in);
    }
}

TEST(CaseMap, ComparisonsIgnoreCase) {
    EXPECT_TRUE(EqualsIgnoreCase(u"Read Me.TXT", u"read me.txt"));
    EXPECT_TRUE(EqualsIgnoreCase(u"\u00DCBER", u"\u00FCber"));
    EXPECT_FALSE(EqualsIgnoreCase(u"abc", u"abcd"));
    EXPECT_LT(CompareIgnoreCase(u"ABC", u"abd"), 0);
    EXPECT_EQ(CompareIgnoreCase(u"ABC", u"abc"), 0);
    EXPECT_GT(CompareIgnoreCase(u"abc", u"AB"), 0);
    EXPECT_EQ(Lower(u"Docs\\ÄÖ"), u"docs\\äö");
}

TEST(Text, Utf8RoundTripAndInvalidInput) {
    const std::u16string s = u"a\u00FC\u65E5\U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
    EXPECT_EQ(Utf16ToUtf8(u"\u00FC"), "\xC3\xBC");
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");            // truncated sequence
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong form
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");  // lone surrogate
}

TEST(Text, Numbers) {
    EXPECT_EQ(ToDecimal(0), u"0");
    EXPECT_EQ(ToDecimal(-1234567890123LL), u"-1234567890123");
    EXPECT_EQ(ToDecimal(INT64_MIN), u"-9223372036854775808");
    EXPECT_EQ(ParseInt64(u"-42"), -42);
    EXPECT_EQ(ParseInt64(u"9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ParseInt64(u"9223372036854775808"), std::nullopt);
    EXPECT_EQ(ParseInt64(u""), std::nullopt);
    EXPECT_EQ(ParseInt64(u"1x"), std::nullopt);
    EXPECT_EQ(ParseLeadingInt64(u"  12abc"), 12);
    EXPECT_EQ(ParseLeadingInt64(u"abc"), 0);
    EXPECT_EQ(ParseLeadingInt64(u"-7"), -7);
}

TEST(Format, Directives) {
    struct Case {
        std::u16string got, want;
    } cases[] = {
        {Format(u"Deleting %s\n", std::u16string(u"C:\\x")), u"Deleting C:\\x\n"},
        {Format(u"%c: type: %lu, free: %llu", u'C', 3u, 18446744073709551615ull),
         u"C: type: 3, free: 18446744073709551615"},
        {Format(u"%d|%5d|%-4d|%03d|%I64d", -5, 42, 7, 9, int64_t{-1}), u"-5|   42|7   |009|-1"},
        {Format(u"%x %X %%", 255, 255u), u"ff FF %"},
        {Format(u"%s and %d", std::u16string(u"one")), u"one and %d"},  // missing argument
        {Format(u"%d", std::u16string(u"text")), u"%d"},                // wrong kind
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf16ToUtf8(c.got), Utf16ToUtf8(c.want));
    }
}

}  // namespace
}  // namespace kavo

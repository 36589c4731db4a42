#include <gtest/gtest.h>

#include "base/text.h"
#include "search/civil_time.h"
#include "search/query.h"
#include "search/wildcard.h"

namespace kavo {
namespace {

using Strings = std::vector<std::u16string>;

TEST(TokenizeQuery, Table) {
    struct Case {
        std::u16string text;
        Strings tokens;
    } cases[] = {
        {u"", {}},
        {u"abc", {u"abc"}},
        {u"  abc   def ", {u"abc", u"def"}},
        {u"c:\\Program Files\\x abc", {u"c:\\Program Files\\x", u"abc"}},
        {u"c:\\Program Files", {u"c:\\Program", u"Files"}},
        {u"\"a b\"|c", {u"a b", u"|", u"c"}},
        {u"a|b", {u"a", u"|", u"b"}},
        {u"\"/f\"", {u"/f"}},
        {u"\"unclosed text", {u"unclosed text"}},
        {u"x<a b>y", {u"x", u"<a b>", u"y"}},
        {u"<a <b c> d> e", {u"<a <b c> d>", u"e"}},
        {u"a <b c", {u"a", u"<b c"}},
        {u"a <", {u"a", u"<"}},
        {u"<<a b", {u"<a b"}},  // depth 2 at the end: the first '<' is dropped
        {u"c:\\a b|c", {u"c:\\a", u"b", u"|", u"c"}},
        {u"c:\\a b\\c|d", {u"c:\\a b\\c", u"|", u"d"}},
        {u"c:\\a b /f", {u"c:\\a", u"b", u"/f"}},
        {u"c:\\a b:c", {u"c:\\a", u"b:c"}},
        {u"c:\\a\\ b", {u"c:\\a\\", u"b"}},
        {u"c:\\a \\b\\ x", {u"c:\\a \\b\\", u"x"}},
        {u"c:\\x\"y", {u"c:\\x\"y"}},
        {u"c:\\x<y>", {u"c:\\x<y>"}},
        {u"a\\b ", {u"a\\b"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TokenizeQuery(c.text), c.tokens) << Utf16ToUtf8(c.text);
    }
}

TEST(GroupTokens, Table) {
    struct Case {
        std::u16string text;
        Strings terms;
        Strings paths;
    } cases[] = {
        {u"a | b | *c*", {u"a|b|c"}, {}},
        {u"x | ! <y z>", {u"x|!<y z>"}, {}},
        {u"| a", {u"a"}, {}},
        {u"c:\\x | a", {u"a"}, {u"c:\\x"}},
        {u"a b", {u"a", u"b"}, {}},
        {u"a |", {u"a|"}, {}},
        {u"a|*b*c*", {u"a|*b*c*"}, {}},
        {u"*x* a", {u"*x*", u"a"}, {}},
        {u"<a\\b> c:d", {u"<a\\b>"}, {u"c:d"}},
        {u"c:\\a d:\\b abc", {u"abc"}, {u"c:\\a", u"d:\\b"}},
    };
    for (const Case& c : cases) {
        Strings terms;
        Strings paths;
        GroupTokens(c.text, terms, paths);
        EXPECT_EQ(terms, c.terms) << Utf16ToUtf8(c.text);
        EXPECT_EQ(paths, c.paths) << Utf16ToUtf8(c.text);
    }
}

TEST(ParseQuery, Table) {
    struct Case {
        std::u16string text;
        std::u16string folder;
        std::u16string simple;
        Strings terms;
        Strings paths;
        std::u16string sort;
    } cases[] = {
        {u"abc", u"", u"abc", {}, {}, u""},
        {u"abc /f", u"", u"", {u"abc", u"/f"}, {}, u""},
        {u"abc | def", u"", u"", {u"abc|def"}, {}, u""},
        {u"c:\\windows abc", u"c:\\windows", u"abc", {}, {}, u""},
        {u"c:\\a d:\\b abc", u"", u"", {u"abc"}, {u"c:\\a", u"d:\\b"}, u""},
        {u"!<a b>", u"", u"", {u"!", u"<a b>"}, {}, u""},
        {u"!a", u"", u"!a", {}, {}, u""},
        {u"<a b>", u"", u"", {u"<a b>"}, {}, u""},
        {u">x", u"", u"", {u">x"}, {}, u""},
        {u"@docs", u"", u"", {u"@docs"}, {}, u""},
        {u"@", u"", u"@", {}, {}, u""},
        {u"/sort:size abc", u"", u"abc", {}, {}, u"/sort:size"},
        {u"abc /sort:size /sort:name", u"", u"", {u"abc", u"/sort:name"}, {}, u"/sort:size"},
        {u"/SORT:name", u"", u"", {u"/SORT:name"}, {}, u""},
        {u"/sorted x", u"", u"x", {}, {}, u"/sorted"},
        {u"\\", u"\\", u"", {}, {}, u""},
        {u"", u"", u"", {}, {}, u""},
        {u"\\usr\\share\\doc\\ readme", u"\\usr\\share\\doc\\", u"readme", {}, {}, u""},
    };
    for (const Case& c : cases) {
        const ParsedQuery q = ParseQuery(c.text);
        const std::string at = Utf16ToUtf8(c.text);
        EXPECT_EQ(q.folder, c.folder) << at;
        EXPECT_EQ(q.simpleName, c.simple) << at;
        EXPECT_EQ(q.terms, c.terms) << at;
        EXPECT_EQ(q.pathTerms, c.paths) << at;
        EXPECT_EQ(q.sortText, c.sort) << at;
    }
}

TEST(ParseSortText, Table) {
    auto k = [](uint32_t key, bool asc) { return SortKey{-1, asc, key}; };
    struct Case {
        std::u16string text;
        std::vector<SortKey> keys;
    } cases[] = {
        {u"/sort:size", {k(kSortSize, false)}},
        {u"/sort:size+", {k(kSortSize, true)}},
        {u"/sort:dupCount-name", {k(kSortDupCount, false), k(kSortName, true)}},
        {u"/sort:size-name+", {k(kSortSize, false), k(kSortName, true)}},
        {u"/sort:path,ext,hash,filecount,date",
         {k(kSortPath, true), k(kSortExt, true), k(kSortHash, true), k(kSortFileCount, false),
          k(kSortDate, false)}},
        {u"/sort:bogus,name", {k(kSortName, true)}},
        {u"/sorted", {}},
        {u"/sort:", {}},
        {u"/SORT:NAME-", {k(kSortName, false)}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseSortText(c.text), c.keys) << Utf16ToUtf8(c.text);
    }
}

TEST(SwitchValues, Sizes) {
    constexpr uint64_t kMax = ~uint64_t{0};
    struct Case {
        std::u16string value;
        uint64_t lower;
        uint64_t upper;
    } cases[] = {
        {u"10m", 10485760, kMax},
        {u"-500k", 0, 512000},
        {u"1-2g", 1073741824, 2147483648ull},
        {u"1.5m-", 1572864, kMax},
        {u"1-2m", 1048576, 2097152},
        {u"0", 0, kMax},
        {u"0-0", 0, kMax},
        {u"10kb-20KB", 10240, 20480},
        {u"5-10", 5, 10},
        {u"1k-2", 1024, 2},
        {u"x", 0, kMax},
        {u"b", 0, kMax},
        {u"1x-2", 1, 2},
        {u"-", 0, kMax},
    };
    for (const Case& c : cases) {
        const SizeRange r = ParseSizeRange(c.value);
        EXPECT_EQ(r.lower, c.lower) << Utf16ToUtf8(c.value);
        EXPECT_EQ(r.upper, c.upper) << Utf16ToUtf8(c.value);
    }
}

TEST(SwitchValues, DatesAndDuplicatesAndDigests) {
    // 2026-12-11 12:00 UTC as "today".
    const uint64_t today = FileTimeFromCivil({2026, 12, 11, 12, 0, 0});
    const uint32_t d20150315 = ParseDateText(u"20150315", today);
    EXPECT_EQ(ParseDateText(u"150315", today), d20150315);
    EXPECT_NE(d20150315, 0u);
    EXPECT_EQ(ParseDateText(u"0315", today), ParseDateText(u"20260315", today));
    EXPECT_EQ(ParseDateText(u"315", today), ParseDateText(u"20260315", today));
    EXPECT_EQ(ParseDateText(u"20150316", today) - d20150315, 86400u);
    EXPECT_EQ(ParseDateText(u"15", today), 0u);
    // Day 0 keeps today's day, month 13 keeps this month.
    EXPECT_EQ(ParseDateText(u"150013", today), ParseDateText(u"20151213", today));
    EXPECT_EQ(ParseDateText(u"150100", today), ParseDateText(u"20150111", today));

    const DateRange year = ParseDateRange(u"20150101-20151231");
    EXPECT_EQ(year.upperLimit - year.lower, 365u * 86400u);
    EXPECT_EQ(ParseDateRange(u"0101").upperLimit, 0xFFFFFFFFu);
    EXPECT_EQ(ParseDateRange(u"-").lower, 0u);

    EXPECT_EQ(ParseDupRange(u"1").lower, 0);
    EXPECT_EQ(ParseDupRange(u"0").lower, 0);
    EXPECT_EQ(ParseDupRange(u"2").lower, 2);
    EXPECT_EQ(ParseDupRange(u"2").upper, 2147483647);
    EXPECT_EQ(ParseDupRange(u"3-3").lower, 3);
    EXPECT_EQ(ParseDupRange(u"3-3").upper, 3);

    EXPECT_EQ(ParseHexValue(u"F0000001"), 0xF0000001u);
    EXPECT_EQ(ParseHexValue(u"ab12zz"), 0xAB12u);
    EXPECT_EQ(ParseHexValue(u"zz"), 0u);
    EXPECT_EQ(ParseHexValue(u"123456789abc"), 0xFFFFFFFFu);
}

TEST(SwitchValues, Classify) {
    std::u16string v;
    EXPECT_EQ(ClassifySwitch(u"/F", v), SwitchKind::kFiles);
    EXPECT_EQ(ClassifySwitch(u"/d", v), SwitchKind::kFolders);
    EXPECT_EQ(ClassifySwitch(u"/Size:10M", v), SwitchKind::kSize);
    EXPECT_EQ(v, u"10m");
    EXPECT_EQ(ClassifySwitch(u"/hash:AB", v), SwitchKind::kHash);
    EXPECT_EQ(ClassifySwitch(u"/hidden", v), SwitchKind::kHidden);
    EXPECT_EQ(ClassifySwitch(u"/online", v), SwitchKind::kOnline);
    EXPECT_EQ(ClassifySwitch(u"/offline", v), SwitchKind::kOffline);
    EXPECT_EQ(ClassifySwitch(u"/x", v), SwitchKind::kNone);
    EXPECT_EQ(ClassifySwitch(u"/sort:size", v), SwitchKind::kNone);
    EXPECT_EQ(ClassifySwitch(u"size:10m", v), SwitchKind::kNone);
}

TEST(WildcardMatch, Table) {
    struct Case {
        const char16_t* name;
        const char16_t* pattern;
        bool match;
    } cases[] = {
        {u"axxbyyc", u"a*b*c", true},
        {u"abc", u"a*b*c", true},
        {u"acb", u"a*b*c", false},
        {u"readme.txt", u"*.t?t*", true},
        {u"x.tat.txt", u"*.t?t*", true},
        {u"", u"?", false},
        {u"", u"*", true},
        {u"", u"**", true},
        {u"abc", u"*", true},
        {u"abc", u"a?c", true},
        {u"ac", u"a?c", false},
        {u"xaxbx", u"*a*b*", true},
        {u"ab", u"a", false},
        {u"ab", u"*a", false},
        {u"aaab", u"*ab", true},
        {u"mississippi", u"*sip*", true},
        {u"mississippi", u"m*iss*ppi", true},
        {u"abc", u"abc*", true},
        {u"abcd", u"abc", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WildcardMatch(c.name, c.pattern), c.match)
            << Utf16ToUtf8(c.name) << " " << Utf16ToUtf8(c.pattern);
    }
}

TEST(CivilTime, RoundTrip) {
    const CivilTime t{2015, 2, 28, 17, 11, 5};
    const CivilTime back = CivilFromFileTime(FileTimeFromCivil(t));
    EXPECT_EQ(back.year, 2015);
    EXPECT_EQ(back.month, 2);
    EXPECT_EQ(back.day, 28);
    EXPECT_EQ(back.hour, 17);
    EXPECT_EQ(back.minute, 11);
    EXPECT_EQ(back.second, 5);
    // The stamp epoch.
    EXPECT_EQ(PackedTimeFromFileTime(FileTimeFromCivil({1977, 10, 2, 0, 0, 0})), 0u);
    EXPECT_EQ(FileTimeFromPackedTime(0), FileTimeFromCivil({1977, 10, 2, 0, 0, 0}));
}

}  // namespace
}  // namespace kavo

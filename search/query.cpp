#include "search/query.h"

#include <cmath>

#include "base/case_map.h"
#include "base/text.h"
#include "platform/local_time.h"
#include "platform/system.h"
#include "search/civil_time.h"

namespace kavo {

namespace {

bool IsPathToken(const std::u16string& t) {
    if (!t.empty() && t[0] == u'<') {
        return false;
    }
    return (t.size() >= 2 && t[1] == u':') || t.find(u'\\') != std::u16string::npos;
}

// Whether the space at `i` (in path mode) ends the current path token.
bool SpaceSeparatesPath(std::u16string_view text, size_t i, const std::u16string& current) {
    if ((!current.empty() && current.back() == u'\\') || i + 1 == text.size()) {
        return true;
    }
    for (size_t k = i + 1; k < text.size(); ++k) {
        const char16_t c = text[k];
        if (c == u'|' || c == u':') {
            return true;
        }
        if (c == u'/' && text[k - 1] == u' ') {
            return true;
        }
        if (c == u'\\') {
            return false;
        }
    }
    return true;
}

// Splits a switch value at its first '-'.
void SplitRange(std::u16string_view value, std::u16string_view& lower, std::u16string_view& upper) {
    const size_t dash = value.find(u'-');
    if (dash == std::u16string_view::npos) {
        lower = value;
        upper = {};
    } else {
        lower = value.substr(0, dash);
        upper = value.substr(dash + 1);
    }
}

// The leading decimal floating-point value of a text, as wcstod reads it in the C locale
// (no hexadecimal forms), independent of the user's decimal separator; 0 when nothing is
// readable.
double LeadingDouble(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) {
        ++i;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i++] == u'-';
    }
    double v = 0;
    bool digits = false;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
        v = v * 10 + (s[i++] - u'0');
        digits = true;
    }
    if (i < s.size() && s[i] == u'.') {
        ++i;
        double scale = 0.1;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
            v += (s[i++] - u'0') * scale;
            scale /= 10;
            digits = true;
        }
    }
    if (!digits) {
        return 0;
    }
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        size_t j = i + 1;
        bool exp_negative = false;
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) {
            exp_negative = s[j++] == u'-';
        }
        int exp = 0;
        bool exp_digits = false;
        while (j < s.size() && s[j] >= u'0' && s[j] <= u'9') {
            exp = exp > 1000 ? exp : exp * 10 + (s[j] - u'0');
            ++j;
            exp_digits = true;
        }
        if (exp_digits) {
            v *= std::pow(10.0, exp_negative ? -exp : exp);
        }
    }
    return negative ? -v : v;
}

uint64_t ConvertSize(std::u16string_view text, char16_t& unit) {
    while (!text.empty() && text.back() == u'b') {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return 0;
    }
    const char16_t last = text.back();
    if (last >= u'a' && last <= u'z') {
        unit = last;
        text.remove_suffix(1);
    }
    double factor = 1;
    switch (unit) {
        case u'k':
            factor = 1024.0;
            break;
        case u'm':
            factor = 1048576.0;
            break;
        case u'g':
            factor = 1073741824.0;
            break;
        default:
            unit = 0;
            break;
    }
    if (text.empty()) {
        return 0;
    }
    const double v = LeadingDouble(text) * factor;
    // Negative and unrepresentable values have no meaning as sizes: clamp them.
    if (!(v > 0)) {
        return 0;
    }
    if (v >= 18446744073709551615.0) {
        return ~uint64_t{0};
    }
    return static_cast<uint64_t>(v);
}

int64_t ReadDecimalPart(std::u16string_view s) {
    return ParseLeadingInt64(s);
}

}  // namespace

std::vector<std::u16string> TokenizeQuery(std::u16string_view text) {
    std::vector<std::u16string> out;
    std::u16string cur;
    bool in_quote = false;
    bool path_mode = false;
    auto emit = [&] {
        if (!cur.empty()) {
            out.push_back(std::move(cur));
            cur.clear();
        }
    };
    size_t i = 0;
    while (i < text.size()) {
        const char16_t c = text[i];
        if (in_quote) {
            if (c == u'"') {
                emit();
                in_quote = false;
            } else {
                cur += c;
            }
            ++i;
            continue;
        }
        if (path_mode) {
            if (c == u'|') {
                emit();
                out.push_back(u"|");
                path_mode = false;
            } else if (c == u' ') {
                if (SpaceSeparatesPath(text, i, cur)) {
                    emit();
                    path_mode = false;
                } else {
                    cur += c;
                }
            } else {
                cur += c;
            }
            ++i;
            continue;
        }
        switch (c) {
            case u'"':
                emit();
                in_quote = true;
                ++i;
                break;
            case u'|':
                emit();
                out.push_back(u"|");
                ++i;
                break;
            case u' ':
                emit();
                ++i;
                break;
            case u'<': {
                emit();
                int depth = 1;
                size_t j = i + 1;
                for (; j < text.size(); ++j) {
                    if (text[j] == u'<') {
                        ++depth;
                    } else if (text[j] == u'>') {
                        if (--depth == 0) {
                            break;
                        }
                    }
                }
                if (j < text.size()) {
                    out.emplace_back(text.substr(i, j - i + 1));
                    i = j + 1;
                } else if (depth == 1) {
                    out.emplace_back(text.substr(i));
                    return out;
                } else {
                    ++i;  // an unbalanced '<' is dropped
                }
                break;
            }
            default:
                cur += c;
                if (c == u'\\') {
                    path_mode = true;
                }
                ++i;
                break;
        }
    }
    emit();
    return out;
}

void GroupTokens(std::u16string_view text,
                 std::vector<std::u16string>& terms,
                 std::vector<std::u16string>& path_terms) {
    std::vector<std::u16string> tokens = TokenizeQuery(text);
    bool previous_was_path = false;
    bool pending_alternative = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        std::u16string& t = tokens[i];
        if (IsPathToken(t)) {
            path_terms.push_back(std::move(t));
            previous_was_path = true;
            continue;
        }
        if (t == u"|") {
            if (!previous_was_path && !terms.empty()) {
                terms.back() += u'|';
                pending_alternative = true;
            }
            previous_was_path = false;
            continue;
        }
        if (pending_alternative && !terms.empty()) {
            if (t.size() >= 2 && t.front() == u'*' && t.back() == u'*' &&
                t.find(u'*', 1) == t.size() - 1) {
                t = t.substr(1, t.size() - 2);
            }
            terms.back() += t;
            if (t == u"!" && i + 1 < tokens.size() && !tokens[i + 1].empty() &&
                tokens[i + 1][0] == u'<') {
                terms.back() += tokens[i + 1];
                ++i;
            }
        } else {
            terms.push_back(std::move(t));
        }
        pending_alternative = false;
        previous_was_path = false;
    }
}

ParsedQuery ParseQuery(std::u16string_view text) {
    ParsedQuery q;
    GroupTokens(text, q.terms, q.pathTerms);
    const size_t p = q.pathTerms.size();
    if (p == 1) {
        q.folder = std::move(q.pathTerms[0]);
        q.pathTerms.clear();
    }
    for (size_t i = 0; i < q.terms.size(); ++i) {
        if (StartsWith(q.terms[i], u"/sort")) {
            q.sortText = std::move(q.terms[i]);
            q.terms.erase(q.terms.begin() + static_cast<ptrdiff_t>(i));
            break;
        }
    }
    if (q.terms.size() == 1 && p <= 1) {
        const std::u16string& t = q.terms[0];
        const bool plain = t.find(u'|') == std::u16string::npos && t[0] != u'/' && t[0] != u'<' &&
                           t[0] != u'>' && !(t[0] == u'@' && t.size() > 1);
        if (plain) {
            q.simpleName = std::move(q.terms[0]);
            q.terms.clear();
        }
    }
    return q;
}

std::vector<SortKey> ParseSortText(std::u16string_view text) {
    std::vector<SortKey> keys;
    const std::u16string lower = Lower(text);
    if (!StartsWith(lower, u"/sort:")) {
        return keys;
    }
    const std::u16string_view rest = std::u16string_view(lower).substr(6);
    std::u16string word;
    auto finish = [&](char16_t mark) {
        struct Entry {
            const char16_t* word;
            uint32_t key;
            bool ascending;
        };
        static const Entry kWords[] = {
            {u"name", kSortName, true},
            {u"size", kSortSize, false},
            {u"date", kSortDate, false},
            {u"path", kSortPath, true},
            {u"ext", kSortExt, true},
            {u"hash", kSortHash, true},
            {u"dupcount", kSortDupCount, false},
            {u"filecount", kSortFileCount, false},
        };
        if (!word.empty()) {
            for (const Entry& e : kWords) {
                if (word == e.word) {
                    SortKey k;
                    k.column = -1;
                    k.key = e.key;
                    k.ascending = mark == u'+' ? true : mark == u'-' ? false : e.ascending;
                    keys.push_back(k);
                    break;
                }
            }
        }
        word.clear();
    };
    for (size_t i = 0; i < rest.size(); ++i) {
        const char16_t c = rest[i];
        if (c == u'+' || c == u'-') {
            finish(c);
        } else if (c == u',') {
            finish(0);
        } else {
            word += c;
            if (i + 1 == rest.size()) {
                finish(0);
            }
        }
    }
    return keys;
}

uint32_t PatternBits(std::u16string_view lower_text) {
    uint32_t bits = 0;
    for (const char16_t u : lower_text) {
        if (u >= u'a' && u <= u'z') {
            bits |= 1u << (u - u'a');
        } else if (u == u'.') {
            bits |= 1u << 26;
        } else if (u == u'_') {
            bits |= 1u << 27;
        } else if (u >= u'0' && u <= u'3') {
            bits |= 1u << (28 + (u - u'0'));
        }
    }
    return bits;
}

SizeRange ParseSizeRange(std::u16string_view value) {
    const std::u16string lower = Lower(value);
    std::u16string_view lo;
    std::u16string_view hi;
    SplitRange(lower, lo, hi);
    char16_t unit = 0;
    SizeRange r;
    r.upper = ConvertSize(hi, unit);
    r.lower = ConvertSize(lo, unit);
    if (r.upper == 0) {
        r.upper = ~uint64_t{0};
    }
    return r;
}

uint32_t ParseDateText(std::u16string_view text, uint64_t today_utc_filetime) {
    const size_t len = text.size();
    if (len < 3) {
        return 0;
    }
    const CivilTime today = CivilFromFileTime(today_utc_filetime);
    int year = today.year;
    int month = today.month;
    int day = today.day;
    const int64_t d = ReadDecimalPart(text.substr(len - 2));
    const int64_t m =
        len == 3 ? ReadDecimalPart(text.substr(0, 1)) : ReadDecimalPart(text.substr(len - 4, 2));
    if (d >= 1 && d <= 31) {
        day = static_cast<int>(d);
    }
    if (m >= 1 && m <= 12) {
        month = static_cast<int>(m);
    }
    int64_t y = -1;
    if (len == 6) {
        y = ReadDecimalPart(text.substr(0, 2));
    } else if (len == 8) {
        y = ReadDecimalPart(text.substr(0, 4));
    }
    if (y > 99) {
        year = static_cast<int>(y > 30827 ? 30827 : y);
    } else if (y >= 0) {
        year = 2000 + static_cast<int>(y);
    }
    CivilTime local;
    local.year = year;
    local.month = month;
    local.day = day;
    const uint64_t utc = platform::LocalFileTimeToUtc(FileTimeFromCivil(local));
    return PackedTimeFromFileTime(utc);
}

DateRange ParseDateRange(std::u16string_view value) {
    std::u16string_view lo;
    std::u16string_view hi;
    SplitRange(value, lo, hi);
    const uint64_t now = platform::NowFileTime();
    DateRange r;
    r.lower = ParseDateText(lo, now);
    r.upper = ParseDateText(hi, now);
    r.upperLimit = r.upper == 0 ? 0xFFFFFFFFu : r.upper + 86400u;
    return r;
}

DupRange ParseDupRange(std::u16string_view value) {
    std::u16string_view lo;
    std::u16string_view hi;
    SplitRange(value, lo, hi);
    auto clamp = [](int64_t v) {
        return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
    };
    DupRange r;
    r.lower = clamp(ReadDecimalPart(lo));
    r.upper = clamp(ReadDecimalPart(hi));
    if (r.lower < 2) {
        r.lower = 0;
    }
    if (r.upper == 0) {
        r.upper = 2147483647;
    }
    return r;
}

uint32_t ParseHexValue(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) {
        ++i;
    }
    if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        i += 2;
    }
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        unsigned digit;
        if (c >= u'0' && c <= u'9') {
            digit = c - u'0';
        } else if (c >= u'a' && c <= u'f') {
            digit = c - u'a' + 10;
        } else if (c >= u'A' && c <= u'F') {
            digit = c - u'A' + 10;
        } else {
            break;
        }
        // Past 32 bits the value saturates, as the C library's unsigned reading does.
        v = v * 16 + digit;
        if (v > 0xFFFFFFFFu) {
            return 0xFFFFFFFFu;
        }
    }
    return static_cast<uint32_t>(v);
}

SwitchKind ClassifySwitch(std::u16string_view term, std::u16string& value) {
    value.clear();
    if (term.empty() || term[0] != u'/') {
        return SwitchKind::kNone;
    }
    const std::u16string w = Lower(term.substr(1));
    if (w == u"f") {
        return SwitchKind::kFiles;
    }
    if (w == u"d") {
        return SwitchKind::kFolders;
    }
    if (w == u"hidden") {
        return SwitchKind::kHidden;
    }
    if (w == u"online") {
        return SwitchKind::kOnline;
    }
    if (w == u"offline") {
        return SwitchKind::kOffline;
    }
    struct Prefix {
        const char16_t* word;
        size_t length;
        SwitchKind kind;
    };
    static const Prefix kPrefixes[] = {{u"size:", 5, SwitchKind::kSize},
                                       {u"date:", 5, SwitchKind::kDate},
                                       {u"dup:", 4, SwitchKind::kDup},
                                       {u"hash:", 5, SwitchKind::kHash}};
    for (const Prefix& p : kPrefixes) {
        if (StartsWith(w, p.word)) {
            value = w.substr(p.length);
            return p.kind;
        }
    }
    return SwitchKind::kNone;
}

std::u16string FolderFragment(std::u16string_view folder) {
    std::u16string f = Lower(folder);
    if (EndsWith(f, u"*\\")) {
        f.resize(f.size() - 2);
    }
    return f;
}

}  // namespace kavo

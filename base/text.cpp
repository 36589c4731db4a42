#include "base/text.h"

namespace kavo {

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c >> 4) == 0xE) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c >> 3) == 0x1E) {
            len = 4;
            cp = c & 0x07;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc >> 6) != 0x2) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string AsciiToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char c : s) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

std::u16string ToDecimalUnsigned(uint64_t v) {
    char16_t buf[24];
    size_t n = 0;
    do {
        buf[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    std::u16string out;
    out.reserve(n);
    while (n > 0) {
        out.push_back(buf[--n]);
    }
    return out;
}

std::u16string ToDecimal(int64_t v) {
    if (v < 0) {
        std::u16string r = ToDecimalUnsigned(0 - static_cast<uint64_t>(v));
        r.insert(r.begin(), u'-');
        return r;
    }
    return ToDecimalUnsigned(static_cast<uint64_t>(v));
}

std::optional<int64_t> ParseInt64(std::u16string_view s) {
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) {
        neg = s[i] == u'-';
        ++i;
    }
    if (i == s.size()) {
        return std::nullopt;
    }
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9') {
            return std::nullopt;
        }
        const uint64_t d = static_cast<uint64_t>(s[i] - u'0');
        if (v > (UINT64_MAX - d) / 10) {
            return std::nullopt;
        }
        v = v * 10 + d;
    }
    const uint64_t limit = neg ? static_cast<uint64_t>(INT64_MAX) + 1 : INT64_MAX;
    if (v > limit) {
        return std::nullopt;
    }
    return neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

int64_t ParseLeadingInt64(std::u16string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\r' || s[i] == u'\n')) {
        ++i;
    }
    bool neg = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) {
        neg = s[i] == u'-';
        ++i;
    }
    uint64_t v = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        const uint64_t d = static_cast<uint64_t>(s[i] - u'0');
        if (v > (static_cast<uint64_t>(INT64_MAX) - d) / 10) {
            v = neg ? static_cast<uint64_t>(INT64_MAX) + 1 : INT64_MAX;  // saturate
            break;
        }
        v = v * 10 + d;
    }
    return neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

bool StartsWith(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::u16string_view s, std::u16string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

void ReplaceAll(std::u16string& s, char16_t from, char16_t to) {
    for (char16_t& c : s) {
        if (c == from) {
            c = to;
        }
    }
}

std::vector<std::u16string> Split(std::u16string_view s, char16_t sep) {
    std::vector<std::u16string> out;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == sep) {
            out.emplace_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

}  // namespace kavo

// A small INI implementation with the observable behaviour of the Win32 private-profile
// calls, for the native tests. Files are read as UTF-16 (with its byte-order mark) or
// UTF-8, and written as UTF-8 with CR LF line ends.
#include <vector>

#include "base/case_map.h"
#include "base/text.h"
#include "platform/file.h"
#include "platform/profile.h"

namespace kavo::platform {
namespace {

struct Entry {
    std::u16string key;
    std::u16string value;
};
struct Section {
    std::u16string name;
    std::vector<Entry> entries;
};
using Ini = std::vector<Section>;

std::u16string Trim(std::u16string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t' || s[b] == u'\r')) {
        ++b;
    }
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t' || s[e - 1] == u'\r')) {
        --e;
    }
    return std::u16string(s.substr(b, e - b));
}

Ini Load(const std::u16string& file) {
    Ini ini;
    auto bytes = ReadWholeFile(file);
    if (!bytes) {
        return ini;
    }
    std::u16string text;
    const std::vector<uint8_t>& b = *bytes;
    if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        for (size_t i = 2; i + 1 < b.size(); i += 2) {
            text.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
        }
    } else {
        size_t skip = (b.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) ? 3 : 0;
        text = Utf8ToUtf16(
            std::string_view(reinterpret_cast<const char*>(b.data()) + skip, b.size() - skip));
    }
    Section* current = nullptr;
    for (const std::u16string& raw : Split(text, u'\n')) {
        const std::u16string line = Trim(raw);
        if (line.empty() || line[0] == u';') {
            continue;
        }
        if (line[0] == u'[') {
            const size_t close = line.find(u']');
            ini.push_back(
                {Trim(line.substr(1, close == std::u16string::npos ? line.size() - 1 : close - 1)),
                 {}});
            current = &ini.back();
            continue;
        }
        if (!current) {
            continue;  // lines before the first section belong to none
        }
        const size_t eq = line.find(u'=');
        if (eq == std::u16string::npos) {
            current->entries.push_back({line, u""});
        } else {
            current->entries.push_back({Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))});
        }
    }
    return ini;
}

bool Save(const std::u16string& file, const Ini& ini) {
    std::u16string text;
    for (const Section& s : ini) {
        text += u"[" + s.name + u"]\r\n";
        for (const Entry& e : s.entries) {
            text += e.key + u"=" + e.value + u"\r\n";
        }
    }
    const std::string utf8 = Utf16ToUtf8(text);
    return WriteWholeFile(file, utf8.data(), utf8.size());
}

Section* FindSection(Ini& ini, const std::u16string& name) {
    for (Section& s : ini) {
        if (EqualsIgnoreCase(s.name, name)) {
            return &s;
        }
    }
    return nullptr;
}

Entry* FindEntry(Section& s, const std::u16string& key) {
    for (Entry& e : s.entries) {
        if (EqualsIgnoreCase(e.key, key)) {
            return &e;
        }
    }
    return nullptr;
}

std::u16string Cut(std::u16string s, size_t buffer_units) {
    if (s.size() > buffer_units - 1) {
        s.resize(buffer_units - 1);
    }
    return s;
}

}  // namespace

std::u16string ProfileReadString(const std::u16string& file,
                                 const std::u16string& section,
                                 const std::u16string& key,
                                 const std::u16string& fallback,
                                 size_t buffer_units) {
    if (buffer_units == 0) {
        return {};
    }
    Ini ini = Load(file);
    Section* s = FindSection(ini, section);
    Entry* e = s ? FindEntry(*s, key) : nullptr;
    if (!e) {
        return Cut(Trim(fallback), buffer_units);
    }
    std::u16string v = e->value;
    if (v.size() >= 2 && (v[0] == u'"' || v[0] == u'\'') && v.back() == v[0]) {
        v = v.substr(1, v.size() - 2);
    }
    return Cut(std::move(v), buffer_units);
}

bool ProfileWriteString(const std::u16string& file,
                        const std::u16string& section,
                        const std::u16string& key,
                        const std::optional<std::u16string>& value) {
    Ini ini = Load(file);
    Section* s = FindSection(ini, section);
    if (!value) {
        if (!s) {
            return true;
        }
        std::erase_if(s->entries, [&](const Entry& e) { return EqualsIgnoreCase(e.key, key); });
        return Save(file, ini);
    }
    if (!s) {
        ini.push_back({section, {}});
        s = &ini.back();
    }
    if (Entry* e = FindEntry(*s, key)) {
        e->value = *value;
    } else {
        s->entries.push_back({key, *value});
    }
    return Save(file, ini);
}

bool ProfileDeleteSection(const std::u16string& file, const std::u16string& section) {
    Ini ini = Load(file);
    const size_t before = ini.size();
    std::erase_if(ini, [&](const Section& s) { return EqualsIgnoreCase(s.name, section); });
    return ini.size() == before || Save(file, ini);
}

std::vector<std::u16string> ProfileSectionNames(const std::u16string& file, size_t buffer_units) {
    std::vector<std::u16string> names;
    size_t used = 0;
    for (const Section& s : Load(file)) {
        // The names and their terminators must fit the buffer with the final zero.
        if (used + s.name.size() + 2 > buffer_units) {
            break;
        }
        used += s.name.size() + 1;
        names.push_back(s.name);
    }
    return names;
}

bool ProfileWriteStruct(const std::u16string& file,
                        const std::u16string& section,
                        const std::u16string& key,
                        const void* data,
                        size_t size) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string text;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kHex[p[i] >> 4]);
        text.push_back(kHex[p[i] & 0xF]);
        sum += p[i];
    }
    text.push_back(kHex[(sum >> 4) & 0xF]);
    text.push_back(kHex[sum & 0xF]);
    return ProfileWriteString(file, section, key, text);
}

std::optional<std::vector<uint8_t>> ProfileReadStruct(const std::u16string& file,
                                                      const std::u16string& section,
                                                      const std::u16string& key,
                                                      size_t size) {
    const std::u16string text = ProfileReadString(file, section, key, u"", 2 * size + 4 + 1);
    if (text.size() != 2 * size + 2) {
        return std::nullopt;
    }
    auto nibble = [](char16_t c) -> int {
        if (c >= u'0' && c <= u'9')
            return c - u'0';
        if (c >= u'A' && c <= u'F')
            return c - u'A' + 10;
        if (c >= u'a' && c <= u'f')
            return c - u'a' + 10;
        return -1;
    };
    std::vector<uint8_t> out;
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const int hi = nibble(text[i]);
        const int lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        const uint8_t v = static_cast<uint8_t>(hi * 16 + lo);
        if (out.size() < size) {
            out.push_back(v);
            sum += v;
        } else if (v != (sum & 0xFF)) {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace kavo::platform

#include "database/record_values.h"

#include "base/case_map.h"

namespace kavo {

NameBits UnitNameBit(char16_t u) {
    if (u > 0x7A) {
        return 0;
    }
    switch (u) {
        case u'.':
            return 1u << 26;
        case u'_':
            return 1u << 27;
        case u'0':
            return 1u << 28;
        case u'1':
            return 1u << 29;
        case u'2':
            return 1u << 30;
        case u'3':
            return 1u << 31;
        default:
            break;
    }
    // Signed difference taken modulo 32 into 0..31, so "A" shares bit 0 with "a".
    const int diff = static_cast<int>(u) - 0x61;
    return 1u << (static_cast<unsigned>(diff) & 31u);
}

NameBits ComputeNameBits(std::u16string_view lower_name) {
    NameBits bits = 0;
    for (char16_t u : lower_name) {
        bits |= UnitNameBit(u);
    }
    return bits;
}

NameKeyInfo MakeNameKey(std::u16string_view name, bool is_folder) {
    if (name.size() > kMaxNameLength) {
        name = name.substr(0, kMaxNameLength);
    }
    NameKeyInfo info;
    info.length = static_cast<uint8_t>(name.size());
    info.key.reserve(name.size() + 2);
    info.key.push_back(is_folder ? kFolderFlag : kFileFlag);
    char16_t positions[kMaxNameLength];
    size_t changed = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t u = name[i];
        char16_t l = u;
        if (!(u <= 64 || (u >= 91 && u <= 127))) {
            l = LowerUnit(u);
        }
        if (l != u) {
            positions[changed++] = static_cast<char16_t>(i + 1);
        }
        if (l >= 0x80) {
            info.wide = 1;
        }
        info.bits |= UnitNameBit(l);
        info.key.push_back(l);
    }
    if (changed > 0) {
        info.key.push_back(kUpperMarker);
        info.key.append(positions, changed);
    }
    info.upper_count = static_cast<uint8_t>(changed);
    return info;
}

std::u16string RestoreCapitals(std::u16string_view lower_name, std::u16string_view positions) {
    std::u16string out(lower_name);
    for (char16_t p : positions) {
        if (p >= 1 && p <= out.size()) {
            out[p - 1] = UpperUnit(out[p - 1]);
        }
    }
    return out;
}

std::u16string NameFromKey(std::u16string_view key, uint8_t length, uint8_t upper_count) {
    if (key.size() < static_cast<size_t>(length) + 1) {
        return {};
    }
    std::u16string_view lower = key.substr(1, length);
    std::u16string_view positions;
    if (upper_count > 0 && key.size() >= static_cast<size_t>(length) + 2 + upper_count) {
        positions = key.substr(length + 2, upper_count);
    }
    return RestoreCapitals(lower, positions);
}

std::u16string VolumeSlot::GuidText() const {
    std::u16string out;
    for (char c : guid) {
        if (c == 0) {
            break;
        }
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

void VolumeSlot::SetGuid(std::u16string_view text) {
    guid.fill(0);
    for (size_t i = 0; i < text.size() && i < guid.size() - 1; ++i) {
        const char16_t c = text[i];
        guid[i] = static_cast<char>(c < 0x80 ? c : u'?');
    }
}

}  // namespace kavo

#include "database/db_format.h"

#include <algorithm>

namespace kavo::dbformat {

namespace {

DbStatus Bad(const char16_t* file, std::u16string what) {
    return DbStatus::Damage(std::u16string(file) + u": " + what);
}

}  // namespace

DbStatus ParseFrs(std::span<const uint8_t> bytes, Frs& out) {
    out = Frs{};
    if (bytes.empty()) {
        return {};
    }
    if (bytes.size() < kRecordsOffset) {
        return Bad(u"kavo.frs", Format(u"%u bytes, shorter than its header and drive table",
                                       static_cast<uint64_t>(bytes.size())));
    }
    const uint8_t* p = bytes.data();
    out.header = p;
    out.record_count = U32(p + 4);
    out.database_time = U32(p + 8);
    out.drive_table = p + kHeaderBytes;
    const uint64_t records_end =
        kRecordsOffset + static_cast<uint64_t>(out.record_count) * kRecordBytes;
    if (records_end > bytes.size()) {
        return Bad(u"kavo.frs", Format(u"record count %u does not fit in %u bytes",
                                       out.record_count, static_cast<uint64_t>(bytes.size())));
    }
    out.records = p + kRecordsOffset;
    uint64_t pos = records_end;
    for (size_t d = 0; d < kDriveSlotCount; ++d) {
        const uint32_t len = U32(out.drive_table + d * kSlotBytes + 28);
        if (static_cast<uint64_t>(len) * 2 > bytes.size() - pos) {
            return Bad(u"kavo.frs", Format(u"name of drive %c (%u units) runs past the end",
                                           static_cast<char16_t>(u'A' + d), len));
        }
        std::u16string& name = out.drive_names[d];
        name.resize(len);
        for (uint32_t i = 0; i < len; ++i) {
            name[i] = static_cast<char16_t>(p[pos + 2 * i] | (p[pos + 2 * i + 1] << 8));
        }
        pos += static_cast<uint64_t>(len) * 2;
    }
    const uint64_t rest = bytes.size() - pos;
    if (rest == kVolumeTableBytes) {
        out.volume_table = p + pos;
    } else if (rest != 0) {
        return Bad(u"kavo.frs",
                   Format(u"%u bytes after the drive names, not a volume table", rest));
    }
    for (uint32_t i = 0; i < out.record_count; ++i) {
        const int32_t parent = ParentAt(out, i);
        if (parent < -1 || parent >= static_cast<int64_t>(out.record_count)) {
            return Bad(u"kavo.frs", Format(u"record %u has parent %d of %u records", i, parent,
                                           out.record_count));
        }
    }
    return {};
}

void ReadDriveSlot(const uint8_t* p, DriveSlot& s) {
    s.journal_id = U64(p);
    s.next_usn = static_cast<int64_t>(U64(p + 8));
    s.serial = U32(p + 16);
    s.build_time = U32(p + 20);
    s.built = p[32];
}

void ReadVolumeSlot(const uint8_t* p, VolumeSlot& s) {
    s.journal_id = U64(p);
    s.next_usn = static_cast<int64_t>(U64(p + 8));
    s.serial = U32(p + 16);
    s.build_time = U32(p + 20);
    s.built = p[32];
    std::memcpy(s.guid.data(), p + 33, s.guid.size());
    s.guid.back() = 0;
    s.mount_key = U64(p + 70);
}

void WriteDriveSlot(uint8_t* p, const DriveSlot& s, uint32_t name_start, uint32_t name_length) {
    std::memset(p, 0, kSlotBytes);
    PutU64(p, s.journal_id);
    PutU64(p + 8, static_cast<uint64_t>(s.next_usn));
    PutU32(p + 16, s.serial);
    PutU32(p + 20, s.build_time);
    PutU32(p + 24, name_start);
    PutU32(p + 28, name_length);
    p[32] = s.built;
}

void WriteVolumeSlot(uint8_t* p, const VolumeSlot& s) {
    std::memset(p, 0, kSlotBytes);
    PutU64(p, s.journal_id);
    PutU64(p + 8, static_cast<uint64_t>(s.next_usn));
    PutU32(p + 16, s.serial);
    PutU32(p + 20, s.build_time);
    p[32] = s.built;
    std::memcpy(p + 33, s.guid.data(), s.guid.size());
    p[33 + 36] = 0;
    PutU64(p + 70, s.mount_key);
}

DbStatus CheckNrs(std::span<const uint8_t> bytes,
                  uint32_t record_count,
                  uint32_t* name_count,
                  uint32_t* folder_names,
                  uint32_t* folder_records) {
    *name_count = 0;
    *folder_names = 0;
    *folder_records = 0;
    if (bytes.empty()) {
        if (record_count != 0) {
            return Bad(u"kavo.nrs", Format(u"no names for %u records", record_count));
        }
        return {};
    }
    if (bytes.size() < 4) {
        return Bad(u"kavo.nrs", u"shorter than its name count");
    }
    const uint32_t n = U32(bytes.data());
    if (4 + static_cast<uint64_t>(n) * kItemBytes > bytes.size()) {
        return Bad(u"kavo.nrs", Format(u"name count %u does not fit in %u bytes", n,
                                       static_cast<uint64_t>(bytes.size())));
    }
    if ((n == 0) != (record_count == 0)) {
        return Bad(u"kavo.nrs", Format(u"%u names for %u records", n, record_count));
    }
    const uint8_t* items = bytes.data() + 4;
    uint64_t key_pos = 4 + static_cast<uint64_t>(n) * kItemBytes;
    NrsItem prev{};
    bool have_prev = false;
    bool in_files = false;
    int32_t last_first = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* p = items + static_cast<size_t>(i) * kItemBytes;
        NrsItem it{};
        it.bits = U32(p);
        it.first = static_cast<int32_t>(U32(p + 4));
        it.wide = p[8];
        it.length = p[9];
        it.upper_count = p[10];
        if (it.wide > 1) {
            return Bad(u"kavo.nrs", Format(u"name %u has width flag %u", i, it.wide));
        }
        if (i == 0 ? it.first != 0
                   : (it.first < last_first || it.first >= static_cast<int64_t>(record_count))) {
            return Bad(u"kavo.nrs", Format(u"name %u has first record %d after %d of %u", i,
                                           it.first, last_first, record_count));
        }
        if (it.upper_count > it.length) {
            return Bad(u"kavo.nrs", Format(u"name %u has %u capitals in %u units", i,
                                           it.upper_count, it.length));
        }
        it.key_units = it.upper_count == 0 ? it.length + 1u : it.length + it.upper_count + 2u;
        const uint64_t key_bytes = static_cast<uint64_t>(it.key_units) * (it.wide ? 2 : 1);
        if (key_bytes > bytes.size() - key_pos) {
            return Bad(u"kavo.nrs", Format(u"key of name %u runs past the end", i));
        }
        it.key = bytes.data() + key_pos;
        key_pos += key_bytes;
        const uint16_t flag = it.Unit(0);
        if (flag != u'1' && flag != u'2') {
            return Bad(u"kavo.nrs", Format(u"key of name %u starts with unit %u", i, flag));
        }
        if (it.upper_count > 0) {
            if (it.Unit(it.length + 1u) != kUpperMarker) {
                return Bad(u"kavo.nrs", Format(u"key of name %u lacks the capitals mark", i));
            }
            for (uint32_t u = 0; u < it.upper_count; ++u) {
                const uint16_t pos = it.Unit(it.length + 2u + u);
                if (pos < 1 || pos > it.length) {
                    return Bad(u"kavo.nrs", Format(u"capital position %u of name %u outside "
                                                   u"its %u units",
                                                   pos, i, it.length));
                }
            }
        }
        if (have_prev) {
            // Strictly rising ordinal order of the whole keys.
            const uint32_t common = std::min(prev.key_units, it.key_units);
            int cmp = 0;
            for (uint32_t u = 0; u < common && cmp == 0; ++u) {
                const uint16_t a = prev.Unit(u);
                const uint16_t b = it.Unit(u);
                cmp = a < b ? -1 : (a > b ? 1 : 0);
            }
            if (cmp == 0) {
                cmp = prev.key_units < it.key_units ? -1 : (prev.key_units > it.key_units ? 1 : 0);
            }
            if (cmp >= 0) {
                return Bad(u"kavo.nrs", Format(u"key of name %u is out of order", i));
            }
        }
        if (flag == u'1') {
            ++*folder_names;
        } else if (!in_files) {
            in_files = true;
            *folder_records = static_cast<uint32_t>(it.first);
        }
        prev = it;
        have_prev = true;
        last_first = it.first;
    }
    if (key_pos != bytes.size()) {
        return Bad(u"kavo.nrs", Format(u"%u bytes after the last key", bytes.size() - key_pos));
    }
    if (!in_files) {
        *folder_records = record_count;
    }
    *name_count = n;
    return {};
}

DbStatus CheckParents(std::span<const int32_t> parent, uint32_t folder_records) {
    const size_t n = parent.size();
    for (size_t i = 0; i < n; ++i) {
        const int32_t p = parent[i];
        if (p < -1 || p >= static_cast<int64_t>(folder_records)) {
            return Bad(u"kavo.frs", Format(u"record %u has parent %d, not a folder record",
                                           static_cast<uint64_t>(i), p));
        }
    }
    // 0 unseen, 1 on the walk in progress, 2 known to reach a root.
    std::vector<uint8_t> state(n, 0);
    for (size_t i = 0; i < n; ++i) {
        int32_t r = static_cast<int32_t>(i);
        while (r >= 0 && state[static_cast<size_t>(r)] == 0) {
            state[static_cast<size_t>(r)] = 1;
            r = parent[static_cast<size_t>(r)];
        }
        if (r >= 0 && state[static_cast<size_t>(r)] == 1) {
            return Bad(u"kavo.frs", Format(u"the parents of record %u loop", r));
        }
        for (r = static_cast<int32_t>(i); r >= 0 && state[static_cast<size_t>(r)] == 1;
             r = parent[static_cast<size_t>(r)]) {
            state[static_cast<size_t>(r)] = 2;
        }
    }
    return {};
}

size_t BreakParentCycles(std::span<int32_t> parent) {
    const size_t n = parent.size();
    std::vector<uint8_t> state(n, 0);
    size_t cut = 0;
    for (size_t i = 0; i < n; ++i) {
        int32_t r = static_cast<int32_t>(i);
        int32_t last = -1;
        while (r >= 0 && static_cast<size_t>(r) < n && state[static_cast<size_t>(r)] == 0) {
            state[static_cast<size_t>(r)] = 1;
            last = r;
            r = parent[static_cast<size_t>(r)];
        }
        if (r >= 0 && static_cast<size_t>(r) < n && state[static_cast<size_t>(r)] == 1) {
            parent[static_cast<size_t>(last)] = -1;  // the step that closed the loop
            ++cut;
        } else if (r >= 0 && static_cast<size_t>(r) >= n) {
            parent[static_cast<size_t>(last)] = -1;
        }
        for (r = static_cast<int32_t>(i); r >= 0 && state[static_cast<size_t>(r)] == 1;
             r = parent[static_cast<size_t>(r)]) {
            state[static_cast<size_t>(r)] = 2;
        }
    }
    return cut;
}

std::vector<HidEntry> ParseHid(std::span<const uint8_t> bytes) {
    std::vector<HidEntry> out;
    if (bytes.size() < 4) {
        return out;
    }
    const uint64_t count = U32(bytes.data());
    const uint64_t avail = (bytes.size() - 4) / 4;
    const uint64_t n = std::min(count, avail);
    out.reserve(static_cast<size_t>(n));
    const uint8_t* idx = bytes.data() + 4;
    const uint64_t flags_at = 4 + 4 * count;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t f = flags_at + i;
        const uint8_t flag = f < bytes.size() ? bytes[static_cast<size_t>(f)] : kDeletedByProgram;
        out.push_back({static_cast<int32_t>(U32(idx + 4 * i)), flag});
    }
    return out;
}

std::vector<uint8_t> MakeHid(const std::vector<HidEntry>& entries) {
    std::vector<uint8_t> out(4 + 5 * entries.size());
    PutU32(out.data(), static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        PutU32(out.data() + 4 + 4 * i, static_cast<uint32_t>(entries[i].index));
        out[4 + 4 * entries.size() + i] = entries[i].flag;
    }
    return out;
}

}  // namespace kavo::dbformat

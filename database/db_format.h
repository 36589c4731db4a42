// The checked readers of kavo.frs, kavo.nrs and kavo.hid, shared by the record store and the
// loaded database. Nothing here reads outside the given bytes, and every value that a later
// step uses as an index is checked first.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/format.h"
#include "database/db_status.h"
#include "database/record_values.h"

namespace kavo::dbformat {

inline uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t U64(const uint8_t* p) {
    return static_cast<uint64_t>(U32(p)) | (static_cast<uint64_t>(U32(p + 4)) << 32);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline void PutU64(uint8_t* p, uint64_t v) {
    PutU32(p, static_cast<uint32_t>(v));
    PutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

constexpr size_t kHeaderBytes = 128;
constexpr size_t kDriveTableBytes = kDriveSlotCount * kSlotBytes;    // 3,328
constexpr size_t kVolumeTableBytes = kVolumeSlotCount * kSlotBytes;  // 32,768
constexpr size_t kRecordsOffset = kHeaderBytes + kDriveTableBytes;   // 3,456
constexpr size_t kRecordBytes = 20;
constexpr size_t kItemBytes = 11;

// A checked kavo.frs.
struct Frs {
    const uint8_t* header = nullptr;  // 128 bytes
    uint32_t record_count = 0;
    PackedTime database_time = 0;
    const uint8_t* drive_table = nullptr;  // 26 slots
    const uint8_t* records = nullptr;      // 20 x record_count bytes
    std::array<std::u16string, kDriveSlotCount> drive_names;
    const uint8_t* volume_table = nullptr;  // null when the file has none
};

// Checks the length against the record count and the drive-name lengths against the bytes
// left, and every parent index against the record count. An empty input is an empty
// database.
DbStatus ParseFrs(std::span<const uint8_t> bytes, Frs& out);

inline RecordKey RecordKeyAt(const Frs& f, uint32_t i) {
    return U64(f.records + kRecordBytes * i);
}
inline int32_t ParentAt(const Frs& f, uint32_t i) {
    return static_cast<int32_t>(U32(f.records + kRecordBytes * i + 8));
}
inline PackedTime TimeAt(const Frs& f, uint32_t i) {
    return U32(f.records + kRecordBytes * i + 12);
}
inline SizeCode SizeAt(const Frs& f, uint32_t i) {
    return static_cast<SizeCode>(U32(f.records + kRecordBytes * i + 16));
}

// Slot fields (the display names are read by ParseFrs).
void ReadDriveSlot(const uint8_t* p, DriveSlot& s);
void ReadVolumeSlot(const uint8_t* p, VolumeSlot& s);
// Writes the 128 bytes of a slot; a drive slot's name start and length are given.
void WriteDriveSlot(uint8_t* p, const DriveSlot& s, uint32_t name_start, uint32_t name_length);
void WriteVolumeSlot(uint8_t* p, const VolumeSlot& s);

// One checked name item of kavo.nrs.
struct NrsItem {
    NameBits bits;
    int32_t first;
    int32_t count;
    uint8_t wide;
    uint8_t length;
    uint8_t upper_count;
    const uint8_t* key;  // key bytes in the file
    uint32_t key_units;  // length + 1, or length + upper_count + 2
    uint16_t Unit(uint32_t i) const {
        return wide ? static_cast<uint16_t>(key[2 * i] | (key[2 * i + 1] << 8)) : key[i];
    }
    bool IsFolder() const { return key[0] == '1'; }
};

// Checks kavo.nrs against a record count: the item table and every key within the file;
// first indices starting at 0, rising, within the record count; keys beginning with "1" or
// "2" and in strictly rising ordinal order (so folders before files); capital positions
// within the name and introduced by 0x1F. Sets the name count, the number of folder names and
// the number of records of the folder names. Only a file that passed may be given to
// ForEachNrsItem.
DbStatus CheckNrs(std::span<const uint8_t> bytes,
                  uint32_t record_count,
                  uint32_t* name_count,
                  uint32_t* folder_names,
                  uint32_t* folder_records);

template <typename F>
void ForEachNrsItem(std::span<const uint8_t> bytes, uint32_t record_count, F&& item) {
    if (bytes.size() < 4) {
        return;
    }
    const uint32_t n = U32(bytes.data());
    const uint8_t* items = bytes.data() + 4;
    const uint8_t* key = items + static_cast<size_t>(n) * kItemBytes;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* p = items + static_cast<size_t>(i) * kItemBytes;
        NrsItem it;
        it.bits = U32(p);
        it.first = static_cast<int32_t>(U32(p + 4));
        it.wide = p[8];
        it.length = p[9];
        it.upper_count = p[10];
        it.key = key;
        it.key_units = it.upper_count == 0 ? it.length + 1u : it.length + it.upper_count + 2u;
        const int32_t next = i + 1 < n ? static_cast<int32_t>(U32(p + kItemBytes + 4))
                                       : static_cast<int32_t>(record_count);
        it.count = next - it.first;
        key += static_cast<size_t>(it.key_units) * (it.wide ? 2 : 1);
        item(it);
    }
}

// Checks that every parent index is -1 or a folder record (below folder_records) and that
// no parent chain loops.
DbStatus CheckParents(std::span<const int32_t> parent, uint32_t folder_records);
// Cuts every parent chain that loops (the record where the loop is found gets -1).
// Returns how many were cut.
size_t BreakParentCycles(std::span<int32_t> parent);

// kavo.hid as far as it goes: indices and flags (a missing flag byte counts as 1).
struct HidEntry {
    int32_t index;
    uint8_t flag;
};
std::vector<HidEntry> ParseHid(std::span<const uint8_t> bytes);
std::vector<uint8_t> MakeHid(const std::vector<HidEntry>& entries);

}  // namespace kavo::dbformat

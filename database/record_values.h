// The value forms shared by the record store, the loaded database and the database files:
// record keys, volume tags, packed times, size codes, name bits and name keys, and the
// 128-byte per-volume build state slots.
//
// Case: every lower-casing of a name goes through base/case_map.h (LowerUnit / UpperUnit),
// so a key built on one machine matches a search typed on another whatever the locale.
// Searchers lower-case their patterns with the same function and compare against the
// lower-case name text of the loaded database.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavo {

// 64-bit identity of a file or folder:
//   bits  0-31 record number (MFT record number, or a walker counter from 1,024)
//   bits 32-39 drive index (0 = A: ... 25 = Z:)
//   bits 40-47 volume number (0 = the drive's own volume, 1-255 = mounted in a folder)
//   bits 48-63 NTFS sequence number
// A parent key of 0 means "no parent" (drive roots).
using RecordKey = uint64_t;
// Bits 32-47 of a key: volume number x 256 + drive index.
using VolumeTag = uint32_t;
// Seconds since 1977-10-02 00:00:00 UTC, modulo 2^32.
using PackedTime = uint32_t;
// Bytes when 0...2^31-1; -(bytes / 1,024) from 2 GiB up; kUnknownSize; folders 0.
using SizeCode = int32_t;
// One bit per character class of a lower-cased name (see ComputeNameBits).
using NameBits = uint32_t;

constexpr RecordKey MakeRecordKey(uint32_t record_number,
                                  uint32_t drive_index,
                                  uint32_t volume_number = 0,
                                  uint32_t sequence = 0) {
    return static_cast<RecordKey>(record_number) |
           (static_cast<RecordKey>(drive_index & 0xFF) << 32) |
           (static_cast<RecordKey>(volume_number & 0xFF) << 40) |
           (static_cast<RecordKey>(sequence & 0xFFFF) << 48);
}
constexpr uint32_t RecordNumberOf(RecordKey k) {
    return static_cast<uint32_t>(k);
}
constexpr uint32_t DriveIndexOf(RecordKey k) {
    return static_cast<uint32_t>(k >> 32) & 0xFF;
}
constexpr uint32_t VolumeNumberOf(RecordKey k) {
    return static_cast<uint32_t>(k >> 40) & 0xFF;
}
constexpr uint32_t SequenceOf(RecordKey k) {
    return static_cast<uint32_t>(k >> 48) & 0xFFFF;
}
constexpr VolumeTag VolumeTagOf(RecordKey k) {
    return static_cast<uint32_t>(k >> 32) & 0xFFFF;
}
constexpr VolumeTag MakeVolumeTag(uint32_t drive_index, uint32_t volume_number) {
    return (volume_number & 0xFF) * 256 + (drive_index & 0xFF);
}

// Windows file time (100 ns since 1601) <-> PackedTime. Times before 1977-10-02 wrap
// modulo 2^32 and cannot be represented.
constexpr PackedTime FileTimeToPackedTime(uint64_t file_time) {
    return static_cast<PackedTime>(file_time / 10000000u + 995829888u);
}
constexpr uint64_t PackedTimeToFileTime(PackedTime t) {
    return (static_cast<uint64_t>(t) + 11889072000ull) * 10000000ull;
}

constexpr SizeCode kUnknownSize = 1234567890;
// The size code of a file of `bytes` bytes.
constexpr SizeCode SizeToCode(uint64_t bytes) {
    return bytes <= 0x7FFFFFFFull
               ? static_cast<SizeCode>(bytes)
               : -static_cast<SizeCode>(bytes / 1024 > 0x7FFFFFFFull ? 0x7FFFFFFFull
                                                                     : bytes / 1024);
}
// Bytes of a size code: a negative code c means -c x 1,024 bytes. kUnknownSize comes back
// as its own value (1,234,567,890), as the totals of folder sizes count it.
constexpr int64_t SizeCodeToBytes(SizeCode c) {
    return c < 0 ? -static_cast<int64_t>(c) * 1024 : static_cast<int64_t>(c);
}

// Bits of a lower-cased name (no flag unit, no suffix): for each unit u up to 0x7A,
// a-z -> 0-25, "." 26, "_" 27, "0" 28, "1" 29, "2" 30, "3" 31, any other unit bit
// ((u - 0x61) mod 32) taken as a signed difference ("4" -> 19); units above 0x7A add none.
NameBits ComputeNameBits(std::u16string_view lower_name);
// The bits one unit contributes (0 for units above 0x7A).
NameBits UnitNameBit(char16_t lower_unit);

// Longest name a record may carry; longer names are cut (the length is kept in a byte).
constexpr size_t kMaxNameLength = 255;
// Unit that separates the lower-case name from the capital positions in a name key.
constexpr char16_t kUpperMarker = 0x001F;
constexpr char16_t kFolderFlag = u'1';
constexpr char16_t kFileFlag = u'2';

// A name key and its side values.
//   key: "1" (folder) or "2" (file), the lower-cased name, and when any unit changed by
//        lower-casing: 0x001F followed by the 1-based positions of the changed units.
//   Units 0-64 and 91-127 are copied as they are; every other unit goes through LowerUnit.
struct NameKeyInfo {
    std::u16string key;
    NameBits bits = 0;
    uint8_t wide = 0;         // 1 when a unit of the lower-cased name is 0x80 or above
    uint8_t length = 0;       // name length in units (at most 255)
    uint8_t upper_count = 0;  // number of capital positions
};
NameKeyInfo MakeNameKey(std::u16string_view name, bool is_folder);

// Parts of a stored key. The lower name is key[1 .. 1 + length).
inline std::u16string_view KeyLowerName(std::u16string_view key, uint8_t length) {
    return key.size() > length ? key.substr(1, length) : std::u16string_view();
}
// The name as on disk: UpperUnit applied to the listed 1-based positions of the lower name
// (positions outside the name are ignored).
std::u16string RestoreCapitals(std::u16string_view lower_name, std::u16string_view positions);
// The name as on disk from a whole key.
std::u16string NameFromKey(std::u16string_view key, uint8_t length, uint8_t upper_count);

// Hidden marks (one byte per record): 0 shown, 255 hidden by the user (and orphans), 1 deleted
// through the program. The same values are the flag bytes of kavo.hid.
constexpr uint8_t kHiddenByUser = 255;
constexpr uint8_t kDeletedByProgram = 1;

// Per-volume build state: 26 drive slots (A: to Z:) and 256 volume slots (slot 0 never
// assigned). On disk each is 128 bytes:
//   0 u64 journal id, 8 i64 next USN, 16 u32 serial, 20 u32 build time,
//   24 u32 display name start (drive slots), 28 u32 display name length (drive slots),
//   32 u8 built, 33 37 bytes volume GUID text (volume slots), 70 u64 mount key (volume
//   slots), 78 50 zero bytes.
constexpr size_t kSlotBytes = 128;
constexpr size_t kDriveSlotCount = 26;
constexpr size_t kVolumeSlotCount = 256;
constexpr uint32_t kRemoteSerial = 0xFFFFFFFFu;

struct DriveSlot {
    uint64_t journal_id = 0;    // change journal id at the last scan, 0 = unknown
    int64_t next_usn = 0;       // next USN to read, 0 = unknown (forces a full scan)
    uint32_t serial = 0;        // volume serial at the last build; kRemoteSerial for remote
    PackedTime build_time = 0;  // end of the last build of this drive
    std::u16string display_name;
    uint8_t built = 0;  // 1 once built at least once
};

struct VolumeSlot {
    uint64_t journal_id = 0;
    int64_t next_usn = 0;
    uint32_t serial = 0;
    PackedTime build_time = 0;
    uint8_t built = 0;
    std::array<char, 37> guid{};  // ANSI text without braces, zero-terminated
    RecordKey mount_key = 0;      // folder the volume is mounted in; 0 = free slot

    bool IsFree() const { return mount_key == 0; }
    std::u16string GuidText() const;         // up to the zero byte
    void SetGuid(std::u16string_view text);  // cut to 36 characters, ASCII only
};

}  // namespace kavo

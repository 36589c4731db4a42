// Change records (USN_RECORD_V2) as FSCTL_READ_USN_JOURNAL returns them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kavo::ntfs {

inline constexpr uint32_t kUsnDataOverwrite = 0x00000001;
inline constexpr uint32_t kUsnDataExtend = 0x00000002;
inline constexpr uint32_t kUsnDataTruncation = 0x00000004;
inline constexpr uint32_t kUsnFileCreate = 0x00000100;
inline constexpr uint32_t kUsnFileDelete = 0x00000200;
inline constexpr uint32_t kUsnRenameOldName = 0x00001000;
inline constexpr uint32_t kUsnRenameNewName = 0x00002000;
inline constexpr uint32_t kUsnBasicInfoChange = 0x00008000;
inline constexpr uint32_t kUsnClose = 0x80000000;
inline constexpr uint32_t kUsnReadMask = 0xB307;
inline constexpr uint32_t kUsnMaxNameUnits = 259;
inline constexpr uint32_t kUsnHeaderSize = 60;

struct UsnRecord {
    uint32_t record_length = 0;
    uint16_t major_version = 0;
    uint16_t minor_version = 0;
    uint64_t file_reference = 0;
    uint64_t parent_reference = 0;
    int64_t usn = 0;
    int64_t time_stamp = 0;
    uint32_t reason = 0;
    uint32_t source_info = 0;
    uint32_t security_id = 0;
    uint32_t file_attributes = 0;
    // The name, still in the record's bytes (little-endian units, maybe unaligned).
    const uint8_t* name = nullptr;
    uint16_t name_units = 0;

    std::u16string Name() const;
};

// Decodes the record at `bytes` with `available` bytes left in the buffer. False when the
// record length is below the header, beyond the bytes, or the name lies outside the record
// or is longer than 259 units.
bool DecodeUsnRecord(const uint8_t* bytes, size_t available, UsnRecord* out);

// Reads bytes of a journal stream; false when they cannot be read.
using JournalReader = std::function<bool(uint64_t offset, uint8_t* out, size_t size)>;

// Fills `out` as a version-0 FSCTL_READ_USN_JOURNAL does from the stream bytes in
// [`start`, `end`): 8 bytes with the USN to continue from, then the whole version-2 records
// whose reasons meet `reason_mask`, as many as fit. Records of other versions are passed
// over; page padding and damaged records skip to the next 4 KiB page. False when `capacity`
// is below 8.
bool FillJournalOutput(const JournalReader& read,
                       uint64_t start,
                       uint64_t end,
                       uint32_t reason_mask,
                       uint8_t* out,
                       size_t capacity,
                       size_t* got);

}  // namespace kavo::ntfs

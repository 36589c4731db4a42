// Byte-level decoding of NTFS structures: the boot sector, update-sequence fixups, data
// runs, file records and their attributes. Every length, offset and count taken from the
// bytes is checked against the buffer before use; a damaged structure decodes as "nothing".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace kavo::ntfs {

inline uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;  // little-endian hosts only (x86 on both toolchains)
}
inline uint64_t Get64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline constexpr uint32_t kAttrStandardInformation = 0x10;
inline constexpr uint32_t kAttrAttributeList = 0x20;
inline constexpr uint32_t kAttrFileName = 0x30;
inline constexpr uint32_t kAttrData = 0x80;
inline constexpr uint32_t kAttrBitmap = 0xB0;
inline constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

inline constexpr uint16_t kRecordInUse = 0x0001;
inline constexpr uint16_t kRecordDirectory = 0x0002;
inline constexpr uint32_t kFileNameFolderFlag = 0x10000000;
inline constexpr uint64_t kSizeUnknown = 0xFFFFFFFF00000000ull;
inline constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;
inline constexpr uint32_t kRootRecord = 5;
inline constexpr uint32_t kFirstUserRecord = 16;

// What the boot sector says.
struct BootSector {
    uint32_t bytes_per_sector = 0;
    uint32_t cluster_size = 0;
    uint32_t record_size = 0;
    uint64_t mft_offset = 0;  // bytes
    uint64_t mft_lcn = 0;
    uint64_t total_sectors = 0;
    uint64_t serial = 0;
    uint64_t TotalClusters() const {
        return cluster_size ? total_sectors * bytes_per_sector / cluster_size : 0;
    }
};

// Decodes the first 512 bytes of a volume; nullopt when they are not an NTFS boot sector or
// give impossible sizes (sector or cluster size zero or not a power of two, records outside
// 256 bytes .. 64 KiB).
std::optional<BootSector> DecodeBootSector(const uint8_t* bytes, size_t size);

// Applies the update-sequence fixups of one record in place. Each 512-byte stride of the
// record ends with the sequence number, which is replaced by its saved word. False (and the
// buffer left unchanged) when the array lies outside the record or does not fit its size.
bool ApplyFixup(uint8_t* record, size_t size);

// One run of a non-resident attribute: `length` clusters from virtual cluster `vcn`; lcn 0
// for a sparse run.
struct DataRun {
    uint64_t vcn = 0;
    uint64_t lcn = 0;
    uint64_t length = 0;
    bool sparse = false;
};

// Decodes a run list. Runs that would lie outside the volume (`total_clusters`, 0 = no
// limit) or whose header bytes run past `size` end the list and make the result false.
bool DecodeRuns(const uint8_t* bytes,
                size_t size,
                uint64_t first_vcn,
                uint64_t total_clusters,
                std::vector<DataRun>* runs);

// One attribute seen while walking a record, its header checked against the record.
struct AttributeView {
    uint32_t type = 0;
    bool non_resident = false;
    std::u16string_view name;  // attribute name (may be unaligned data: copy before use)
    const uint8_t* name_bytes = nullptr;
    uint8_t name_length = 0;
    // Resident:
    const uint8_t* value = nullptr;
    uint32_t value_length = 0;
    // Non-resident:
    uint64_t start_vcn = 0;
    uint64_t last_vcn = 0;
    uint64_t data_size = 0;
    const uint8_t* runs = nullptr;
    size_t runs_size = 0;
    uint16_t attribute_id = 0;

    bool NameIs(std::u16string_view want) const;
};

// The header fields of a file record, checked: "FILE", first attribute and bytes in use
// within the record.
struct RecordHeader {
    uint16_t sequence = 0;
    uint16_t flags = 0;
    uint16_t first_attribute = 0;
    uint32_t bytes_in_use = 0;
    uint64_t base_reference = 0;
    uint16_t next_attribute_id = 0;
};
std::optional<RecordHeader> DecodeRecordHeader(const uint8_t* record, size_t size);

// Walks the attributes of a record from the first-attribute offset, calling
// `visit(const AttributeView&)` until it returns false, the end marker, a type above 256
// (when `stop_above_256`), `max_attributes` attributes, or a damaged header.
template <typename Visit>
void WalkAttributes(const uint8_t* record,
                    const RecordHeader& header,
                    uint32_t max_attributes,
                    bool stop_above_256,
                    Visit&& visit);

bool DecodeAttribute(const uint8_t* record,
                     uint32_t offset,
                     uint32_t end,
                     AttributeView* out,
                     uint32_t* length);

template <typename Visit>
void WalkAttributes(const uint8_t* record,
                    const RecordHeader& header,
                    uint32_t max_attributes,
                    bool stop_above_256,
                    Visit&& visit) {
    uint32_t offset = header.first_attribute;
    const uint32_t end = header.bytes_in_use;
    for (uint32_t i = 0; i < max_attributes; ++i) {
        if (offset + 8 > end)
            return;
        uint32_t type = Get32(record + offset);
        if (type == kAttrEnd || (stop_above_256 && type > 256))
            return;
        AttributeView view;
        uint32_t length = 0;
        if (!DecodeAttribute(record, offset, end, &view, &length))
            return;
        if (!visit(view))
            return;
        offset += length;
    }
}

// A decoded $FILE_NAME value.
struct FileNameView {
    uint64_t parent = 0;
    uint64_t data_size = 0;
    uint32_t flags = 0;
    uint8_t name_space = 0;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    const uint8_t* name = nullptr;
    uint8_t name_length = 0;
};
bool DecodeFileName(const AttributeView& attribute, FileNameView* out);

}  // namespace kavo::ntfs

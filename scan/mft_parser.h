// MftParser: reads a volume's master file table through its data runs in large sequential
// pieces and decodes every file record into a table of entries, one per record.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/raw_volume.h"
#include "scan/mft_record.h"

namespace kavo::ntfs {

// One entry per file record, in record-number order.
struct MftEntry {
    const char16_t* name = nullptr;  // into the parser's name pool; null when no name
    uint64_t parent = 0;             // parent record reference, sequence part cleared
    uint64_t size = kSizeUnknown;    // data size; high half 0xFFFFFFFF = unknown
    uint64_t time = 0;               // last modification (file time)
    uint32_t attributes = 0;         // $STANDARD_INFORMATION attributes | $FILE_NAME flags
    uint16_t name_length = 0;
    uint16_t flags = 0;  // record header flags
    uint16_t sequence = 0;

    bool InUse() const { return (flags & kRecordInUse) != 0; }
    bool IsFolder() const { return (flags & 3) == 3; }
    std::u16string_view Name() const { return {name, name_length}; }
};

// Where the MFT lies: the boot sector and the runs of the MFT's $DATA, gathered through its
// $ATTRIBUTE_LIST when the MFT is fragmented beyond its own record.
struct MftLayout {
    BootSector boot;
    std::vector<DataRun> runs;  // in VCN order
    uint64_t data_size = 0;
    uint32_t record_count = 0;
};

// Loads the boot sector and the MFT's own record. False when the volume is not NTFS or the
// MFT's record lacks $DATA or $BITMAP, or its runs are damaged.
bool LoadMftLayout(platform::IRawVolume& volume, MftLayout* layout);

// Reads `size` bytes at byte `offset` of a non-resident stream; sparse runs read as zeros.
// False when the range is not covered by the runs or cannot be read.
bool ReadRunBytes(platform::IRawVolume& volume,
                  const BootSector& boot,
                  const std::vector<DataRun>& runs,
                  uint64_t offset,
                  uint8_t* out,
                  size_t size);

// Reads file record `number` through `layout` with fixups applied into `buffer` (record
// size bytes). False when it lies outside the MFT, in a sparse run, or cannot be read.
bool ReadMftRecord(platform::IRawVolume& volume,
                   const MftLayout& layout,
                   uint64_t number,
                   uint8_t* buffer);

// Decodes one record (fixups applied) into `entry`: the rules of the full scan (first eight
// attributes, first name that is not DOS-only, stop when time, name and size are known).
// Returns the name found (units in the record; copy before the buffer is reused) and sets
// `*base` to the base record number of an extension record (0 otherwise).
struct DecodedName {
    const uint8_t* units = nullptr;
    uint16_t length = 0;
};
DecodedName DecodeRecord(const uint8_t* record, size_t size, MftEntry* entry, uint64_t* base);

class MftParser {
  public:
    MftParser() = default;
    MftParser(const MftParser&) = delete;
    MftParser& operator=(const MftParser&) = delete;

    // Boot sector and MFT record; returns the MFT data size, 0 on failure.
    uint64_t Load(platform::IRawVolume& volume);
    // Reads the whole MFT into the table; returns the number of records parsed.
    uint32_t Parse(platform::IRawVolume& volume);

    // Decodes an MFT already in memory (a copy of `$MFT`): `size` bytes of records of
    // `record_size` bytes, fixed up in place. Returns the number of records parsed.
    uint32_t ParseBuffer(uint8_t* bytes, size_t size, uint32_t record_size);

    const MftLayout& Layout() const { return layout_; }
    const std::vector<MftEntry>& Entries() const { return entries_; }
    uint32_t NamedRecords() const { return named_; }

  private:
    char16_t* PoolCopy(const uint8_t* units, uint16_t length);
    void DecodeInto(uint8_t* record, uint32_t index);
    void LendExtensionNames();

    MftLayout layout_;
    std::vector<MftEntry> entries_;
    uint32_t parsed_ = 0;
    uint32_t named_ = 0;
    std::vector<std::unique_ptr<char16_t[]>> pool_;
    size_t pool_used_ = 0;
    struct Extension {
        uint32_t index;
        uint64_t base;
    };
    std::vector<Extension> extensions_;
};

}  // namespace kavo::ntfs

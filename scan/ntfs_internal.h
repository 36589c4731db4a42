// Helpers shared by the NTFS full scan and the change scan.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/raw_volume.h"
#include "scan/ntfs_scan.h"

namespace kavo::ntfs {

inline constexpr int32_t kSizeCodeUnknown = 1234567890;
inline constexpr uint32_t kMaxPathUnits = 32767;

// Seconds since 1977-10-02 from a file time.
inline uint32_t PackTime(uint64_t file_time) {
    return static_cast<uint32_t>(file_time / 10000000u + 995829888u);
}
// Bytes below 2 GiB, otherwise minus the size in KiB.
inline int32_t SizeCodeOf(uint64_t size) {
    if (size < 0x80000000ull)
        return static_cast<int32_t>(size);
    uint64_t kib = size / 1024;
    if (kib > 0x7FFFFFFFull)
        kib = 0x7FFFFFFF;
    return -static_cast<int32_t>(kib);
}
// A record key: record number, volume tag, sequence.
inline uint64_t MakeKey(uint64_t record, uint32_t tag, uint16_t sequence) {
    return (record & 0xFFFFFFFFull) | (uint64_t{tag & 0xFFFF} << 32) | (uint64_t{sequence} << 48);
}
// Bits 32-47 of a file reference replaced by the volume tag.
inline uint64_t TagReference(uint64_t reference, uint32_t tag) {
    return (reference & 0xFFFF0000FFFFFFFFull) | (uint64_t{tag & 0xFFFF} << 32);
}

// The drive ("X:") or mount folder that a volume's paths begin with.
std::u16string PathRoot(const NtfsVolumeTarget& target);

// Full path of a record, read through GetFileRecord from the record up to the root. The path
// built so far when a record cannot be read; empty when the first cannot; nullopt when the
// path would exceed kMaxPathUnits or the chain does not end.
std::optional<std::u16string> PathOfRecord(platform::IRawVolume& volume,
                                           uint64_t reference,
                                           const NtfsVolumeTarget& target);

// Size code and packed time of a record for the change scan.
struct SizeAndTime {
    int32_t size = kSizeCodeUnknown;
    uint32_t time = 0;
};
SizeAndTime SizeAndTimeOfRecord(platform::IRawVolume& volume, uint64_t reference);

// Size by opening the file by its reference (record number and sequence); 0 on failure.
uint64_t SizeByReference(platform::IRawVolume& volume, uint64_t reference);

bool Interrupted();

}  // namespace kavo::ntfs

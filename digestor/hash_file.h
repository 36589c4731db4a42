// The digest files of the database folder: kavo.hash (read by the main program and the
// digest program, written by the digest program) and kavo.md5s (already known full digests,
// read only), and the sampled 32-bit partial digest.
//
// kavo.hash, little-endian: a 1024-byte header block (format version at offset 0), a 26 624-
// byte reserved block, the entry count at 27 648 and then the 36-byte entries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kavo {

inline constexpr uint32_t kHashFileVersion = 1;
inline constexpr size_t kHashHeaderBytes = 1024;
inline constexpr size_t kHashCountOffset = 27648;
inline constexpr size_t kHashEntryBytes = 36;
inline constexpr size_t kHashWriteChunkEntries = 32768;

using Md5Digest = std::array<uint8_t, 16>;

struct HashEntry {
    uint64_t key = 0;      // RecordKey
    uint32_t time = 0;     // PackedTime of the last write when hashed
    int32_t size = 0;      // SizeCode when hashed
    uint32_t partial = 0;  // 0 = none
    Md5Digest full{};      // all zero = not computed

    bool HasFullDigest() const;
    bool operator==(const HashEntry&) const = default;
};

struct HashFile {
    uint32_t version = 0;  // 0 when the file was missing or empty
    std::vector<HashEntry> entries;
};

// Reads kavo.hash. A missing or empty file gives no entries; a short file gives the entries
// that are wholly present (the count is not trusted beyond the file's length).
HashFile ReadHashFile(const std::u16string& path);

// Writes kavo.hash: the kept old entries in reverse order of their position in the previous
// file (`old_kept` is given in that file order), then the new entries in the order given.
// The file is written as path + ".tmp" and moved over the old file in one atomic step, so
// a failed write or rename leaves the previous file whole. False on failure.
bool WriteHashFile(const std::u16string& path,
                   const std::vector<HashEntry>& old_kept,
                   const std::vector<HashEntry>& new_entries);

// Reads kavo.md5s: a count, then (key low, key high, MD5) entries. Missing or empty: none.
std::unordered_map<uint64_t, Md5Digest> ReadMd5sFile(const std::u16string& path);

// The 8192-byte sample of a file of `size` bytes; `read(offset, buffer, count)` reads from
// the file and returns the number of bytes read (short reads leave zeros).
using ReadAt = std::function<size_t(uint64_t offset, uint8_t* buffer, size_t count)>;
std::array<uint8_t, 8192> PartialDigestSample(uint64_t size, const ReadAt& read);

// XXH32 over the sample followed by the low 32 bits of the size, seeded with that value;
// 0 for an empty file.
uint32_t PartialDigest(uint64_t size, const ReadAt& read);
uint32_t PartialDigestOfBytes(const uint8_t* data, size_t size);

}  // namespace kavo

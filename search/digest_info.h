// Digest keys and duplicate counts per record, read from kavo.hash: the data behind the
// /hash: and /dup: conditions, the HASH and DCNT sort keys and the hash columns.
//
// Digest key of a record: 0 when it has no entry or no partial digest; the entry's position
// in the file when it has a partial digest only; 0xF0000000 + g when its full digest is
// shared (g numbers the shared digests from 1 in order of first appearance); record index +
// entry count when its full digest occurs once. Duplicate count: the number of records with
// the same full digest when that is 2 or more, else 0.
//
// Readers treat an absent object or empty arrays as all zero. The information is replaced
// only while no search runs, so searches read it without locks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "database/record_values.h"

namespace kavo {

inline constexpr uint32_t kSharedDigestBase = 0xF0000000u;
inline constexpr char16_t kHashFileName[] = u"kavo.hash";
inline constexpr char16_t kMd5sFileName[] = u"kavo.md5s";

class DigestInformation {
  public:
    // Fills both arrays for the records with `keys` (indexed by record) from the digest file
    // at `hash_path`. With no records nothing is allocated.
    void Load(std::span<const RecordKey> keys, const std::u16string& hash_path);
    void Free();

    uint32_t DigestKey(int32_t record) const {
        return static_cast<size_t>(record) < digest_keys_.size()
                   ? digest_keys_[static_cast<size_t>(record)]
                   : 0;
    }
    uint16_t DuplicateCount(int32_t record) const {
        return static_cast<size_t>(record) < duplicate_counts_.size()
                   ? duplicate_counts_[static_cast<size_t>(record)]
                   : 0;
    }
    bool HasData() const { return !digest_keys_.empty(); }

  private:
    std::vector<uint32_t> digest_keys_;
    std::vector<uint16_t> duplicate_counts_;
};

// The process's digest information, absent until first loaded. The database whose keys it
// covers and the database folder are given by the caller.
DigestInformation* CurrentDigestInformation();
void LoadDigestInformation(std::span<const RecordKey> keys, const std::u16string& database_folder);
// Drops and loads again, when present.
void ReloadDigestInformation(std::span<const RecordKey> keys,
                             const std::u16string& database_folder);
void FreeDigestInformation();

}  // namespace kavo

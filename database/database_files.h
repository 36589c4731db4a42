// The database files of the build side: loading kavo.frs and kavo.nrs into a RecordStore
// and saving the store back (with kavo.hid renumbered), and the format version reader.
// The search side loads the same files through LoadedDatabase::Load.
//
// Byte layout (little-endian):
//   kavo.frs  128-byte header (u32 format stamp 1,024 = "4.0.0", u32 record count,
//             u32 database time, 116 bytes carried over), 26 drive slots of 128 bytes,
//             20 bytes a record (u32 key low, u32 key high, i32 parent index, u32 time,
//             i32 size), the drive display names (UTF-16, no terminators), then 256 volume
//             slots of 128 bytes (files of the earlier format end after the names).
//   kavo.nrs  u32 name count, 11 bytes a name (u32 bits, i32 first record, u8 wide,
//             u8 length, u8 upper count), then the keys back to back, 2 bytes a unit when
//             wide, else 1.
//   kavo.hid  u32 count, i32 record indices, one flag byte each (255 hidden, 1 deleted).
//
// Every file is replaced in one atomic step (written to .tmp, then moved onto the old file),
// so at every moment either the old or the new file is in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "database/db_status.h"
#include "database/record_store.h"

namespace kavo {

inline constexpr char16_t kFrsFileName[] = u"kavo.frs";
inline constexpr char16_t kNrsFileName[] = u"kavo.nrs";
inline constexpr char16_t kHidFileName[] = u"kavo.hid";
constexpr uint32_t kFormatStamp = 1024;  // version 4.0.0
constexpr size_t kFrsHeaderBytes = 128;
constexpr size_t kFrsRecordBytes = 20;
constexpr size_t kNrsItemBytes = 11;
constexpr size_t kKeyBufferBytes = 16u << 20;

// Loads `folder`'s kavo.frs and kavo.nrs into an empty store, with the status lines
// ("Loading file records..", "File records loaded (%d ms)\n", "Loading name records..",
// "Name records loaded (%d ms)") and the build log lines ("Openning database..",
// "Database opened."). Missing files are created empty (kMissing). Damaged files leave the
// store empty (kDamaged with the reason); the store is marked loaded in every case, so that
// a save writes a fresh database.
DbStatus LoadRecordStore(const std::u16string& folder, RecordStore& store);
// The same from file contents (null = missing), without files, messages or timing.
DbStatus LoadRecordStoreFromBytes(RecordStore& store,
                                  const std::vector<uint8_t>* frs,
                                  const std::vector<uint8_t>* nrs);

// Saves the store into the folder it was loaded from: kavo.nrs, kavo.frs, then kavo.hid
// renumbered (flag-255 entries follow their records to the new indices; flag-1 entries and
// entries of removed records are dropped). `stamp_time`: the build covered all local
// drives, so the header gets the current time as database time; otherwise the previous
// value is kept. Does nothing (returns false) when the store was never loaded or a save has
// already started; safe against a concurrent second call. Prints "Dump name records: %d ms\n"
// and "Dump file records. (%d ms)\n". False also when a file could not be written (the old
// file then stays in place).
bool SaveRecordStore(RecordStore& store, bool stamp_time);
// The same with the database time given (for tests).
bool SaveRecordStoreAt(RecordStore& store, bool stamp_time, PackedTime now);

// "%d.%d.%d" of bytes 1-3 of the first four bytes of kavo.frs in `folder`; empty when the
// file cannot be opened or is shorter than 4 bytes.
std::u16string ReadFormatVersion(const std::u16string& folder);

}  // namespace kavo

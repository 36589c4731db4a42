// The build-side form of the database: a mutable store of file records, with every distinct
// name held once under its name key, and a directory index of folders only.
//
// One store exists in a build or clean process. It is loaded from the database files
// (database/database_files.h: LoadRecordStore), changed by the scan listener through the
// operations below, and saved once (SaveRecordStore). Only the build's main thread changes
// it; the Ctrl-C handler may save it from its own thread (see database/open_database.h).
//
// Records are found by key only through their name: update, remove and rename take the
// entry's name (and folder flag) to find the name record, then the key within its list.
// Folders can also be found by key in the directory index (FindFolder).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "database/record_values.h"
#include "scan/kv_listener.h"

namespace kavo {

struct FileRecord {
    RecordKey key = 0;
    RecordKey parent_key = 0;  // 0 for drive roots
    int32_t index = -1;        // position in the saved order (set at load, renumbered at save)
    PackedTime time = 0;
    SizeCode size = 0;
};

// One distinct name key and the records that bear it, in the order they were added.
struct NameRecord {
    NameBits bits = 0;
    uint8_t wide = 0;
    uint8_t length = 0;
    uint8_t upper_count = 0;
    std::vector<uint32_t> records;  // slots in the store's record pool
};

class RecordStore {
  public:
    // Ordered by UTF-16 code unit (ordinal): all folders ("1...") before all files ("2...").
    using NameMap = std::map<std::u16string, NameRecord, std::less<>>;

    RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Files a new record under the entry's name; folders also go into the directory index.
    // No check for an existing record with the same key is made.
    void AddRecord(const ScanEntry& entry);
    // Sets time and size of the record with the entry's key under the entry's name.
    // False when there is no such record.
    bool UpdateRecord(const ScanEntry& entry);
    // Removes the record filed under `old_name` (with the entry's folder flag), then adds the
    // entry as a new record. Returns whether the old record was found (it is added anyway).
    bool RenameRecord(const ScanEntry& entry, std::u16string_view old_name);
    // Removes the record with the entry's key from the entry's name. False when not found.
    // A name left without records stays in the map and is skipped when saving.
    bool RemoveRecord(const ScanEntry& entry);
    // Volume number 0: every record of the drive (its own volume and every volume mounted in
    // it); 1-255: the records whose VolumeTag is volume number x 256 + drive index.
    // `drive_letter` is "A".."Z" (lower case accepted). Returns the number removed.
    int32_t RemoveVolumeRecords(char16_t drive_letter, uint32_t volume_number);
    // The volume slot (1-255) whose mount key equals `mount_key`, else the first free slot,
    // which then takes the key; 0 when all 255 slots are taken.
    uint32_t GetVolumeNumber(RecordKey mount_key);
    // Slot numbers of the used volume slots whose mount key is on drive `drive_index`.
    std::vector<uint32_t> VolumesOfDrive(uint32_t drive_index) const;

    int32_t RecordCount() const { return record_count_; }
    // The folder record with this key, or null.
    const FileRecord* FindFolder(RecordKey key) const;
    // Calls fn(name key, name record, file record) for every record, in name key order and
    // list order (the order of the next save).
    void ForEachRecord(
        const std::function<void(std::u16string_view, const NameRecord&, const FileRecord&)>& fn)
        const;

    // Every name key with its records (empty name records included until the next save).
    const NameMap& Names() const { return names_; }

    DriveSlot& Drive(uint32_t drive_index) { return drives_[drive_index % kDriveSlotCount]; }
    const DriveSlot& Drive(uint32_t drive_index) const {
        return drives_[drive_index % kDriveSlotCount];
    }
    VolumeSlot& Volume(uint32_t slot) { return volumes_[slot % kVolumeSlotCount]; }
    const VolumeSlot& Volume(uint32_t slot) const { return volumes_[slot % kVolumeSlotCount]; }

    // Set by a load (also when the files were missing or damaged and the store stayed empty).
    bool IsLoaded() const { return loaded_; }
    // The 128-byte header as loaded (its unused bytes are carried over by a save).
    std::array<uint8_t, 128>& Header() { return header_; }
    PackedTime DatabaseTime() const;
    // A save has started (only the first save of a store does anything).
    bool SaveStarted() const { return saved_.load(); }

    // Removes every record and name and clears both tables (the store stays loaded or not).
    void Clear();

    // The loader and saver of the database files reach the internals through this class.
    friend class RecordStoreAccess;

  private:
    uint32_t NewSlot(const FileRecord& r);
    void FreeSlot(uint32_t slot);
    void IndexFolder(uint32_t slot);

    int32_t record_count_ = 0;
    std::vector<FileRecord> pool_;
    std::vector<uint32_t> free_slots_;
    std::unordered_map<RecordKey, uint32_t> directory_;
    NameMap names_;
    bool loaded_ = false;
    std::atomic<bool> saved_{false};
    std::u16string folder_;
    std::array<uint8_t, 128> header_{};
    std::array<DriveSlot, kDriveSlotCount> drives_;
    std::array<VolumeSlot, kVolumeSlotCount> volumes_;
    // Records as loaded: slot i held the record of old index i; a gone mark is set when such
    // a record is removed, so the hidden list never follows a stale index to another record.
    int32_t loaded_count_ = 0;
    std::vector<bool> loaded_gone_;
};

}  // namespace kavo

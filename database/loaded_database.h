// The search-side form of the database: read-only flat arrays loaded from kavo.frs,
// kavo.nrs and kavo.hid, used by the search engine, the main window and the web service.
// The owner (main window or web subcommand) holds one instance through a unique_ptr and
// replaces it by a fresh load when a build has finished.
//
// Layout (what the search engine scans):
//   - Records 0 ... RecordCount()-1 in saved order. Folders come first: records
//     0 ... FolderRecordCount()-1 are all folders, the rest files.
//   - Name entries 0 ... NameCount()-1 in name key order (ordinal), folder names first
//     (0 ... FolderNameCount()-1). The records of entry n are Entry(n).first ...
//     Entry(n).first + Entry(n).count - 1, consecutive and in this order over all entries.
//   - All names sit in one UTF-16 text array (NameText()). Entry(n).text is the offset of
//     its flag unit ("1" folder, "2" file); the lower-case name follows it, then one zero
//     unit, then the upper_count 1-based capital positions (one unit each):
//         [flag][lower name: length units][0][positions: upper_count units]
//     So LowerNameZ(n) is a zero-terminated lower-case name, and the text of consecutive
//     entries is contiguous.
//   - Hidden marks: one byte per record, 0 shown, 255 hidden by the user (and orphans), 1
//     deleted through the program. Searches leave out every record whose mark is not 0
//     unless the query asks for hidden items. Marks may change (SetHidden / Unhide on the UI
//     thread) while other threads read them; they are relaxed atomics.
//
// Thread safety: after Load everything is read-only except the hidden marks. The lazily
// built arrays (folder sizes, folder file counts, folder path order) are built once, by
// whichever thread first asks, under std::call_once; any thread may ask.
//
// The loaders check the files before they use them (record count against the length,
// name items' first indices rising and in range, keys within the file, in ordinal order,
// starting "1" or "2", folders before files, capital positions within the name, parents -1
// or folder records, no parent cycles). A pair that fails gives DbStatus::kDamaged and an
// empty database. A bad kavo.hid never costs the database: it is read as far as it goes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "database/db_status.h"
#include "database/record_values.h"

namespace kavo {

// Paths are built in a buffer of this many units (at most one less are kept).
constexpr size_t kPathBufferUnits = 512;
// Depth of an ancestor chain buffer.
constexpr size_t kMaxChainDepth = 256;

struct NameEntry {
    uint32_t text = 0;   // offset of the flag unit in NameText()
    NameBits bits = 0;   // of the lower-case name
    int32_t first = 0;   // first record
    int32_t count = 0;   // number of records
    uint8_t length = 0;  // name length in units
    uint8_t upper_count = 0;
    uint8_t wide = 0;  // a unit of the lower-case name is 0x80 or above
    uint8_t is_folder = 0;
};
static_assert(sizeof(NameEntry) == 20);

class LoadedDatabase {
  public:
    // Loads kavo.frs, kavo.nrs and kavo.hid from `folder` (ending with a backslash). Always
    // returns a database; it is empty when the files are missing (kMissing) or damaged
    // (kDamaged, with the reason). `status` may be null.
    static std::unique_ptr<LoadedDatabase> Load(const std::u16string& folder,
                                                DbStatus* status = nullptr);
    // The same from file contents; a null pointer stands for a missing file.
    static std::unique_ptr<LoadedDatabase> LoadFromBytes(const std::vector<uint8_t>* frs,
                                                         const std::vector<uint8_t>* nrs,
                                                         const std::vector<uint8_t>* hid,
                                                         DbStatus* status = nullptr);
    // An empty database.
    LoadedDatabase();
    ~LoadedDatabase();
    LoadedDatabase(const LoadedDatabase&) = delete;
    LoadedDatabase& operator=(const LoadedDatabase&) = delete;

    // --- counts ----------------------------------------------------------------------------
    int32_t RecordCount() const { return record_count_; }
    int32_t FolderRecordCount() const { return folder_record_count_; }
    int32_t NameCount() const { return static_cast<int32_t>(entries_.size()); }
    int32_t FolderNameCount() const { return folder_name_count_; }
    bool IsFolder(int32_t record) const { return record < folder_record_count_; }

    // --- name entries ----------------------------------------------------------------------
    const NameEntry& Entry(int32_t n) const { return entries_[static_cast<size_t>(n)]; }
    std::span<const NameEntry> Entries() const { return entries_; }
    const char16_t* NameText() const { return text_.data(); }
    std::u16string_view LowerName(int32_t n) const {
        const NameEntry& e = Entry(n);
        return {text_.data() + e.text + 1, e.length};
    }
    const char16_t* LowerNameZ(int32_t n) const { return text_.data() + Entry(n).text + 1; }
    std::u16string_view UpperPositions(int32_t n) const {
        const NameEntry& e = Entry(n);
        return {text_.data() + e.text + 2 + e.length, e.upper_count};
    }
    // The name as on disk.
    std::u16string EntryName(int32_t n) const;

    // --- records ---------------------------------------------------------------------------
    int32_t Parent(int32_t r) const { return parent_[static_cast<size_t>(r)]; }  // -1 = none
    PackedTime Time(int32_t r) const { return time_[static_cast<size_t>(r)]; }
    SizeCode Size(int32_t r) const { return size_[static_cast<size_t>(r)]; }
    uint8_t DriveIndex(int32_t r) const { return drive_[static_cast<size_t>(r)]; }
    RecordKey Key(int32_t r) const { return key_[static_cast<size_t>(r)]; }
    int32_t NameEntryOf(int32_t r) const { return name_of_[static_cast<size_t>(r)]; }
    std::span<const int32_t> Parents() const { return parent_; }
    std::span<const PackedTime> Times() const { return time_; }
    std::span<const SizeCode> Sizes() const { return size_; }
    std::span<const uint8_t> DriveIndices() const { return drive_; }
    std::span<const RecordKey> Keys() const { return key_; }
    std::span<const int32_t> NameEntryIndices() const { return name_of_; }

    // The record's name as on disk.
    std::u16string NameOfRecord(int32_t r) const { return EntryName(NameEntryOf(r)); }
    std::u16string_view LowerNameOfRecord(int32_t r) const { return LowerName(NameEntryOf(r)); }
    // Full path with the capitals restored ("C:\Users\Ann\notes.txt"), built backwards in a
    // 512-unit buffer: when the next ancestor does not fit, the partial path built so far
    // (the tail) is returned. `folder_slash` ends a folder's path with "\". A drive root
    // alone is "C:" (or "C:\" with folder_slash).
    std::u16string PathOfRecord(int32_t r, bool folder_slash = false) const;
    // The same in lower case, for matching; a folder's path always ends with "\".
    std::u16string LowerPathOfRecord(int32_t r) const;
    // The top ancestor (the drive root, or the top of an orphaned branch).
    int32_t RootOfRecord(int32_t r) const;
    // Files: the lower-case text after the last "." of the name; folders and names without
    // "." have none (empty).
    std::u16string_view ExtensionOfRecord(int32_t r) const;

    // --- ancestors, path order, folder totals ---------------------------------------------
    // Fills `chain` with the name-entry indices of the record and its ancestors, root first,
    // and returns how many. Deeper than kMaxChainDepth: the kMaxChainDepth levels nearest
    // the root are kept (the record's own entry is then missing from the end).
    size_t AncestorChain(int32_t r, std::array<int32_t, kMaxChainDepth>& chain) const;
    // Order by folder path: compares the parents' ancestor chains element by element, then by
    // length (a record without parent has the empty chain). <0, 0, >0. Constant time after
    // a one-time setup (one 32-bit rank per folder).
    int CompareFolderPaths(int32_t a, int32_t b) const;
    // Sum of the sizes in bytes of every file below the folder (negative codes count as
    // -c x 1,024); 0 for files. Built for all folders on first use.
    int64_t FolderSize(int32_t folder) const;
    // The same totals for every folder record at once (index = folder record).
    std::span<const int64_t> FolderSizes() const;
    // Number of files below the folder; 0 for files.
    uint32_t FolderFileCount(int32_t folder) const;

    // --- hidden marks ----------------------------------------------------------------------
    uint8_t HiddenMark(int32_t r) const {
        return hidden_[static_cast<size_t>(r)].load(std::memory_order_relaxed);
    }
    bool IsHidden(int32_t r) const { return HiddenMark(r) != 0; }
    // Sets the mark (kHiddenByUser or kDeletedByProgram) on the record and, for a folder, on
    // everything below it.
    void SetHidden(int32_t r, uint8_t mark);
    // Clears the mark of this one record; records below a folder keep theirs.
    void Unhide(int32_t r);
    // Writes kavo.hid into `folder` with every record whose mark is not 0, through a .tmp file
    // replaced in one step; with none, nothing is written. False on a write failure.
    bool SaveHiddenList(const std::u16string& folder) const;

    // --- drives, time ----------------------------------------------------------------------
    const DriveSlot& Drive(uint32_t drive_index) const {
        return drives_[drive_index % kDriveSlotCount];
    }
    // The display name kept for drive `letter` ("C" or "c"); empty when none.
    const std::u16string& DriveDisplayName(char16_t letter) const;
    PackedTime DatabaseTime() const { return database_time_; }

    // --- lookups ---------------------------------------------------------------------------
    // The record of a path ("C:\Windows\System32", case-insensitive, a trailing "\"
    // allowed): each component is looked up among the folder name entries (binary search)
    // and the record whose parent is the previous component's record is taken. With
    // `files_too` the last component may also be a file. -1 when not found.
    int32_t RecordOfPath(std::u16string_view path, bool files_too = false) const;
    // Name entries whose lower-case name equals `lower_name`, as a range [first, last) of
    // entry indices, among folders or files.
    std::pair<int32_t, int32_t> FindNameEntries(std::u16string_view lower_name, bool folders) const;

    // --- memory ----------------------------------------------------------------------------
    // Bytes held, without the name text; and the name text alone.
    size_t ResidentBytesWithoutNames() const;
    size_t NameTextBytes() const { return text_.capacity() * sizeof(char16_t); }

  private:
    friend class LoadedDatabaseLoader;

    void BuildFolderTotals() const;
    void BuildFolderRanks() const;

    int32_t record_count_ = 0;
    int32_t folder_record_count_ = 0;
    int32_t folder_name_count_ = 0;
    PackedTime database_time_ = 0;
    std::vector<int32_t> parent_;
    std::vector<PackedTime> time_;
    std::vector<SizeCode> size_;
    std::vector<uint8_t> drive_;
    std::vector<RecordKey> key_;
    std::vector<int32_t> name_of_;
    std::unique_ptr<std::atomic<uint8_t>[]> hidden_;
    std::vector<NameEntry> entries_;
    std::vector<char16_t> text_;
    std::array<DriveSlot, kDriveSlotCount> drives_;

    mutable std::once_flag totals_once_;
    mutable std::vector<int64_t> folder_sizes_;
    mutable std::vector<uint32_t> folder_files_;
    mutable std::once_flag ranks_once_;
    mutable std::vector<uint32_t> folder_ranks_;
};

// Both kavo.frs and kavo.nrs exist in `folder`.
bool DatabasePresent(const std::u16string& folder);
// At least one of them exists.
bool AnyDatabaseFilePresent(const std::u16string& folder);

}  // namespace kavo

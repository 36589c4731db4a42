// What every scanner (MFT reader, change journal, directory walker) hands to the database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavo {

// One item found by a scanner.
struct ScanEntry {
    uint64_t key = 0;          // RecordKey of the item
    uint64_t parent_key = 0;   // RecordKey of its folder, 0 for a drive root
    uint32_t time = 0;         // PackedTime of the last write
    int32_t size = 0;          // SizeCode; 0 for folders
    uint8_t is_folder = 0;     // 1 for a folder
    std::u16string_view name;  // the item's name ("X:" for a drive root), at most 255 units
};

// The scan listener. Operations in slot order; slots 0 and 4 are reserved and do nothing.
class IKvListener {
  public:
    virtual ~IKvListener() = default;
    virtual void Reserved0(uintptr_t) {}
    virtual void OnDriveBuilt(char16_t drive_letter) = 0;
    virtual void OnIgnoredFolder(std::u16string_view folder_path) = 0;
    virtual void OnRemoveVolume(char16_t drive_letter, uint32_t volume_number) = 0;
    virtual void Reserved4(uintptr_t, uintptr_t) {}
    virtual void OnFileAdded(const ScanEntry& entry) = 0;
    // With an old name the item was renamed (and perhaps moved); without, it changed.
    virtual void OnFileChanged(const ScanEntry& entry,
                               std::optional<std::u16string_view> old_name) = 0;
    virtual void OnFileRemoved(const ScanEntry& entry) = 0;
};

}  // namespace kavo

#include "build/kv_to_db_listener.h"

#include "platform/system.h"

namespace kavo {

void CKvToDbListener::OnDriveBuilt(char16_t drive_letter) {
    if (drive_letter < u'A' || drive_letter > u'Z') {
        return;
    }
    DriveSlot& slot = store_.Drive(static_cast<uint32_t>(drive_letter - u'A'));
    slot.build_time = FileTimeToPackedTime(platform::NowFileTime());
    slot.built = 1;
}

void CKvToDbListener::OnIgnoredFolder(std::u16string_view folder_path) {
    ignored_.emplace_back(folder_path);
}

void CKvToDbListener::OnRemoveVolume(char16_t drive_letter, uint32_t volume_number) {
    store_.RemoveVolumeRecords(drive_letter, volume_number);
}

void CKvToDbListener::OnFileAdded(const ScanEntry& entry) {
    store_.AddRecord(entry);
}

void CKvToDbListener::OnFileChanged(const ScanEntry& entry,
                                    std::optional<std::u16string_view> old_name) {
    if (old_name) {
        store_.RenameRecord(entry, *old_name);
    } else {
        store_.UpdateRecord(entry);
    }
}

void CKvToDbListener::OnFileRemoved(const ScanEntry& entry) {
    store_.RemoveRecord(entry);
}

}  // namespace kavo

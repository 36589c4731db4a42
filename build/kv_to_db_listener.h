// The scan listener of a build: applies what the scanners report to the record store and
// keeps the folders reported as ignored (they go into KavoIgnoreFolders after the build).
// One instance per drive being built.
#pragma once

#include <string>
#include <vector>

#include "database/record_store.h"
#include "scan/kv_listener.h"

namespace kavo {

class CKvToDbListener final : public IKvListener {
  public:
    explicit CKvToDbListener(RecordStore& store) : store_(store) {}

    // Sets the drive slot's build time to now and its built flag.
    void OnDriveBuilt(char16_t drive_letter) override;
    void OnIgnoredFolder(std::u16string_view folder_path) override;
    void OnRemoveVolume(char16_t drive_letter, uint32_t volume_number) override;
    void OnFileAdded(const ScanEntry& entry) override;
    // With an old name the record is renamed (moved to the new name); without, its time and
    // size are updated.
    void OnFileChanged(const ScanEntry& entry,
                       std::optional<std::u16string_view> old_name) override;
    void OnFileRemoved(const ScanEntry& entry) override;

    const std::vector<std::u16string>& IgnoredFolders() const { return ignored_; }

  private:
    RecordStore& store_;
    std::vector<std::u16string> ignored_;
};

}  // namespace kavo

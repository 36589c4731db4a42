// Building one drive: the serial check, the choice between the NTFS scanners and the
// directory walker, the volumes mounted in the drive's folders and the drive slot's state.
//
// Which route a drive takes, and why, is always written to the build log:
//   NTFS, stored journal position valid      -> change journal only
//   NTFS, no valid position                  -> full MFT scan, then the journal
//   not NTFS (FAT, CD-ROM, network drive)    -> folder walk
//   reports NTFS but the raw volume cannot be opened, does not read as NTFS, or its MFT
//   cannot be loaded                         -> folder walk without ignore rules; the
//        journal state of the drive and of its mounted volumes is cleared, so that a later
//        build that can read the volume raw starts with a full scan
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "database/record_store.h"
#include "scan/ntfs_scan.h"
#include "scan/volume_inventory.h"
#include "scan/walker.h"

namespace kavo::build {

// What building a drive asks of the machine; SystemVolumeAccess() is the real one.
class IVolumeAccess {
  public:
    virtual ~IVolumeAccess() = default;
    virtual scan::IDriveQueries& Drives() = 0;
    virtual std::u16string DisplayName(char16_t letter) = 0;
    virtual std::vector<scan::MountPoint> MountPoints(char16_t letter) = 0;
    virtual uint64_t MountKey(const std::u16string& folder, uint32_t drive_index) = 0;
    virtual NtfsScanResult ScanNtfs(const std::u16string& device_path,
                                    const NtfsVolumeTarget& target,
                                    IKvListener& listener,
                                    const IIgnoreRules& rules,
                                    JournalState* state) = 0;
    virtual scan::WalkStats Walk(char16_t letter, IKvListener& listener) = 0;
};

IVolumeAccess& SystemVolumeAccess();

struct DriveBuildResult {
    bool built = false;  // false when the drive was cancelled (no serial number)
    std::vector<std::u16string> ignored_folders;
};

// Builds drive `letter` into `store` with the given ignore rules. Writes BuildingDrive to
// the settings file at `settings_path` while it runs.
DriveBuildResult BuildOneDrive(char16_t letter,
                               RecordStore& store,
                               const IIgnoreRules& rules,
                               IVolumeAccess& access,
                               const std::u16string& settings_path);

}  // namespace kavo::build

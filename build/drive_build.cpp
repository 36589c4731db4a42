#include "build/drive_build.h"

#include <algorithm>

#include "build/build_platform.h"
#include "build/kv_to_db_listener.h"
#include "main/process.h"
#include "main/status_out.h"
#include "platform/system.h"
#include "settings/settings.h"

namespace kavo::build {

namespace {

class SystemAccess final : public IVolumeAccess {
  public:
    scan::IDriveQueries& Drives() override { return scan::SystemDriveQueries(); }
    std::u16string DisplayName(char16_t letter) override { return scan::DriveDisplayName(letter); }
    std::vector<scan::MountPoint> MountPoints(char16_t letter) override {
        return scan::MountPointsOfDrive(letter);
    }
    uint64_t MountKey(const std::u16string& folder, uint32_t drive_index) override {
        return scan::MountKeyOf(folder, drive_index);
    }
    NtfsScanResult ScanNtfs(const std::u16string& device_path,
                            const NtfsVolumeTarget& target,
                            IKvListener& listener,
                            const IIgnoreRules& rules,
                            JournalState* state) override {
        return ScanNtfsVolume(device_path, target, listener, rules, state);
    }
    scan::WalkStats Walk(char16_t letter, IKvListener& listener) override {
        scan::WalkOptions options;
        options.mode = Process().vista_or_later ? scan::ListingMode::kBasicLargeFetch
                                                : scan::ListingMode::kStandard;
        options.interrupted = &Process().interrupted;
        return scan::WalkVolume(letter, listener, options);
    }
};

const char16_t* FullScanReason(const JournalState& stored) {
    return stored.next_usn == 0 ? u"no journal position is stored"
                                : u"the stored journal position does not fit the volume's "
                                  u"journal, or the volume has no usable journal";
}

// Logs the route of an NTFS scan that reached the volume; true when it read the volume.
bool LogNtfsRoute(NtfsScanResult result, const JournalState& stored) {
    switch (result) {
        case NtfsScanResult::kChangesOnly:
            BuildLog(u"Route: change journal (the stored journal position is valid)");
            return true;
        case NtfsScanResult::kFullScan:
            BuildLog(u"Route: full MFT scan (%s)", FullScanReason(stored));
            return true;
        case NtfsScanResult::kQueryFailed:
            BuildLog(
                u"Route: none, the volume's records are kept (its change journal could "
                u"not be queried)");
            return true;
        default:
            return false;
    }
}

const char16_t* WalkReason(NtfsScanResult result) {
    switch (result) {
        case NtfsScanResult::kOpenFailed:
            return u"its raw volume could not be opened";
        case NtfsScanResult::kNotNtfs:
            return u"its raw volume does not read as NTFS";
        default:
            return u"its master file table could not be read";
    }
}

std::u16string NonNtfsReason(char16_t letter, scan::IDriveQueries& drives) {
    const uint32_t type = drives.DriveType(letter);
    if (type == scan::kDriveRemote) {
        return u"a network drive";
    }
    if (type == scan::kDriveCdrom) {
        return u"a CD-ROM drive";
    }
    const std::optional<scan::VolumeInformation> info = drives.VolumeInfo(letter);
    if (!info || info->file_system.empty()) {
        return u"the file system is unknown";
    }
    return u"the file system is " + info->file_system;
}

bool SameGuid(const VolumeSlot& slot, const std::u16string& guid) {
    // The slot holds at most 36 characters; compare what it can hold.
    VolumeSlot probe;
    probe.SetGuid(guid);
    return probe.guid == slot.guid;
}

void ScanMountedVolumes(char16_t letter,
                        uint32_t drive_index,
                        RecordStore& store,
                        CKvToDbListener& listener,
                        const IIgnoreRules& rules,
                        IVolumeAccess& access,
                        bool force_full) {
    std::vector<uint32_t> known = store.VolumesOfDrive(drive_index);
    for (const scan::MountPoint& mount : access.MountPoints(letter)) {
        const uint64_t key = access.MountKey(mount.folder, drive_index);
        const uint32_t number = store.GetVolumeNumber(key);
        known.erase(std::remove(known.begin(), known.end(), number), known.end());
        if (number == 0) {
            BuildLog(u"Mounted volume %s skipped: all volume slots are taken", mount.folder);
            continue;
        }
        VolumeSlot& slot = store.Volume(number);
        if (!SameGuid(slot, mount.guid)) {
            slot.SetGuid(mount.guid);
            slot.journal_id = 0;
            slot.next_usn = 0;
        }
        NtfsVolumeTarget target;
        target.drive_letter = letter;
        target.volume_number = number;
        target.mount_key = key;
        target.mount_folder = mount.folder;
        while (!target.mount_folder.empty() && target.mount_folder.back() == u'\\') {
            target.mount_folder.pop_back();
        }
        // The drive's own full scan removed the records of every volume mounted in it, so
        // such a volume must be scanned in full too.
        JournalState state{slot.journal_id,
                           store.RecordCount() == 0 || force_full ? 0 : slot.next_usn};
        const JournalState stored = state;
        BuildLog(u"Mounted volume %s (volume %d)", mount.folder, number);
        const NtfsScanResult result =
            access.ScanNtfs(scan::VolumeDevicePath(mount.guid), target, listener, rules, &state);
        if (!LogNtfsRoute(result, stored)) {
            BuildLog(u"Route: none, the volume's records are kept (%s)", WalkReason(result));
            if (result == NtfsScanResult::kMftFailed) {
                state = JournalState{};
            } else {
                continue;
            }
        }
        slot.journal_id = state.journal_id;
        slot.next_usn = state.next_usn;
    }
    // Volumes that are no longer mounted lose their records and their slot.
    for (uint32_t number : known) {
        store.RemoveVolumeRecords(letter, number);
        store.Volume(number) = VolumeSlot{};
    }
}

void ClearJournalStates(RecordStore& store, uint32_t drive_index) {
    DriveSlot& drive = store.Drive(drive_index);
    drive.journal_id = 0;
    drive.next_usn = 0;
    for (uint32_t number : store.VolumesOfDrive(drive_index)) {
        store.Volume(number).journal_id = 0;
        store.Volume(number).next_usn = 0;
    }
}

}  // namespace

IVolumeAccess& SystemVolumeAccess() {
    static SystemAccess access;
    return access;
}

DriveBuildResult BuildOneDrive(char16_t letter,
                               RecordStore& store,
                               const IIgnoreRules& rules,
                               IVolumeAccess& access,
                               const std::u16string& settings_path) {
    DriveBuildResult result;
    const Settings settings(settings_path);
    settings.Set(settings::kBuildingDrive, std::u16string(1, letter));
    BuildLog(u"--\nBuilding drive %c", letter);
    StatusOut(u"Building kavo for drive %c ...", letter);
    const uint32_t start = TickCount();
    const uint32_t drive_index = static_cast<uint32_t>(letter - u'A');

    scan::IDriveQueries& drives = access.Drives();
    const std::optional<scan::VolumeInformation> info = drives.VolumeInfo(letter);
    const bool remote = drives.DriveType(letter) == scan::kDriveRemote;
    if ((info && info->serial == 0) || (!info && !remote)) {
        BuildLog(u"Error getting drive serial number: %c, build canceled.", letter);
        settings.Set(settings::kBuildingDrive, u"");
        return result;
    }
    const uint32_t serial = info ? info->serial : kRemoteSerial;
    DriveSlot& slot = store.Drive(drive_index);
    if (slot.serial != serial) {
        slot.serial = serial;
        slot.journal_id = 0;
        slot.next_usn = 0;
    }
    const std::u16string display_name = access.DisplayName(letter);
    CKvToDbListener listener(store);

    if (scan::IsNtfs(letter, drives)) {
        BuildLog(u"(NTFS Mode)");
        NtfsVolumeTarget target;
        target.drive_letter = letter;
        JournalState state{slot.journal_id, store.RecordCount() == 0 ? 0 : slot.next_usn};
        const JournalState stored = state;
        const NtfsScanResult scanned =
            access.ScanNtfs(scan::DriveDevicePath(letter), target, listener, rules, &state);
        if (LogNtfsRoute(scanned, stored)) {
            if (scanned != NtfsScanResult::kQueryFailed) {
                slot.journal_id = state.journal_id;
                slot.next_usn = state.next_usn;
            }
            ScanMountedVolumes(letter, drive_index, store, listener, rules, access,
                               /*force_full=*/scanned == NtfsScanResult::kFullScan);
        } else {
            BuildLog(
                u"Route: folder walk, no ignore rules apply (the volume reports NTFS but "
                u"%s)",
                WalkReason(scanned));
            ClearJournalStates(store, drive_index);
            access.Walk(letter, listener);
        }
    } else {
        BuildLog(u"(Non-NTFS Mode)");
        BuildLog(u"Route: folder walk (%s)", NonNtfsReason(letter, drives));
        access.Walk(letter, listener);
    }

    slot.display_name = display_name;
    result.ignored_folders = listener.IgnoredFolders();
    listener.OnDriveBuilt(letter);
    const uint32_t elapsed = TickCount() - start;
    StatusOut(u"Drive %c build done. (%ds)\n", letter, elapsed / 1000);
    BuildLog(u"Drive build done (%d ms)", elapsed);
    settings.Set(settings::kBuildingDrive, u"");
    result.built = true;
    return result;
}

}  // namespace kavo::build

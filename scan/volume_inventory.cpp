#include "scan/volume_inventory.h"

#include "base/format.h"
#include "settings/settings.h"

namespace kavo::scan {

namespace {

bool IsCapital(char16_t c) {
    return c >= u'A' && c <= u'Z';
}

bool Interrupted(const std::atomic<bool>* flag) {
    return flag != nullptr && flag->load();
}

}  // namespace

VolumeStates ParseVolumeStates(const std::u16string& value, IDriveQueries& drives) {
    VolumeStates states;
    if (!value.empty()) {
        states.fill(kVolumeUnmentioned);
        for (size_t i = 0; i + 1 < value.size(); ++i) {
            if (IsCapital(value[i])) {
                states[value[i] - u'A'] = value[i + 1] != u'0' ? kVolumeOn : kVolumeOff;
            }
        }
        return states;
    }
    states.fill(kVolumeOff);
    for (char16_t letter : drives.LogicalDrives()) {
        if (!IsCapital(letter) || drives.DriveType(letter) != kDriveFixed) {
            continue;
        }
        const std::optional<VolumeInformation> info = drives.VolumeInfo(letter);
        if (info && info->file_system == u"NTFS") {
            states[letter - u'A'] = kVolumeOn;
        }
    }
    return states;
}

VolumeStates ReadVolumeStates(const std::u16string& settings_path, IDriveQueries& drives) {
    return ParseVolumeStates(Settings(settings_path).Get(settings::kVolumeStates), drives);
}

bool IsNtfs(char16_t letter, IDriveQueries& drives) {
    const uint32_t type = drives.DriveType(letter);
    if (type == kDriveRemote || type == kDriveCdrom) {
        return false;
    }
    const std::optional<VolumeInformation> info = drives.VolumeInfo(letter);
    return info && info->file_system == u"NTFS";
}

std::vector<char16_t> SelectDrivesForBuild(const VolumeStates& states,
                                           IDriveQueries& drives,
                                           const std::atomic<bool>* interrupted) {
    std::vector<char16_t> taken;
    for (char16_t letter : drives.LogicalDrives()) {
        if (Interrupted(interrupted)) {
            break;
        }
        if (!IsCapital(letter)) {
            continue;
        }
        const uint32_t type = drives.DriveType(letter);
        const uint8_t state = states[letter - u'A'];
        if (type < kDriveRemovable || type > kDriveCdrom || state == kVolumeOff) {
            continue;
        }
        const bool take =
            state == kVolumeUnmentioned ? type == kDriveFixed : drives.RawVolumeOpens(letter);
        if (take && !drives.HasDriveMarker(letter)) {
            taken.push_back(letter);
        }
    }
    return taken;
}

std::vector<char16_t> SelectNetworkDrives(const VolumeStates& states,
                                          IDriveQueries& drives,
                                          const std::atomic<bool>* interrupted) {
    std::vector<char16_t> taken;
    for (char16_t letter : drives.LogicalDrives()) {
        if (Interrupted(interrupted)) {
            break;
        }
        if (IsCapital(letter) && drives.DriveType(letter) == kDriveRemote &&
            states[letter - u'A'] == kVolumeOn && !drives.HasDriveMarker(letter)) {
            taken.push_back(letter);
        }
    }
    return taken;
}

std::vector<char16_t> ListIndexableDrives(bool force, IDriveQueries& drives) {
    const std::vector<char16_t> all = drives.LogicalDrives();
    if (!force && !all.empty() && (all.front() == u'A' || all.front() == u'B')) {
        return drives.WmiDrives();
    }
    std::vector<char16_t> listed;
    for (char16_t letter : all) {
        const uint32_t type = drives.DriveType(letter);
        if (type == kDriveRemovable || type == kDriveFixed) {
            if (!drives.VolumeInfo(letter)) {
                continue;
            }
        } else if (type != kDriveRemote && type != kDriveCdrom) {
            continue;
        }
        if (type != kDriveRemote && drives.HasDriveMarker(letter)) {
            continue;
        }
        listed.push_back(letter);
    }
    return listed;
}

uint64_t CombineMountKey(uint64_t file_index, uint32_t drive_index) {
    return (file_index & 0xFFFF0000FFFFFFFFull) |
           (static_cast<uint64_t>(drive_index & 0xFFFF) << 32);
}

std::u16string DriveDevicePath(char16_t letter) {
    return Format(u"\\\\.\\%c:", letter);
}

std::u16string VolumeDevicePath(const std::u16string& guid) {
    return Format(u"\\\\?\\Volume{%s}", guid);
}

}  // namespace kavo::scan

// The volume inventory: which drives exist, of which kind, which of them a build takes
// (VolumeStates and the root marker `_kavoignore`), their identity (serial number, display
// name), the volumes mounted in their folders, and the disk power test.
//
// The selection rules are portable and work over IDriveQueries, the questions asked of the
// system; SystemDriveQueries() answers them through the Win32 volume API (natively: the
// drives that KAVO_DRIVE_X variables map, all fixed, none NTFS).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavo::scan {

inline constexpr uint32_t kDriveRemovable = 2;
inline constexpr uint32_t kDriveFixed = 3;
inline constexpr uint32_t kDriveRemote = 4;
inline constexpr uint32_t kDriveCdrom = 5;

inline constexpr uint8_t kVolumeOff = 0;
inline constexpr uint8_t kVolumeOn = 1;
inline constexpr uint8_t kVolumeUnmentioned = 255;

using VolumeStates = std::array<uint8_t, 26>;

struct VolumeInformation {
    uint32_t serial = 0;
    std::u16string file_system;  // "NTFS", "FAT32", ...
};

// A volume mounted in a folder of a drive.
struct MountPoint {
    std::u16string folder;  // full path of the mount folder, "C:\mnt\data\" as listed
    std::u16string guid;    // the text between the braces of the volume name "\\?\Volume{...}\"
};

class IDriveQueries {
  public:
    virtual ~IDriveQueries() = default;
    // GetLogicalDriveStringsW: the roots in system order ("C:\", "D:\", ...).
    virtual std::vector<char16_t> LogicalDrives() = 0;
    virtual uint32_t DriveType(char16_t letter) = 0;  // GetDriveTypeW of the root "X:\"
    virtual std::optional<VolumeInformation> VolumeInfo(char16_t letter) = 0;
    virtual bool RawVolumeOpens(char16_t letter) = 0;  // \\.\X: opens for reading
    virtual bool HasDriveMarker(char16_t letter) = 0;  // X:\_kavoignore exists
    // The letters of Win32_LogicalDisk through WMI (those found before a failing step).
    virtual std::vector<char16_t> WmiDrives() = 0;
};

IDriveQueries& SystemDriveQueries();

// VolumeStates from its stored value. A non-empty value leaves every letter unmentioned
// except capitals followed by a character ("0" off, anything else on); an empty value
// switches on exactly the fixed NTFS drives.
VolumeStates ParseVolumeStates(const std::u16string& value, IDriveQueries& drives);
VolumeStates ReadVolumeStates(const std::u16string& settings_path, IDriveQueries& drives);

// NTFS as GetVolumeInformationW names it; never for network drives and CD-ROMs.
bool IsNtfs(char16_t letter, IDriveQueries& drives);

// The drives an all-drive build takes, in system order: types 2 to 5 whose state is not off;
// an unmentioned drive only when fixed, a switched-on one only while its raw volume opens;
// never one with the root marker. `interrupted` (may be null) ends the selection early.
std::vector<char16_t> SelectDrivesForBuild(const VolumeStates& states,
                                           IDriveQueries& drives,
                                           const std::atomic<bool>* interrupted = nullptr);
// The network drives that are switched on and have no root marker.
std::vector<char16_t> SelectNetworkDrives(const VolumeStates& states,
                                          IDriveQueries& drives,
                                          const std::atomic<bool>* interrupted = nullptr);
// The drives for drive menus and crash reports. When the first drive is A: or B: and
// `force` is false, the list comes from WMI so that floppy drives are not touched.
// Removable and fixed drives need readable volume information; every drive except network
// drives is dropped when it has the root marker.
std::vector<char16_t> ListIndexableDrives(bool force, IDriveQueries& drives);

// Identity and mounts of a drive, straight from the system.
std::u16string DriveDisplayName(char16_t letter);
std::vector<MountPoint> MountPointsOfDrive(char16_t letter);
// The RecordKey form of a mount folder: its file index with the drive index in the low 16
// bits of the high half; 0xFFFF0000 + drive index over 0xFFFFFFFF when it cannot be opened.
uint64_t MountKeyOf(const std::u16string& folder, uint32_t drive_index);
uint64_t CombineMountKey(uint64_t file_index, uint32_t drive_index);
// The device path that opens a drive's or a mounted volume's raw volume.
std::u16string DriveDevicePath(char16_t letter);              // "\\.\X:"
std::u16string VolumeDevicePath(const std::u16string& guid);  // "\\?\Volume{GUID}"

// Whether the disk of the drive spins; cached for 6 seconds per drive and per disk. A drive
// that cannot be opened counts as asleep. For the result list's painting thread only.
bool DiskIsAwake(char16_t letter);

}  // namespace kavo::scan

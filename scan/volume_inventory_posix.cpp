#include <sys/stat.h>

#include <cstdlib>

#include "platform/file.h"
#include "platform/native_path_posix.h"
#include "scan/volume_inventory.h"

namespace kavo::scan {

namespace {

// Natively a drive is a host folder named by KAVO_DRIVE_X; it is a fixed drive whose file
// system is not NTFS, so that it is always walked.
std::optional<std::string> DriveFolder(char16_t letter) {
    if (letter < u'A' || letter > u'Z') {
        return std::nullopt;
    }
    const std::string var = std::string("KAVO_DRIVE_") + static_cast<char>(letter);
    const char* folder = std::getenv(var.c_str());
    if (folder == nullptr) {
        return std::nullopt;
    }
    return std::string(folder);
}

class HostDriveQueries final : public IDriveQueries {
  public:
    std::vector<char16_t> LogicalDrives() override {
        std::vector<char16_t> letters;
        for (char16_t c = u'A'; c <= u'Z'; ++c) {
            if (DriveFolder(c)) {
                letters.push_back(c);
            }
        }
        return letters;
    }
    uint32_t DriveType(char16_t letter) override { return DriveFolder(letter) ? kDriveFixed : 1; }
    std::optional<VolumeInformation> VolumeInfo(char16_t letter) override {
        const std::optional<std::string> folder = DriveFolder(letter);
        struct stat st;
        if (!folder || ::stat(folder->c_str(), &st) != 0) {
            return std::nullopt;
        }
        return VolumeInformation{static_cast<uint32_t>(st.st_dev) | 1u, u"HOSTFS"};
    }
    bool RawVolumeOpens(char16_t) override { return false; }
    bool HasDriveMarker(char16_t letter) override {
        return platform::FileExists(std::u16string{letter, u':', u'\\'} + u"_kavoignore");
    }
    std::vector<char16_t> WmiDrives() override { return LogicalDrives(); }
};

}  // namespace

IDriveQueries& SystemDriveQueries() {
    static HostDriveQueries queries;
    return queries;
}

std::u16string DriveDisplayName(char16_t letter) {
    return std::u16string(u"Local Disk (") + letter + u":)";
}

std::vector<MountPoint> MountPointsOfDrive(char16_t) {
    return {};
}

uint64_t MountKeyOf(const std::u16string& folder, uint32_t drive_index) {
    struct stat st;
    if (::stat(platform::NativePath(folder).c_str(), &st) != 0) {
        return CombineMountKey(0xFFFFFFFFFFFFFFFFull, drive_index);
    }
    return CombineMountKey(static_cast<uint64_t>(st.st_ino), drive_index);
}

bool DiskIsAwake(char16_t letter) {
    return static_cast<bool>(DriveFolder(letter));
}

}  // namespace kavo::scan

#include "scan/volume_inventory.h"

#include <gtest/gtest.h>

#include <map>

namespace kavo::scan {
namespace {

struct FakeDrive {
    uint32_t type = kDriveFixed;
    const char16_t* fs = u"NTFS";  // null: volume information fails
    bool raw_opens = true;
    bool marker = false;
};

class FakeDrives : public IDriveQueries {
  public:
    std::vector<char16_t> LogicalDrives() override {
        std::vector<char16_t> v;
        for (const auto& [letter, d] : drives) {
            v.push_back(letter);
        }
        return v;
    }
    uint32_t DriveType(char16_t l) override { return drives.count(l) ? drives[l].type : 1; }
    std::optional<VolumeInformation> VolumeInfo(char16_t l) override {
        if (!drives.count(l) || drives[l].fs == nullptr) {
            return std::nullopt;
        }
        return VolumeInformation{0x1234u, drives[l].fs};
    }
    bool RawVolumeOpens(char16_t l) override { return drives.count(l) && drives[l].raw_opens; }
    bool HasDriveMarker(char16_t l) override { return drives.count(l) && drives[l].marker; }
    std::vector<char16_t> WmiDrives() override {
        ++wmi_calls;
        return {u'A', u'C'};
    }
    std::map<char16_t, FakeDrive> drives;
    int wmi_calls = 0;
};

std::u16string Letters(const std::vector<char16_t>& v) {
    return std::u16string(v.begin(), v.end());
}

TEST(VolumeStatesTest, ParsesLettersFollowedByTheirState) {
    FakeDrives drives;
    const VolumeStates s = ParseVolumeStates(u"C1D0E1", drives);
    EXPECT_EQ(s[2], kVolumeOn);
    EXPECT_EQ(s[3], kVolumeOff);
    EXPECT_EQ(s[4], kVolumeOn);
    EXPECT_EQ(s[0], kVolumeUnmentioned);
    EXPECT_EQ(s[25], kVolumeUnmentioned);
    // Lower case is no letter; a capital at the end has no state after it.
    const VolumeStates lower = ParseVolumeStates(u"c1F", drives);
    for (uint8_t v : lower) {
        EXPECT_EQ(v, kVolumeUnmentioned);
    }
    EXPECT_EQ(ParseVolumeStates(u"Gx", drives)[6], kVolumeOn);
}

TEST(VolumeStatesTest, EmptyValueSwitchesOnExactlyTheFixedNtfsDrives) {
    FakeDrives drives;
    drives.drives[u'C'] = {};
    drives.drives[u'D'] = {kDriveFixed, u"FAT32"};
    drives.drives[u'E'] = {kDriveRemovable, u"NTFS"};
    drives.drives[u'F'] = {kDriveFixed, u"ntfs"};
    const VolumeStates s = ParseVolumeStates(u"", drives);
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(s[i], i == 2 ? kVolumeOn : kVolumeOff) << i;
    }
}

TEST(DriveSelection, BuildTakesFixedUnmentionedAndOpenableSwitchedOnDrives) {
    FakeDrives drives;
    drives.drives[u'C'] = {};                                  // fixed, 255: taken
    drives.drives[u'D'] = {kDriveRemovable, u"FAT32", true};   // removable, 255: not
    drives.drives[u'E'] = {kDriveRemovable, u"FAT32", true};   // removable, 1, opens: taken
    drives.drives[u'F'] = {kDriveRemovable, u"FAT32", false};  // removable, 1, no: not
    drives.drives[u'G'] = {kDriveFixed, u"NTFS", true, true};  // marker: not
    drives.drives[u'H'] = {kDriveFixed};                       // switched off
    drives.drives[u'N'] = {kDriveRemote, nullptr, false};      // network, 1: not here
    drives.drives[u'R'] = {6};                                 // RAM disk: never
    const VolumeStates s = ParseVolumeStates(u"E1F1H0N1R1", drives);
    EXPECT_EQ(Letters(SelectDrivesForBuild(s, drives)), u"CE");
    EXPECT_EQ(Letters(SelectNetworkDrives(s, drives)), u"N");
    drives.drives[u'N'].marker = true;
    EXPECT_EQ(Letters(SelectNetworkDrives(s, drives)), u"");
    const std::atomic<bool> stop{true};
    EXPECT_EQ(Letters(SelectDrivesForBuild(s, drives, &stop)), u"");
}

TEST(DriveSelection, IndexableDrivesAndTheFloppyRule) {
    FakeDrives drives;
    drives.drives[u'C'] = {};
    drives.drives[u'D'] = {kDriveCdrom, nullptr};                // taken as it is
    drives.drives[u'E'] = {kDriveRemovable, nullptr};            // unreadable: dropped
    drives.drives[u'F'] = {kDriveFixed, u"NTFS", true, true};    // marker: dropped
    drives.drives[u'N'] = {kDriveRemote, nullptr, false, true};  // network keeps its place
    EXPECT_EQ(Letters(ListIndexableDrives(false, drives)), u"CDN");
    EXPECT_EQ(drives.wmi_calls, 0);
    drives.drives[u'A'] = {kDriveRemovable, nullptr};
    EXPECT_EQ(Letters(ListIndexableDrives(false, drives)), u"AC");
    EXPECT_EQ(drives.wmi_calls, 1);
    EXPECT_EQ(Letters(ListIndexableDrives(true, drives)), u"CDN");
}

TEST(DriveKinds, NtfsOnlyForLocalDrivesNamedExactly) {
    FakeDrives drives;
    drives.drives[u'C'] = {};
    drives.drives[u'D'] = {kDriveCdrom, u"NTFS"};
    drives.drives[u'N'] = {kDriveRemote, u"NTFS"};
    drives.drives[u'F'] = {kDriveFixed, u"NTFS "};
    drives.drives[u'G'] = {kDriveFixed, nullptr};
    EXPECT_TRUE(IsNtfs(u'C', drives));
    EXPECT_FALSE(IsNtfs(u'D', drives));
    EXPECT_FALSE(IsNtfs(u'N', drives));
    EXPECT_FALSE(IsNtfs(u'F', drives));
    EXPECT_FALSE(IsNtfs(u'G', drives));
}

TEST(MountKeys, FileIndexWithTheDriveIndexInItsHighHalf) {
    EXPECT_EQ(CombineMountKey(0x0001002A00000123ull, 2), 0x0001000200000123ull);
    EXPECT_EQ(CombineMountKey(0xFFFFFFFFFFFFFFFFull, 3), 0xFFFF0003FFFFFFFFull);
    EXPECT_EQ(DriveDevicePath(u'C'), u"\\\\.\\C:");
    EXPECT_EQ(VolumeDevicePath(u"1b2c"), u"\\\\?\\Volume{1b2c}");
}

}  // namespace
}  // namespace kavo::scan

#include "build/drive_build.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/text.h"
#include "build/build_command.h"
#include "build/build_platform.h"
#include "build/kv_to_db_listener.h"
#include "main/process.h"
#include "platform/file.h"
#include "settings/settings.h"
#include "tests/support/test_support.h"

namespace kavo::build {
namespace {

struct FakeDrive {
    uint32_t type = scan::kDriveFixed;
    std::u16string fs = u"NTFS";
    uint32_t serial = 0x5EED;
    bool info_fails = false;
};

// The machine as building a drive sees it: drives, mounts and an NTFS scanner that
// reports what it was asked and answers as told.
class FakeAccess final : public IVolumeAccess, public scan::IDriveQueries {
  public:
    // IDriveQueries
    std::vector<char16_t> LogicalDrives() override {
        std::vector<char16_t> v;
        for (const auto& [l, d] : drives) {
            v.push_back(l);
        }
        return v;
    }
    uint32_t DriveType(char16_t l) override { return drives.count(l) ? drives[l].type : 1; }
    std::optional<scan::VolumeInformation> VolumeInfo(char16_t l) override {
        if (!drives.count(l) || drives[l].info_fails) {
            return std::nullopt;
        }
        return scan::VolumeInformation{drives[l].serial, drives[l].fs};
    }
    bool RawVolumeOpens(char16_t) override { return true; }
    bool HasDriveMarker(char16_t) override { return false; }
    std::vector<char16_t> WmiDrives() override { return {}; }

    // IVolumeAccess
    scan::IDriveQueries& Drives() override { return *this; }
    std::u16string DisplayName(char16_t l) override {
        return u"Disk (" + std::u16string(1, l) + u":)";
    }
    std::vector<scan::MountPoint> MountPoints(char16_t) override { return mounts; }
    uint64_t MountKey(const std::u16string& folder, uint32_t drive_index) override {
        return scan::CombineMountKey(0x100 + folder.size(), drive_index);
    }
    NtfsScanResult ScanNtfs(const std::u16string& device,
                            const NtfsVolumeTarget& target,
                            IKvListener& listener,
                            const IIgnoreRules&,
                            JournalState* state) override {
        scans.push_back({device, target.volume_number, *state});
        const NtfsScanResult r =
            results.count(device) ? results[device] : NtfsScanResult::kFullScan;
        if (r == NtfsScanResult::kFullScan) {
            listener.OnRemoveVolume(target.drive_letter, target.volume_number);
            ScanEntry e;
            e.key = (static_cast<uint64_t>(target.VolumeTag()) << 32) | 5;
            e.is_folder = 1;
            const std::u16string name = target.IsMounted() ? u"vol" : u"root";
            e.name = name;
            listener.OnFileAdded(e);
            *state = {0xAB, 4096};
        } else if (r == NtfsScanResult::kChangesOnly) {
            state->next_usn += 100;
        }
        return r;
    }
    scan::WalkStats Walk(char16_t letter, IKvListener& listener) override {
        ++walks;
        scan::WalkOptions o;
        o.root = walk_root;
        return scan::WalkVolume(letter, listener, o);
    }

    struct ScanCall {
        std::u16string device;
        uint32_t volume;
        JournalState state;
    };
    std::map<char16_t, FakeDrive> drives;
    std::vector<scan::MountPoint> mounts;
    std::map<std::u16string, NtfsScanResult> results;
    std::vector<ScanCall> scans;
    std::u16string walk_root;
    int walks = 0;
};

class DriveBuildTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Process().database_folder = tmp_.Path();
        Process().settings_path = tmp_.File(u"kavo.ini");
        ASSERT_TRUE(Process().build_log.Open(tmp_.File(u"kavo.build.log"), false));
        const std::u16string tree = tmp_.File(u"tree");
        ASSERT_TRUE(platform::MakeDirectory(tree));
        ASSERT_TRUE(platform::MakeDirectory(tree + u"\\sub"));
        ASSERT_TRUE(platform::WriteWholeFile(tree + u"\\sub\\f.txt", "abc", 3));
        access_.walk_root = tree + u"\\";
    }
    void TearDown() override { Process().build_log.Close(); }

    std::string Log() {
        Process().build_log.Close();
        const auto bytes = platform::ReadWholeFile(tmp_.File(u"kavo.build.log"));
        Process().build_log.Open(tmp_.File(u"kavo.build.log"), true);
        std::string text;
        if (bytes) {
            for (uint8_t b : *bytes) {
                if (b != '\r') {  // the log is a text-mode file on Windows
                    text.push_back(static_cast<char>(b));
                }
            }
        }
        return text;
    }
    DriveBuildResult Build(char16_t letter) {
        return BuildOneDrive(letter, store_, rules_, access_, Process().settings_path);
    }

    test::TempFolder tmp_;
    FakeAccess access_;
    RecordStore store_;
    NoIgnoreRules rules_;
};

TEST_F(DriveBuildTest, NonNtfsDriveIsWalkedAndItsSlotFilled) {
    access_.drives[u'F'] = {scan::kDriveRemovable, u"FAT32", 0x77};
    const DriveBuildResult r = Build(u'F');
    EXPECT_TRUE(r.built);
    EXPECT_EQ(access_.walks, 1);
    EXPECT_TRUE(access_.scans.empty());
    EXPECT_EQ(store_.RecordCount(), 3);  // F:, sub, f.txt
    const DriveSlot& slot = store_.Drive(5);
    EXPECT_EQ(slot.serial, 0x77u);
    EXPECT_EQ(slot.built, 1);
    EXPECT_NE(slot.build_time, 0u);
    EXPECT_EQ(slot.display_name, u"Disk (F:)");
    EXPECT_EQ(Settings(Process().settings_path).Get(settings::kBuildingDrive), u"");
    const std::string log = Log();
    EXPECT_NE(log.find("--\nBuilding drive F\n(Non-NTFS Mode)\n"
                       "Route: folder walk (the file system is FAT32)\n"
                       "Deleting all records for drive F\nPerforming full scan..\n"
                       "Recorded 1 folders, 1 files.\nDrive build done ("),
              std::string::npos)
        << log;
}

TEST_F(DriveBuildTest, NtfsDriveThatCannotBeReadRawIsWalkedWithItsJournalStateCleared) {
    access_.drives[u'D'] = {};
    const std::u16string device = scan::DriveDevicePath(u'D');
    for (NtfsScanResult why :
         {NtfsScanResult::kOpenFailed, NtfsScanResult::kNotNtfs, NtfsScanResult::kMftFailed}) {
        DriveSlot& slot = store_.Drive(3);
        slot.serial = 0x5EED;
        slot.journal_id = 9;
        slot.next_usn = 77;
        const uint32_t mounted = store_.GetVolumeNumber(scan::CombineMountKey(0x999, 3));
        store_.Volume(mounted).journal_id = 9;
        store_.Volume(mounted).next_usn = 55;
        access_.results[device] = why;
        const int walks = access_.walks;
        EXPECT_TRUE(Build(u'D').built);
        EXPECT_EQ(access_.walks, walks + 1);
        EXPECT_EQ(slot.journal_id, 0u);
        EXPECT_EQ(slot.next_usn, 0);
        EXPECT_EQ(store_.Volume(mounted).journal_id, 0u);
        EXPECT_EQ(store_.Volume(mounted).next_usn, 0);
        EXPECT_EQ(store_.RecordCount(), 3);
    }
    const std::string log = Log();
    for (const char* why :
         {"its raw volume could not be opened", "its raw volume does not read as NTFS",
          "its master file table could not be read"}) {
        EXPECT_NE(log.find(std::string("(NTFS Mode)\nRoute: folder walk, no ignore rules apply "
                                       "(the volume reports NTFS but ") +
                           why + ")\nDeleting all records for drive D"),
                  std::string::npos)
            << why << "\n"
            << log;
    }
}

TEST_F(DriveBuildTest, SerialNumberDecidesBetweenBuildingCancellingAndAFreshScan) {
    access_.drives[u'C'] = {scan::kDriveFixed, u"NTFS", 0};
    EXPECT_FALSE(Build(u'C').built);
    access_.drives[u'C'].info_fails = true;
    EXPECT_FALSE(Build(u'C').built);
    EXPECT_TRUE(access_.scans.empty());
    EXPECT_EQ(Settings(Process().settings_path).Get(settings::kBuildingDrive), u"");
    EXPECT_NE(Log().find("Error getting drive serial number: C, build canceled."),
              std::string::npos);

    // A network drive without volume information is built under the serial 0xFFFFFFFF.
    access_.drives[u'N'] = {scan::kDriveRemote, u"", 0, true};
    EXPECT_TRUE(Build(u'N').built);
    EXPECT_EQ(store_.Drive(13).serial, 0xFFFFFFFFu);

    // Same serial and records in the store: the stored position goes to the scanner.
    access_.drives[u'C'] = {scan::kDriveFixed, u"NTFS", 0x1234};
    store_.Drive(2) = DriveSlot{};
    store_.Drive(2).serial = 0x1234;
    store_.Drive(2).journal_id = 0xAB;
    store_.Drive(2).next_usn = 500;
    access_.results[scan::DriveDevicePath(u'C')] = NtfsScanResult::kChangesOnly;
    EXPECT_TRUE(Build(u'C').built);
    ASSERT_EQ(access_.scans.size(), 1u);
    EXPECT_EQ(access_.scans[0].state.next_usn, 500);
    EXPECT_EQ(store_.Drive(2).next_usn, 600);
    // A new serial (the volume was replaced) clears the stored position.
    access_.drives[u'C'].serial = 0x4321;
    EXPECT_TRUE(Build(u'C').built);
    EXPECT_EQ(access_.scans[1].state.journal_id, 0u);
    EXPECT_EQ(access_.scans[1].state.next_usn, 0);
    EXPECT_EQ(store_.Drive(2).serial, 0x4321u);
    const std::string log = Log();
    EXPECT_NE(log.find("Route: change journal (the stored journal position is valid)"),
              std::string::npos);
}

TEST_F(DriveBuildTest, MountedVolumesAreScannedInTheirSlotsAndUnmountedOnesDropped) {
    access_.drives[u'C'] = {};
    // A volume from an earlier build that is no longer mounted, with a record of its own.
    const uint32_t gone = store_.GetVolumeNumber(scan::CombineMountKey(0x777, 2));
    ScanEntry e;
    e.key = MakeRecordKey(40, 2, gone);
    e.name = u"old.txt";
    store_.AddRecord(e);
    access_.mounts = {{u"C:\\mnt\\data\\", u"1111-aaaa"}};

    EXPECT_TRUE(Build(u'C').built);
    ASSERT_EQ(access_.scans.size(), 2u);
    EXPECT_EQ(access_.scans[1].device, u"\\\\?\\Volume{1111-aaaa}");
    const uint32_t number = access_.scans[1].volume;
    ASSERT_NE(number, 0u);
    EXPECT_NE(number, gone);
    EXPECT_EQ(store_.Volume(number).GuidText(), u"1111-aaaa");
    EXPECT_EQ(store_.Volume(number).next_usn, 4096);
    EXPECT_TRUE(store_.Volume(gone).IsFree());
    EXPECT_EQ(store_.RecordCount(), 2);  // root of C and root of the mounted volume

    // The next build keeps the slot; after the drive's own full scan removed every mounted
    // volume's records, the mounted volume is scanned in full as well.
    EXPECT_TRUE(Build(u'C').built);
    ASSERT_EQ(access_.scans.size(), 4u);
    EXPECT_EQ(access_.scans[3].volume, number);
    EXPECT_EQ(access_.scans[3].state.next_usn, 0);
    EXPECT_EQ(store_.RecordCount(), 2);
}

TEST(KvToDbListener, ForwardsEveryReportToTheStore) {
    RecordStore store;
    CKvToDbListener l(store);
    ScanEntry e;
    e.key = MakeRecordKey(1025, 2);
    e.parent_key = MakeRecordKey(1024, 2);
    e.name = u"a.txt";
    e.size = 5;
    l.OnFileAdded(e);
    e.size = 9;
    l.OnFileChanged(e, std::nullopt);
    bool seen = false;
    store.ForEachRecord([&](std::u16string_view, const NameRecord&, const FileRecord& r) {
        seen = r.key == e.key && r.size == 9;
    });
    EXPECT_TRUE(seen);
    const std::u16string new_name = u"b.txt";
    e.name = new_name;
    l.OnFileChanged(e, std::u16string_view(u"a.txt"));
    EXPECT_EQ(store.RecordCount(), 1);
    EXPECT_TRUE(store.RemoveRecord(e));
    store.AddRecord(e);
    l.OnFileRemoved(e);
    EXPECT_EQ(store.RecordCount(), 0);
    store.AddRecord(e);
    l.OnRemoveVolume(u'C', 0);
    EXPECT_EQ(store.RecordCount(), 0);
    l.OnIgnoredFolder(u"C:\\x");
    EXPECT_EQ(l.IgnoredFolders(), std::vector<std::u16string>{u"C:\\x"});
    l.OnDriveBuilt(u'C');
    EXPECT_EQ(store.Drive(2).built, 1);
    EXPECT_NE(store.Drive(2).build_time, 0u);
}

TEST(BuildArgsTest, Table) {
    struct Case {
        std::vector<std::u16string> args;
        BuildArgsError error;
        bool delegate, remote;
        char16_t drive;
    };
    const Case cases[] = {
        {{}, BuildArgsError::kNone, false, false, 0},
        {{u"d"}, BuildArgsError::kNone, false, false, u'D'},
        {{u"--delegate", u"C"}, BuildArgsError::kNone, true, false, u'C'},
        {{u"--remoteDrives"}, BuildArgsError::kNone, false, true, 0},
        {{u"1"}, BuildArgsError::kInvalidDrive, false, false, 0},
        {{u"CD"}, BuildArgsError::kUnrecognized, false, false, 0},
        {{u"--Delegate"}, BuildArgsError::kUnrecognized, false, false, 0},
    };
    for (const Case& c : cases) {
        Args args = {u"kavo", u"build"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        BuildArgs out;
        EXPECT_EQ(ParseBuildArgs(args, &out), c.error);
        if (c.error == BuildArgsError::kNone) {
            EXPECT_EQ(out.delegate, c.delegate);
            EXPECT_EQ(out.remote_drives, c.remote);
            EXPECT_EQ(out.drive, c.drive);
        }
    }
}

TEST(BuildLockTest, NameAndExclusion) {
    EXPECT_EQ(BuildLockName(u"C:\\Users\\ann\\.kavo\\"), u"Global\\C:/Users/ann/.kavo/|KAVO_BUILD");
    test::TempFolder tmp;
    const std::u16string name = BuildLockName(tmp.Path());
    {
        BuildLock first;
        ASSERT_TRUE(first.Acquire(name));
        BuildLock second;
        EXPECT_FALSE(second.Acquire(name));
    }
    BuildLock again;
    EXPECT_TRUE(again.Acquire(name));
}

}  // namespace
}  // namespace kavo::build

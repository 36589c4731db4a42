// kavo build under Wine: a drive mapped to a host folder (walked folder by folder) and a
// drive whose raw device is an NTFS image (read through its master file table), checked
// against `find` over the same tree and `fls` over the same image; the build lock; the
// argument errors; the ignore rules.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/xattr.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "base/text.h"
#include "build/build_command.h"
#include "database/loaded_database.h"
#include "platform/profile.h"
#include "tests/e2e/wine_harness.h"
#include "tests/support/test_support.h"

namespace kavo::e2e {
namespace {
namespace fs = std::filesystem;

using PathSet = std::set<std::string>;

std::string HostPath(const test::TempFolder& dir) {
    std::string p = Utf16ToUtf8(dir.Path());
    for (char& c : p) {
        if (c == '\\')
            c = '/';
    }
    return p;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string text;
    for (char c : s.str()) {
        if (c != '\r')
            text.push_back(c);
    }
    return text;
}

// A sample of real paths as a tree under `root`, keeping only names that every layer
// involved (Wine, NTFS, the console) passes through unchanged, plus a few names of our own.
void MakeTree(const std::string& root, int count) {
    const std::string list = fs::path(root).parent_path().string() + "/corpus.txt";
    ASSERT_EQ(RunHost({test::SharedDataHostPath("tools/make-corpus"), list, std::to_string(count)})
                  .exit_code,
              0);
    std::ifstream in(list);
    std::string line;
    while (std::getline(in, line)) {
        bool plain = !line.empty();
        for (unsigned char c : line) {
            plain = plain && c >= 0x20 && c < 0x7F &&
                    std::string(":*?\"<>|\\").find(static_cast<char>(c)) == std::string::npos;
        }
        for (const auto& part : fs::path(line)) {
            const std::string s = part.string();
            plain = plain && !s.empty() && s.back() != '.' && s.back() != ' ' && s[0] != '.';
        }
        if (!plain) {
            continue;
        }
        const fs::path p = fs::path(root) / line;
        std::error_code ec;
        fs::create_directories(p.parent_path(), ec);
        if (!fs::is_directory(p, ec)) {
            std::ofstream(p) << "x";
        }
    }
    fs::create_directories(fs::path(root) /
                           "Gr\xC3\xBC\xC3\x9F"
                           "e");
    std::ofstream(fs::path(root) /
                  "Gr\xC3\xBC\xC3\x9F"
                  "e" /
                  "\xE6\x97\xA5\xE6\x9C\xAC.txt")
        << "12345";
}

// What `find` lists below `root`, as the paths kavo prints for drive `letter`: the root
// "X:\", folders with a closing backslash. `skip` leaves out a host path and all below it.
PathSet FindListing(const std::string& root,
                    char letter,
                    const std::vector<std::string>& skip = {}) {
    const RunResult r = RunHost({"find", root, "-mindepth", "1", "-printf", "%y %P\\n"});
    EXPECT_EQ(r.exit_code, 0);
    PathSet paths = {std::string(1, letter) + ":\\"};
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const bool folder = line[0] == 'd';
        std::string rel = line.substr(2);
        bool skipped = false;
        for (const std::string& s : skip) {
            skipped = skipped || rel == s || rel.rfind(s + "/", 0) == 0;
        }
        if (skipped) {
            continue;
        }
        for (char& c : rel) {
            if (c == '/')
                c = '\\';
        }
        paths.insert(std::string(1, letter) + ":\\" + rel + (folder ? "\\" : ""));
    }
    return paths;
}

// The allocated, named entries that fls lists in the image, leaving out the file system's
// own ($ names at the root and below $Extend), alternate data streams and deleted entries.
PathSet FlsListing(const std::string& image, char letter) {
    const RunResult r = RunHost({"fls", "-r", "-p", image});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    PathSet paths = {std::string(1, letter) + ":\\"};
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find(" * ") != std::string::npos) {
            continue;
        }
        std::string rel = line.substr(tab + 1);
        if (rel[0] == '$' || rel.find(':') != std::string::npos) {
            continue;
        }
        for (char& c : rel) {
            if (c == '/')
                c = '\\';
        }
        paths.insert(std::string(1, letter) + ":\\" + rel + (line[2] == 'd' ? "\\" : ""));
    }
    return paths;
}

// Every record of the saved database as its full path, read natively.
PathSet DatabaseListing(const std::string& dbdir) {
    std::unique_ptr<LoadedDatabase> db = LoadedDatabase::Load(Utf8ToUtf16(dbdir));
    PathSet paths;
    for (int32_t r = 0; r < db->RecordCount(); ++r) {
        paths.insert(Utf16ToUtf8(db->PathOfRecord(r, true)));
    }
    return paths;
}

// What kavo find prints for a drive; only names in plain ASCII survive the console's code
// page unchanged, so those are compared exactly and the rest are counted.
PathSet AsciiOnly(const PathSet& in) {
    PathSet out;
    for (const std::string& p : in) {
        if (std::all_of(p.begin(), p.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            out.insert(p);
    }
    return out;
}

class BuildE2E : public ::testing::Test {
  protected:
    RunResult Kavo(const std::vector<std::string>& args, int timeout = 300) {
        std::vector<std::string> full = {"--dbdir", WinePath(HostPath(db_))};
        full.insert(full.end(), args.begin(), args.end());
        return wine_.Run("kavo.exe", full, {}, timeout);
    }
    void ExpectFindLists(char letter, const PathSet& want) {
        const RunResult r = Kavo({"find", std::string(1, letter) + ":"});
        PathSet got;
        std::istringstream lines(r.out);
        std::string line;
        size_t count = 0;
        while (std::getline(lines, line)) {
            if (!line.empty()) {
                got.insert(line);
                ++count;
            }
        }
        EXPECT_EQ(count, want.size());
        EXPECT_EQ(AsciiOnly(got), AsciiOnly(want));
    }
    std::string Ini() { return HostPath(db_) + "kavo.ini"; }
    void SetOption(const char16_t* key, const char16_t* value) {
        ASSERT_TRUE(platform::ProfileWriteString(Utf8ToUtf16(Ini()), u"Options", key,
                                                 std::u16string(value)));
    }
    std::u16string ReadIni(const char16_t* section, const char16_t* key) {
        return platform::ProfileReadString(Utf8ToUtf16(Ini()), section, key, u"<none>", 1024);
    }
    std::string Log() { return ReadText(HostPath(db_) + "kavo.build.log"); }
    // Maps `letter` to a host folder. Wine reads a drive's serial number from its raw device
    // and answers 0 for a folder without one, which a build refuses; the drive therefore
    // also gets a raw device: a small volume that does not read as NTFS (a FAT boot sector
    // with a serial number), so the build walks the folder.
    void MapFolderDrive(char letter, const std::string& folder) {
        const std::string device = HostPath(devices_) + std::string(1, letter) + ".img";
        std::string sector(512, '\0');
        const unsigned char boot[] = {0xEB, 0x3C, 0x90, 'M',  'S',  'D',  'O',  'S',
                                      '5',  '.',  '0',  0x00, 0x02, 0x01, 0x01, 0x00,
                                      0x02, 0x00, 0x02, 0x00, 0x08, 0xF8, 0x08, 0x00};
        std::copy(std::begin(boot), std::end(boot), sector.begin());
        sector[0x26] = 0x29;
        sector.replace(0x27, 4, "\xCD\xAB\x34\x12");
        sector.replace(0x36, 8, "FAT16   ");
        sector[510] = '\x55';
        sector[511] = '\xAA';
        std::ofstream(device, std::ios::binary) << sector << std::string(1 << 20, '\0');
        wine_.MapDrive(letter, folder);
        wine_.MapRawDevice(letter, device);
    }

    test::TempFolder db_;
    test::TempFolder devices_;
    WinePrefix wine_;
};

TEST_F(BuildE2E, BadArgumentsPrintTheirErrorAndTheUsage) {
    const std::string usage = Utf16ToUtf8(kBuildUsageText);
    EXPECT_EQ(Kavo({"build", "1"}).out, "Invalid drive arg\n" + usage);
    EXPECT_EQ(Kavo({"build", "CD"}).out, "Unrecognized arg\n" + usage);
    EXPECT_FALSE(fs::exists(HostPath(db_) + "kavo.frs"));
}

TEST_F(BuildE2E, FolderDriveIsWalkedWithoutIgnoreRulesAndListsWhatFindLists) {
    test::TempFolder drive;
    const std::string root = HostPath(drive) + "tree";
    MakeTree(root, 400);
    // Items that the ignore rules would leave out of an NTFS build; a walk keeps them all.
    fs::create_directories(root + "/marked");
    std::ofstream(root + "/marked/_kavoignore");
    std::ofstream(root + "/marked/inside.txt");
    std::ofstream(root + "/skip.tmp");
    fs::create_directories(root + "/temp");
    std::ofstream(root + "/temp/in-temp.txt");
    // A link back to the root is recorded, never followed.
    fs::create_directory_symlink(root, root + "/loop");
    SetOption(u"ExcludeHidden", u"1");
    SetOption(u"ExcludeByName", u"1");
    SetOption(u"ExcludeNames", u"*.tmp:temp\\");
    MapFolderDrive('k', root);

    const RunResult r = Kavo({"build", "K"});
    EXPECT_NE(r.out.find("Building kavo for drive K ...\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Drive K build done. ("), std::string::npos) << r.out;
    const std::string log = Log();
    EXPECT_NE(log.find("(NTFS Mode)\nRoute: folder walk, no ignore rules apply (the volume "
                       "reports NTFS but its raw volume "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Database written."), std::string::npos);

    // find -P lists the link as a file-like entry; the walk records it as a folder.
    PathSet want = FindListing(root, 'K');
    want.erase("K:\\loop");
    want.insert("K:\\loop\\");
    EXPECT_EQ(DatabaseListing(HostPath(db_)), want);
    ExpectFindLists('K', want);
    EXPECT_EQ(ReadIni(u"KavoIgnoreFolders", u"Count"), u"0");
    EXPECT_EQ(ReadIni(u"Build", u"BuildingDrive"), u"");
}

TEST_F(BuildE2E, DriveMarkerKeepsADriveOutOfAllDriveBuildsButNotANamedOne) {
    test::TempFolder drive;
    std::ofstream(HostPath(drive) + "_kavoignore");
    std::ofstream(HostPath(drive) + "file.txt");
    MapFolderDrive('k', HostPath(drive));
    // Only K: is switched on; every other drive of the prefix stays out.
    std::u16string states;
    for (char16_t c = u'A'; c <= u'Z'; ++c) {
        states += c;
        states += c == u'K' ? u'1' : u'0';
    }
    SetOption(u"VolumeStates", states.c_str());
    Kavo({"build"});
    EXPECT_EQ(Log().find("Building drive K"), std::string::npos) << Log();
    EXPECT_TRUE(DatabaseListing(HostPath(db_)).empty());
    Kavo({"build", "k"});
    EXPECT_EQ(DatabaseListing(HostPath(db_)), (PathSet{"K:\\", "K:\\_kavoignore", "K:\\file.txt"}));
}

class NtfsImage {
  public:
    explicit NtfsImage(const std::string& folder)
        : image_(folder + "volume.img"), mount_(folder + "mnt") {
        fs::create_directories(mount_);
        std::ofstream(image_).close();
        fs::resize_file(image_, 64 << 20);
        EXPECT_EQ(RunHost({"mkntfs", "-F", "-Q", "-q", image_}).exit_code, 0);
        // The file system daemon keeps every descriptor it inherits open, so it must not be
        // started with the harness's output pipes.
        const std::string command =
            "ntfs-3g '" + image_ + "' '" + mount_ + "' </dev/null >/dev/null 2>&1";
        mounted_ = std::system(command.c_str()) == 0;
        EXPECT_TRUE(mounted_);
    }
    ~NtfsImage() { Unmount(); }
    void Unmount() {
        if (mounted_) {
            EXPECT_EQ(RunHost({"fusermount", "-u", mount_}).exit_code, 0);
            mounted_ = false;
        }
    }
    const std::string& Image() const { return image_; }
    const std::string& Mount() const { return mount_; }
    bool Mounted() const { return mounted_; }

  private:
    std::string image_;
    std::string mount_;
    bool mounted_ = false;
};

void SetHidden(const std::string& path) {
    const uint32_t attributes = 0x2;  // FILE_ATTRIBUTE_HIDDEN, little-endian
    ASSERT_EQ(::setxattr(path.c_str(), "system.ntfs_attrib", &attributes, sizeof attributes, 0), 0)
        << path;
}

TEST_F(BuildE2E, NtfsImageDriveIsReadRawAndListsWhatFindAndFlsList) {
    test::TempFolder work;
    NtfsImage ntfs(HostPath(work));
    ASSERT_TRUE(ntfs.Mounted());
    const std::string root = ntfs.Mount();
    MakeTree(root, 400);
    fs::create_directories(root + "/docs/ignored/deeper");
    std::ofstream(root + "/docs/ignored/_kavoignore");
    std::ofstream(root + "/docs/ignored/deeper/gone.txt");
    std::ofstream(root + "/docs/kept.txt");
    std::ofstream(root + "/old.tmp");
    fs::create_directories(root + "/Temp/inner");
    std::ofstream(root + "/Temp/inner/t.txt");
    std::ofstream(root + "/secret.txt");
    SetHidden(root + "/secret.txt");
    fs::create_directories(root + "/hidden-folder");
    std::ofstream(root + "/hidden-folder/below.txt");
    SetHidden(root + "/hidden-folder");
    const PathSet all = FindListing(root, 'Q');
    const PathSet first = FindListing(root, 'Q', {"docs/ignored"});
    const PathSet second =
        FindListing(root, 'Q', {"docs/ignored", "old.tmp", "Temp", "secret.txt", "hidden-folder"});
    ntfs.Unmount();
    EXPECT_EQ(FlsListing(ntfs.Image(), 'Q'), all);

    // The letter shows an empty folder; its raw device reads the image.
    wine_.MapDrive('q', HostPath(work) + "mnt");
    wine_.MapRawDevice('q', ntfs.Image());
    const RunResult r = Kavo({"build", "Q"});
    EXPECT_NE(r.out.find("Drive Q build done. ("), std::string::npos) << r.out;
    std::string log = Log();
    EXPECT_NE(log.find("(NTFS Mode)\nDoing full scan\nParsing MFT..\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Route: full MFT scan (no journal position is stored)"), std::string::npos);
    EXPECT_EQ(DatabaseListing(HostPath(db_)), first);
    ExpectFindLists('Q', first);
    EXPECT_EQ(ReadIni(u"KavoIgnoreFolders", u"Count"), u"1");
    EXPECT_EQ(ReadIni(u"KavoIgnoreFolders", u"Item_1"), u"Q:\\docs\\ignored");

    // With the options on, the next build (again a full scan: ntfs-3g writes no journal)
    // leaves out hidden items, *.tmp files and folders named temp in any case.
    SetOption(u"ExcludeHidden", u"1");
    SetOption(u"ExcludeByName", u"1");
    SetOption(u"ExcludeNames", u"*.tmp:temp\\");
    Kavo({"build", "Q"});
    EXPECT_EQ(DatabaseListing(HostPath(db_)), second);
    EXPECT_EQ(ReadIni(u"KavoIgnoreFolders", u"Count"), u"1");
}

TEST_F(BuildE2E, SecondBuildWhileTheFirstHoldsTheLockTouchesNothing) {
    test::TempFolder drive;
    std::ofstream(HostPath(drive) + "one.txt");
    MapFolderDrive('k', HostPath(drive));
    Kavo({"build", "K"});
    const std::string frs = ReadText(HostPath(db_) + "kavo.frs");
    const std::string log = Log();
    ASSERT_FALSE(frs.empty());
    std::ofstream(HostPath(drive) + "two.txt");

    // Another process holds the lock of this database folder until the marker goes.
    const std::string held = HostPath(db_) + "lock-held";
    std::thread holder([&] {
        wine_.Run("kavo_build_tests.exe",
                  {"--gtest_also_run_disabled_tests", "--gtest_filter=BuildLockHelper.*"},
                  {{"KAVO_HOLD_LOCK_DBDIR", WinePath(HostPath(db_))},
                   {"KAVO_HOLD_LOCK_HELD", WinePath(held)}},
                  180);
    });
    for (int i = 0; i < 1200 && !fs::exists(held); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(fs::exists(held));
    const RunResult r = Kavo({"build", "K"});
    fs::remove(held);
    holder.join();
    EXPECT_EQ(r.out, "A previous build command is still running. \nOperation canceled.\n");
    EXPECT_EQ(ReadText(HostPath(db_) + "kavo.frs"), frs);
    EXPECT_EQ(Log(), log);

    Kavo({"build", "K"});
    EXPECT_TRUE(DatabaseListing(HostPath(db_)).count("K:\\two.txt"));
}

}  // namespace
}  // namespace kavo::e2e

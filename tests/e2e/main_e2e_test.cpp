// The entry routine and dispatcher of the real kavo.exe under Wine, and of the native kavo.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/text.h"
#include "main/entry.h"
#include "platform/profile.h"
#include "tests/e2e/wine_harness.h"
#include "tests/support/test_support.h"

namespace kavo::e2e {
namespace {
namespace fs = std::filesystem;

const std::string kUsage = Utf16ToUtf8(kavo::kUsageText);

std::string HostPath(const test::TempFolder& dir) {
    std::string p = Utf16ToUtf8(dir.Path());
    for (char& c : p) {
        if (c == '\\') c = '/';
    }
    return p;
}

struct ArgsCase {
    std::vector<std::string> args;
    std::string out;
};

// Every case runs with --dbdir, which the entry routine takes out before dispatching.
const ArgsCase kArgsCases[] = {
    {{}, kUsage},
    {{"-v"}, "\nkavo version: 4.4.0\n"},
    {{"--version"}, "\nkavo version: 4.4.0\n"},
    {{"-v", "x"}, kUsage},
    {{"-x"}, kUsage},
    {{"-h"}, kUsage},
    {{"BUILD"}, "invalid sub command :BUILD\n" + kUsage},
    {{"test"}, ""},
    {{"test", "extra"}, ""},
};

TEST(MainE2E, ArgumentsUnderWine) {
    test::TempFolder db;
    WinePrefix wine;
    for (const ArgsCase& c : kArgsCases) {
        std::vector<std::string> args = {"--dbdir", WinePath(HostPath(db))};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = wine.Run("kavo.exe", args);
        EXPECT_EQ(r.exit_code, 0) << c.args.size();
        EXPECT_EQ(r.out, c.out) << (c.args.empty() ? "(none)" : c.args[0]);
    }
}

TEST(MainE2E, ArgumentsNatively) {
    test::TempFolder db;
    for (const ArgsCase& c : kArgsCases) {
        std::vector<std::string> argv = {std::string(KAVO_NATIVE_BIN) + "/kavo", "--dbdir",
                                         HostPath(db)};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunResult r = RunHost(argv);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, c.out) << (c.args.empty() ? "(none)" : c.args[0]);
    }
}

TEST(MainE2E, DbdirOnAMappedDriveIsCreated) {
    test::TempFolder drive;
    WinePrefix wine;
    wine.MapDrive('d', HostPath(drive));
    const RunResult r = wine.Run("kavo.exe", {"--dbdir", "D:/x", "test"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::is_directory(HostPath(drive) + "x"));
}

TEST(MainE2E, CleanDeletesTheDatabaseFilesAndTheIgnoreList) {
    test::TempFolder db;
    const std::string dir = HostPath(db);
    for (const char* name : {"FRN_FUID.map", "kavo.nrs", "kavo.frs", "other.txt"}) {
        std::ofstream(dir + name) << "x";
    }
    const std::u16string ini = db.File(u"kavo.ini");
    ASSERT_TRUE(platform::ProfileWriteString(ini, u"KavoIgnoreFolders", u"Count", u"1"));
    ASSERT_TRUE(platform::ProfileWriteString(ini, u"KavoIgnoreFolders", u"Item_0", u"C:\\x"));
    ASSERT_TRUE(platform::ProfileWriteString(ini, u"Options", u"AutoBuild", u"1"));

    WinePrefix wine;
    const std::string wdir = WinePath(dir);  // ends with a backslash
    const RunResult r = wine.Run("kavo.exe", {"--dbdir", wdir, "clean"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "Deleting " + wdir + "FRN_FUID.map\n\nDeleting " + wdir +
                         "kavo.nrs\n\nDeleting " + wdir + "kavo.frs\n\n");
    EXPECT_FALSE(fs::exists(dir + "FRN_FUID.map"));
    EXPECT_FALSE(fs::exists(dir + "kavo.frs"));
    EXPECT_TRUE(fs::exists(dir + "other.txt"));
    EXPECT_EQ(platform::ProfileSectionNames(ini, 4096), std::vector<std::u16string>{u"Options"});

    // On a folder without database files it prints nothing and still drops the section.
    ASSERT_TRUE(platform::ProfileWriteString(ini, u"KavoIgnoreFolders", u"Count", u"0"));
    const RunResult again = wine.Run("kavo.exe", {"--dbdir", wdir, "clean"});
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(platform::ProfileSectionNames(ini, 4096), std::vector<std::u16string>{u"Options"});
}

TEST(MainE2E, SubcommandsNotYetBuiltSaySo) {
    test::TempFolder db;
    WinePrefix wine;
    const RunResult r = wine.Run("kavo.exe", {"--dbdir", WinePath(HostPath(db)), "gui"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("not in this build"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace kavo::e2e

#include <gtest/gtest.h>

#include "main/entry.h"
#include "main/program_home.h"
#include "platform/profile.h"
#include "tests/support/test_support.h"

namespace kavo {
namespace {

TEST(ProgramHome, DefaultFolder) {
    struct Case {
        std::optional<std::u16string> home_drive, system_drive, home_path;
        std::u16string want;
    } cases[] = {
        {u"c:", std::nullopt, u"\\Users\\ann", u"C:\\Users\\ann\\.kavo\\"},
        {std::nullopt, u"d:", u"\\Users\\bob", u"D:\\Users\\bob\\.kavo\\"},
        {u"e:", u"d:", std::nullopt, u"E:\\.kavo\\"},
        {std::nullopt, std::nullopt, std::nullopt, u"\\.kavo\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComputeDefaultFolder(c.home_drive, c.system_drive, c.home_path), c.want);
    }
}

TEST(ProgramHome, RedirectionPerProgramPath) {
    test::TempFolder base;
    const std::u16string program = u"C:\\Tools\\kavo.exe";
    EXPECT_EQ(SettleDatabaseFolder(base.Path(), program), base.Path());

    ASSERT_TRUE(SaveRedirection(base.Path(), program, u"d:\\db"));
    EXPECT_EQ(SettleDatabaseFolder(base.Path(), program), u"D:\\db\\");
    // Another installation keeps its own value.
    EXPECT_EQ(SettleDatabaseFolder(base.Path(), u"C:\\Other\\kavo.exe"), base.Path());

    // "=" cannot stand in a key: it is stored as "#", and found again.
    const std::u16string odd = u"C:\\a=b\\kavo.exe";
    ASSERT_TRUE(SaveRedirection(base.Path(), odd, u"e:\\x\\"));
    EXPECT_EQ(platform::ProfileReadString(base.File(u"kavo.ini"), u"KavoHome", u"C:\\a#b\\kavo.exe",
                                          u"", 255),
              u"e:\\x\\");
    EXPECT_EQ(SettleDatabaseFolder(base.Path(), odd), u"E:\\x\\");

    // An empty redirection removes the key.
    ASSERT_TRUE(SaveRedirection(base.Path(), program, u""));
    EXPECT_EQ(
        platform::ProfileReadString(base.File(u"kavo.ini"), u"KavoHome", program, u"missing", 255),
        u"missing");
    EXPECT_EQ(SettleDatabaseFolder(base.Path(), program), base.Path());
}

TEST(ProgramHome, DbdirUsesTheRedirectionInItsOwnSettings) {
    test::TempFolder dbdir;
    test::TempFolder home;
    const std::u16string program = u"C:\\Tools\\kavo.exe";
    ASSERT_TRUE(SaveRedirection(home.Path(), program, u"h:\\from-home"));
    ASSERT_TRUE(SaveRedirection(dbdir.Path(), program, u"g:\\from-dbdir"));
    EXPECT_EQ(SettleDatabaseFolder(dbdir.Path(), program), u"G:\\from-dbdir\\");
}

TEST(EntryRoutine, TakeDbdir) {
    struct Case {
        std::vector<std::u16string> in;
        std::u16string folder;
        std::vector<std::u16string> rest;
    } cases[] = {
        {{u"kavo", u"--dbdir", u"D:/x", u"build", u"C"}, u"D:\\x\\", {u"kavo", u"build", u"C"}},
        {{u"kavo", u"find", u"--dbdir", u"e:\\db\\", u"x"}, u"e:\\db\\", {u"kavo", u"find", u"x"}},
        {{u"kavo", u"--dbdir", u"a", u"--dbdir", u"b"}, u"a\\", {u"kavo", u"--dbdir", u"b"}},
        {{u"kavo", u"test", u"--dbdir"}, u"", {u"kavo", u"test"}},
        {{u"kavo", u"--DBDIR", u"x"}, u"", {u"kavo", u"--DBDIR", u"x"}},
        {{u"kavo"}, u"", {u"kavo"}},
    };
    for (Case& c : cases) {
        EXPECT_EQ(TakeDbdir(c.in), c.folder);
        EXPECT_EQ(c.in, c.rest);
    }
}

}  // namespace
}  // namespace kavo

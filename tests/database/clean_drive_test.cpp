#include <gtest/gtest.h>

#include "database/open_database.h"
#include "main/process.h"
#include "main/subcommands.h"
#include "tests/database/db_test_util.h"
#include "tests/support/test_support.h"

namespace kavo {
namespace {

using test::Entry;
using test::K;

TEST(CleanDrive, EmptiesOneDriveAndForcesAFullScan) {
    test::TempFolder dir;
    {
        RecordStore s;
        LoadRecordStore(dir.Path(), s);
        s.AddRecord(Entry(K(1024, u'C'), 0, u"C:", true));
        s.AddRecord(Entry(K(1025, u'C'), K(1024, u'C'), u"mnt", true));
        s.AddRecord(Entry(K(5, u'C', 1), K(1025, u'C'), u"on the mounted volume", false));
        s.AddRecord(Entry(K(1024, u'D'), 0, u"D:", true));
        s.AddRecord(Entry(K(1025, u'D'), K(1024, u'D'), u"kept", false));
        for (uint32_t d : {2u, 3u}) {
            s.Drive(d).serial = 0x1234;
            s.Drive(d).journal_id = 9;
            s.Drive(d).next_usn = 88;
            s.Drive(d).display_name = u"Disk";
        }
        ASSERT_TRUE(SaveRecordStoreAt(s, true, 500));
    }
    Process().database_folder = dir.Path();
    CleanDrive(u'c');
    Process().database_folder.clear();

    auto db = LoadedDatabase::Load(dir.Path());
    EXPECT_EQ(test::AllPaths(*db), (std::vector<std::u16string>{u"D:", u"D:\\kept"}));
    EXPECT_EQ(db->DatabaseTime(), 500u);
    EXPECT_EQ(db->Drive(2).serial, 0u);
    EXPECT_EQ(db->Drive(2).journal_id, 0u);
    EXPECT_EQ(db->Drive(2).next_usn, 0);
    EXPECT_EQ(db->Drive(2).display_name, u"Disk");
    EXPECT_EQ(db->Drive(3).serial, 0x1234u);
    EXPECT_EQ(db->Drive(3).next_usn, 88);
    const std::vector<uint8_t> log = test::ReadBytes(dir.File(u"kavo.build.log"));
    const std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("Openning database.."), std::string::npos);
    EXPECT_NE(text.find("Database opened."), std::string::npos);
}

TEST(OpenDatabase, CtrlCSavesTheStoreOnce) {
    test::TempFolder dir;
    RecordStore s;
    LoadRecordStore(dir.Path(), s);
    {
        OpenDatabase open(s);
        s.AddRecord(Entry(K(1024), 0, u"C:", true));
        IOpenDatabase* db = Process().open_database.load();
        ASSERT_NE(db, nullptr);
        db->SaveOnce();
        s.AddRecord(Entry(K(1025), K(1024), u"after", false));
        db->SaveOnce();  // a second Ctrl-C finds the store saved
        EXPECT_FALSE(SaveRecordStore(s, false));
    }
    EXPECT_EQ(Process().open_database.load(), nullptr);
    EXPECT_EQ(LoadedDatabase::Load(dir.Path())->RecordCount(), 1);
}

}  // namespace
}  // namespace kavo

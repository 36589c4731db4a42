#include <gtest/gtest.h>

#include <random>

#include "database/db_format.h"
#include "tests/database/db_test_util.h"
#include "tests/support/test_support.h"

namespace kavo {
namespace {

using test::Entry;
using test::K;
using test::ReadBytes;
using test::WriteBytes;

class DatabaseFiles : public ::testing::Test {
  protected:
    test::TempFolder dir;
    std::u16string frs = dir.File(u"kavo.frs");
    std::u16string nrs = dir.File(u"kavo.nrs");
    std::u16string hid = dir.File(u"kavo.hid");

    // A small drive C: \Docs\Read Me.TXT, \Docs\b.txt, \M\u00FCller\, \x.bin
    void MakeSample(RecordStore& s) {
        s.AddRecord(Entry(K(1024), 0, u"C:", true));
        s.AddRecord(Entry(K(1025), K(1024), u"Docs", true, 0, 5));
        s.AddRecord(Entry(K(1026), K(1025), u"Read Me.TXT", false, 11, 6));
        s.AddRecord(Entry(K(1027), K(1025), u"b.txt", false, -3, 7));
        s.AddRecord(Entry(K(1028), K(1024), u"M\u00FCller", true));
        s.AddRecord(Entry(K(1029), K(1024), u"x.bin", false, kUnknownSize, 8));
        s.Drive(2).display_name = u"System";
        s.Drive(2).journal_id = 77;
        s.Drive(2).next_usn = 1234;
        s.Drive(2).serial = 0xABCD;
        s.Drive(2).built = 1;
        s.Drive(3).display_name = u"Data";
        s.Volume(1).mount_key = K(1028);
        s.Volume(1).SetGuid(u"01234567-89ab-cdef-0123-456789abcdef");
    }

    void SaveSample(PackedTime now = 1000, bool stamp = true) {
        RecordStore s;
        LoadRecordStore(dir.Path(), s);
        MakeSample(s);
        ASSERT_TRUE(SaveRecordStoreAt(s, stamp, now));
    }
};

TEST_F(DatabaseFiles, EmptyStoreWritesTheMinimalFiles) {
    RecordStore s;
    EXPECT_EQ(LoadRecordStore(dir.Path(), s).code, DbStatus::Code::kMissing);
    EXPECT_TRUE(s.IsLoaded());
    ASSERT_TRUE(SaveRecordStoreAt(s, false, 0));
    EXPECT_EQ(ReadBytes(nrs), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(ReadBytes(frs).size(), 128u + 3328u + 32768u);
    EXPECT_EQ(ReadFormatVersion(dir.Path()), u"4.0.0");
    EXPECT_FALSE(platform::FileExists(frs + u".tmp"));
    EXPECT_FALSE(platform::FileExists(hid));

    RecordStore named;
    LoadRecordStore(dir.Path(), named);
    named.Drive(0).display_name = u"Floppy";
    ASSERT_TRUE(SaveRecordStoreAt(named, false, 0));
    EXPECT_EQ(ReadBytes(frs).size(), 128u + 3328u + 12u + 32768u);
}

TEST_F(DatabaseFiles, SaveHappensOnceAndOnlyAfterALoad) {
    RecordStore never_loaded;
    EXPECT_FALSE(SaveRecordStoreAt(never_loaded, false, 0));
    EXPECT_FALSE(platform::FileExists(frs));
    RecordStore s;
    LoadRecordStore(dir.Path(), s);
    s.AddRecord(Entry(K(1024), 0, u"C:", true));
    EXPECT_TRUE(SaveRecordStoreAt(s, false, 0));
    s.AddRecord(Entry(K(1025), K(1024), u"late", false));
    EXPECT_FALSE(SaveRecordStoreAt(s, false, 0));
    EXPECT_EQ(LoadedDatabase::Load(dir.Path())->RecordCount(), 1);
}

TEST_F(DatabaseFiles, BytesOfASmallDatabase) {
    SaveSample(4242);
    const std::vector<uint8_t> n = ReadBytes(nrs);
    using dbformat::U32;
    // Keys in order: 1c:, 1docs, 1m\u00FCller (wide), 2b.txt, 2read me.txt, 2x.bin
    ASSERT_GE(n.size(), 4u + 6 * 11);
    EXPECT_EQ(U32(n.data()), 6u);
    const uint8_t* item = n.data() + 4;
    const int32_t firsts[] = {0, 1, 2, 3, 4, 5};
    const uint8_t wide[] = {0, 0, 1, 0, 0, 0};
    const uint8_t upper[] = {1, 1, 1, 0, 5, 0};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(static_cast<int32_t>(U32(item + 11 * i + 4)), firsts[i]);
        EXPECT_EQ(item[11 * i + 8], wide[i]);
        EXPECT_EQ(item[11 * i + 10], upper[i]);
    }
    // The wide key: "1m\u00FCller" + 0x1F + position 1, two bytes a unit.
    const uint8_t* keys = item + 66;
    const size_t narrow1 = 1 + 2 + 2, narrow2 = 1 + 4 + 2;
    const uint8_t* wide_key = keys + narrow1 + narrow2;
    const std::vector<uint8_t> want = {'1', 0,   'm', 0,   0xFC, 0,    'l', 0, 'l',
                                       0,   'e', 0,   'r', 0,    0x1F, 0,   1, 0};
    EXPECT_EQ(std::vector<uint8_t>(wide_key, wide_key + want.size()), want);

    const std::vector<uint8_t> f = ReadBytes(frs);
    ASSERT_EQ(f.size(), 128u + 3328 + 6 * 20 + 2 * (6 + 4) + 32768);
    EXPECT_EQ(U32(f.data()), 1024u);
    EXPECT_EQ(U32(f.data() + 4), 6u);
    EXPECT_EQ(U32(f.data() + 8), 4242u);
    // Drive C: slot: journal, USN, serial, name start/length, built flag.
    const uint8_t* c = f.data() + 128 + 2 * 128;
    EXPECT_EQ(dbformat::U64(c), 77u);
    EXPECT_EQ(dbformat::U64(c + 8), 1234u);
    EXPECT_EQ(U32(c + 16), 0xABCDu);
    EXPECT_EQ(U32(c + 24), 0u);
    EXPECT_EQ(U32(c + 28), 6u);
    EXPECT_EQ(c[32], 1);
    EXPECT_EQ(U32(c + 128 + 24), 6u);  // D: starts after "System"
    EXPECT_EQ(U32(c + 128 + 28), 4u);
    // Record 4 is Read Me.TXT, its parent Docs is record 1.
    const uint8_t* r4 = f.data() + 3456 + 4 * 20;
    EXPECT_EQ(dbformat::U64(r4), K(1026));
    EXPECT_EQ(static_cast<int32_t>(U32(r4 + 8)), 1);
    EXPECT_EQ(U32(r4 + 12), 6u);
    EXPECT_EQ(static_cast<int32_t>(U32(r4 + 16)), 11);
    EXPECT_EQ(static_cast<int32_t>(U32(f.data() + 3456 + 8)), -1);  // C: has no parent
    // Volume slot 1: GUID text and mount key.
    const uint8_t* v1 = f.data() + f.size() - 32768 + 128;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v1 + 33)),
              "01234567-89ab-cdef-0123-456789abcdef");
    EXPECT_EQ(dbformat::U64(v1 + 70), K(1028));
}

TEST_F(DatabaseFiles, StoreRoundTripKeepsTablesAndRecords) {
    SaveSample();
    RecordStore s;
    ASSERT_TRUE(LoadRecordStore(dir.Path(), s).Ok());
    EXPECT_EQ(s.RecordCount(), 6);
    EXPECT_EQ(s.Drive(2).display_name, u"System");
    EXPECT_EQ(s.Drive(2).next_usn, 1234);
    EXPECT_EQ(s.Drive(3).display_name, u"Data");
    EXPECT_EQ(s.Volume(1).mount_key, K(1028));
    EXPECT_EQ(s.Volume(1).GuidText(), u"01234567-89ab-cdef-0123-456789abcdef");
    ASSERT_NE(s.FindFolder(K(1025)), nullptr);
    EXPECT_EQ(s.FindFolder(K(1025))->parent_key, K(1024));
    EXPECT_TRUE(s.UpdateRecord(Entry(K(1026), K(1025), u"Read Me.TXT", false, 99, 9)));
    EXPECT_TRUE(s.RemoveRecord(Entry(K(1029), K(1024), u"x.bin", false)));
    ASSERT_TRUE(SaveRecordStoreAt(s, false, 0));
    auto db = LoadedDatabase::Load(dir.Path());
    EXPECT_EQ(test::AllPaths(*db),
              (std::vector<std::u16string>{u"C:", u"C:\\Docs", u"C:\\M\u00FCller",
                                           u"C:\\Docs\\b.txt", u"C:\\Docs\\Read Me.TXT"}));
    EXPECT_EQ(db->Size(4), 99);
    EXPECT_EQ(db->DatabaseTime(), 1000u);  // kept: this save was not of all drives
}

TEST_F(DatabaseFiles, FileWithoutVolumeTableLoads) {
    SaveSample();
    std::vector<uint8_t> f = ReadBytes(frs);
    f.resize(f.size() - 32768);
    WriteBytes(frs, f);
    RecordStore s;
    ASSERT_TRUE(LoadRecordStore(dir.Path(), s).Ok());
    EXPECT_EQ(s.RecordCount(), 6);
    EXPECT_EQ(s.Volume(1).mount_key, 0u);
    EXPECT_EQ(s.Drive(3).display_name, u"Data");
    EXPECT_TRUE(LoadedDatabase::Load(dir.Path())->RecordCount() == 6);
}

TEST_F(DatabaseFiles, HiddenListFollowsTheNewIndices) {
    SaveSample();
    {
        auto db = LoadedDatabase::Load(dir.Path());
        const int32_t readme = db->RecordOfPath(u"C:\\Docs\\Read Me.TXT", true);
        const int32_t b = db->RecordOfPath(u"C:\\docs\\B.TXT", true);
        ASSERT_EQ(readme, 4);
        ASSERT_EQ(b, 3);
        db->SetHidden(readme, kHiddenByUser);
        db->SetHidden(b, kDeletedByProgram);
        ASSERT_TRUE(db->SaveHiddenList(dir.Path()));
        EXPECT_EQ(ReadBytes(hid).size(), 4u + 2 * 5);
    }
    {
        // A build adds files that sort first, so every file index moves.
        RecordStore s;
        LoadRecordStore(dir.Path(), s);
        s.AddRecord(Entry(K(2000), K(1024), u"aaa", false));
        s.AddRecord(Entry(K(2001), K(1024), u"aab", false));
        ASSERT_TRUE(SaveRecordStoreAt(s, false, 0));
    }
    auto db = LoadedDatabase::Load(dir.Path());
    const int32_t readme = db->RecordOfPath(u"C:\\Docs\\Read Me.TXT", true);
    EXPECT_EQ(readme, 6);
    for (int32_t r = 0; r < db->RecordCount(); ++r) {
        EXPECT_EQ(db->HiddenMark(r), r == readme ? kHiddenByUser : 0) << r;
    }
    EXPECT_EQ(ReadBytes(hid).size(), 4u + 5);

    // An entry whose record a build removed is dropped rather than moved to another record.
    {
        RecordStore s;
        LoadRecordStore(dir.Path(), s);
        EXPECT_TRUE(s.RemoveRecord(Entry(K(1026), K(1025), u"Read Me.TXT", false)));
        s.AddRecord(Entry(K(2002), K(1024), u"zzz", false));
        ASSERT_TRUE(SaveRecordStoreAt(s, false, 0));
    }
    EXPECT_FALSE(platform::FileExists(hid));
}

TEST_F(DatabaseFiles, SingleDriveSaveKeepsTheDatabaseTime) {
    SaveSample(5555, true);
    for (bool stamp : {false, true}) {
        RecordStore s;
        LoadRecordStore(dir.Path(), s);
        EXPECT_EQ(s.DatabaseTime(), 5555u);
        ASSERT_TRUE(SaveRecordStoreAt(s, stamp, 7777));
        EXPECT_EQ(LoadedDatabase::Load(dir.Path())->DatabaseTime(), stamp ? 7777u : 5555u);
    }
}

TEST_F(DatabaseFiles, HeaderBytesAreCarriedOver) {
    SaveSample();
    std::vector<uint8_t> f = ReadBytes(frs);
    f[100] = 0x5A;
    WriteBytes(frs, f);
    RecordStore s;
    LoadRecordStore(dir.Path(), s);
    ASSERT_TRUE(SaveRecordStoreAt(s, false, 0));
    EXPECT_EQ(ReadBytes(frs)[100], 0x5A);
}

TEST_F(DatabaseFiles, FormatVersion) {
    EXPECT_EQ(ReadFormatVersion(dir.Path()), u"");
    WriteBytes(frs, {0, 3, 0});
    EXPECT_EQ(ReadFormatVersion(dir.Path()), u"");
    WriteBytes(frs, {0, 3, 0, 0, 9});
    EXPECT_EQ(ReadFormatVersion(dir.Path()), u"3.0.0");
}

TEST_F(DatabaseFiles, ParentCyclesAreCutWhenSaving) {
    RecordStore s;
    LoadRecordStore(dir.Path(), s);
    s.AddRecord(Entry(K(1024), 0, u"C:", true));
    s.AddRecord(Entry(K(1030), K(1031), u"a", true));  // a and b inside each other
    s.AddRecord(Entry(K(1031), K(1030), u"b", true));
    s.AddRecord(Entry(K(1032), K(1032), u"self", true));
    s.AddRecord(Entry(K(1033), K(1031), u"f", false));
    ASSERT_TRUE(SaveRecordStoreAt(s, false, 0));
    DbStatus st;
    auto db = LoadedDatabase::Load(dir.Path(), &st);
    ASSERT_TRUE(st.Ok()) << std::string(st.reason.begin(), st.reason.end());
    EXPECT_EQ(db->RecordCount(), 5);
    // The cut branches have no drive root: they are hidden as orphans.
    const int32_t root = db->RecordOfPath(u"C:");
    ASSERT_GE(root, 0);
    for (int32_t r = 0; r < 5; ++r) {
        EXPECT_EQ(db->HiddenMark(r), r == root ? 0 : kHiddenByUser) << r;
    }
}

// Damaged files: every case is "damaged" for both loaders, never a crash.
TEST_F(DatabaseFiles, DamagedPairsAreRejected) {
    SaveSample();
    const std::vector<uint8_t> f0 = ReadBytes(frs);
    const std::vector<uint8_t> n0 = ReadBytes(nrs);
    using dbformat::PutU32;
    struct Case {
        const char* what;
        std::vector<uint8_t> f, n;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, auto change_f, auto change_n) {
        Case c{what, f0, n0};
        change_f(c.f);
        change_n(c.n);
        cases.push_back(c);
    };
    auto same = [](std::vector<uint8_t>&) {};
    add(
        "frs cut in the header", [](auto& f) { f.resize(100); }, same);
    add(
        "frs cut in the records", [](auto& f) { f.resize(3456 + 50); }, same);
    add(
        "frs cut in the volume table", [](auto& f) { f.resize(f.size() - 5); }, same);
    add(
        "record count too big", [](auto& f) { PutU32(f.data() + 4, 0x7FFFFFFF); }, same);
    add(
        "record count one less", [](auto& f) { PutU32(f.data() + 4, 5); }, same);
    add(
        "drive name too long", [](auto& f) { PutU32(f.data() + 128 + 3 * 128 + 28, 60000); }, same);
    add(
        "parent out of range", [](auto& f) { PutU32(f.data() + 3456 + 8, 6); }, same);
    add(
        "parent is a file", [](auto& f) { PutU32(f.data() + 3456 + 20 + 8, 4); }, same);
    add(
        "parents loop", [](auto& f) { PutU32(f.data() + 3456 + 8, 1); }, same);
    add("nrs cut in the items", same, [](auto& n) { n.resize(30); });
    add("nrs cut in the keys", same, [](auto& n) { n.resize(n.size() - 1); });
    add("nrs with a trailing byte", same, [](auto& n) { n.push_back(0); });
    add("name count too big", same, [](auto& n) { PutU32(n.data(), 1000000); });
    add("first index falls", same, [](auto& n) { PutU32(n.data() + 4 + 3 * 11 + 4, 1); });
    add("first index past the records", same,
        [](auto& n) { PutU32(n.data() + 4 + 5 * 11 + 4, 6); });
    add("first index of the first name", same, [](auto& n) { PutU32(n.data() + 4 + 4, 1); });
    add("too many capitals", same, [](auto& n) { n[4 + 10] = 3; });
    add("length past the keys", same, [](auto& n) { n[4 + 5 * 11 + 9] = 200; });
    add("bad flag unit", same, [](auto& n) { n[4 + 66] = '3'; });
    add("keys out of order", same, [](auto& n) { n[4 + 66 + 1] = 'z'; });
    add("capital position outside the name", same, [](auto& n) { n[4 + 66 + 4] = 9; });
    add("width flag 2", same, [](auto& n) { n[4 + 8] = 2; });
    // A new kavo.frs beside an old kavo.nrs: the names of an earlier, smaller save.
    {
        RecordStore s;
        test::TempFolder other;
        LoadRecordStore(other.Path(), s);
        s.AddRecord(Entry(K(1024), 0, u"C:", true));
        s.AddRecord(Entry(K(1026), K(1024), u"zz", false));
        ASSERT_TRUE(SaveRecordStoreAt(s, false, 0));
        cases.push_back({"old names beside new records", f0, ReadBytes(other.File(u"kavo.nrs"))});
    }
    for (const Case& c : cases) {
        DbStatus st;
        auto db = LoadedDatabase::LoadFromBytes(&c.f, &c.n, nullptr, &st);
        EXPECT_TRUE(st.Damaged()) << c.what;
        EXPECT_FALSE(st.reason.empty()) << c.what;
        EXPECT_EQ(db->RecordCount(), 0) << c.what;
        RecordStore s;
        EXPECT_TRUE(LoadRecordStoreFromBytes(s, &c.f, &c.n).Damaged()) << c.what;
        EXPECT_EQ(s.RecordCount(), 0) << c.what;
    }
    // The undamaged pair passes.
    DbStatus st;
    LoadedDatabase::LoadFromBytes(&f0, &n0, nullptr, &st);
    EXPECT_TRUE(st.Ok());
}

TEST_F(DatabaseFiles, DamagedFilesOnDiskGiveAnEmptyStoreThatSavesAFreshDatabase) {
    SaveSample();
    std::vector<uint8_t> n = ReadBytes(nrs);
    n.resize(n.size() - 3);
    WriteBytes(nrs, n);
    RecordStore s;
    EXPECT_TRUE(LoadRecordStore(dir.Path(), s).Damaged());
    EXPECT_TRUE(s.IsLoaded());
    EXPECT_EQ(s.RecordCount(), 0);
    s.AddRecord(Entry(K(1024), 0, u"C:", true));
    ASSERT_TRUE(SaveRecordStoreAt(s, true, 1));
    DbStatus st;
    EXPECT_EQ(LoadedDatabase::Load(dir.Path(), &st)->RecordCount(), 1);
    EXPECT_TRUE(st.Ok());
}

TEST_F(DatabaseFiles, RandomBytesNeverCrash) {
    SaveSample();
    const std::vector<uint8_t> f0 = ReadBytes(frs);
    const std::vector<uint8_t> n0 = ReadBytes(nrs);
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> f = f0, n = n0;
        std::vector<uint8_t>& target = round % 2 ? f : n;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < flips; ++i) {
            target[rng() % target.size()] = static_cast<uint8_t>(rng());
        }
        if (round % 7 == 0) {
            target.resize(rng() % target.size());
        }
        std::vector<uint8_t> h(rng() % 40);
        for (uint8_t& b : h) {
            b = static_cast<uint8_t>(rng());
        }
        DbStatus st;
        auto db = LoadedDatabase::LoadFromBytes(&f, &n, &h, &st);
        std::array<int32_t, kMaxChainDepth> chain;
        for (int32_t r = 0; r < db->RecordCount(); ++r) {
            db->PathOfRecord(r, true);
            db->AncestorChain(r, chain);
        }
        RecordStore s;
        LoadRecordStoreFromBytes(s, &f, &n);
    }
}

TEST_F(DatabaseFiles, ShortHiddenListsAreReadAsFarAsTheyGo) {
    SaveSample();
    const std::vector<uint8_t> f = ReadBytes(frs), n = ReadBytes(nrs);
    struct Case {
        std::vector<uint8_t> hid;
        std::vector<uint8_t> marks;  // of records 0..5
    } cases[] = {
        {{}, {0, 0, 0, 0, 0, 0}},
        {{2, 0}, {0, 0, 0, 0, 0, 0}},
        // Two entries promised, one index and no flags: the flag counts as 1.
        {{2, 0, 0, 0, 3, 0, 0, 0}, {0, 0, 0, 1, 0, 0}},
        // Out-of-range indices are skipped.
        {{3, 0, 0, 0, 5, 0, 0, 0, 99, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 255, 255, 255},
         {0, 0, 0, 0, 0, 255}},
        {{0xFF, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0}, {0, 0, 0, 0, 1, 0}},
    };
    for (const Case& c : cases) {
        DbStatus st;
        auto db = LoadedDatabase::LoadFromBytes(&f, &n, &c.hid, &st);
        ASSERT_TRUE(st.Ok());
        for (int32_t r = 0; r < 6; ++r) {
            EXPECT_EQ(db->HiddenMark(r), c.marks[static_cast<size_t>(r)]) << r;
        }
    }
}

}  // namespace
}  // namespace kavo

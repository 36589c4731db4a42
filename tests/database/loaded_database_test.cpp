#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "base/case_map.h"
#include "base/text.h"
#include "tests/database/db_test_util.h"
#include "tests/support/test_support.h"

namespace kavo {
namespace {

using test::Entry;
using test::K;

struct Expected {
    std::u16string path;
    bool folder;
    SizeCode size;
    PackedTime time;
};

// A generated tree on C: and D: with capitals, non-ASCII names, a chain of 300 folders and
// names shared between folders; returns what each key should load as.
std::map<RecordKey, Expected> MakeTree(RecordStore& s) {
    std::map<RecordKey, Expected> want;
    std::mt19937 rng(42);
    const std::u16string pieces[] = {u"Docs",         u"readme", u"M\u00FCller", u"\u65E5\u672C",
                                     u"\u03A3\u03C3", u"X",      u"a_b",         u"Z9",
                                     u".git",         u"\u00C5r"};
    uint32_t next = 1024;
    std::set<std::u16string> used;
    auto add = [&](RecordKey key, RecordKey parent, const std::u16string& name, bool folder,
                   const std::u16string& parent_path) {
        const SizeCode size = folder ? 0 : static_cast<SizeCode>(rng() % 100000);
        const PackedTime time = rng();
        s.AddRecord(Entry(key, parent, name, folder, size, time));
        const std::u16string path = parent_path.empty() ? name : parent_path + u"\\" + name;
        want[key] = {path, folder, size, time};
        return path;
    };
    for (char16_t drive : {u'C', u'D'}) {
        const RecordKey root = K(next++, drive);
        const std::u16string root_path = add(root, 0, std::u16string(1, drive) + u":", true, u"");
        std::vector<std::pair<RecordKey, std::u16string>> folders = {{root, root_path}};
        for (int i = 0; i < 400; ++i) {
            const auto& [parent, parent_path] = folders[rng() % folders.size()];
            std::u16string name = pieces[rng() % 10] + ToDecimal(rng() % 5);
            if (rng() % 3 == 0) {
                name += u".TxT";
            }
            if (!used.insert(Lower(parent_path + u"\\" + name)).second) {
                continue;  // one name per folder, as on a real volume
            }
            const bool folder = rng() % 3 == 0;
            const RecordKey key = K(next++, drive);
            const RecordKey p = parent;
            const std::u16string pp = parent_path;
            const std::u16string path = add(key, p, name, folder, pp);
            if (folder) {
                folders.push_back({key, path});
            }
        }
    }
    // A chain deeper than the ancestor buffer and longer than the path buffer.
    RecordKey parent = K(1024, u'C');
    std::u16string path = u"C:";
    for (int i = 0; i < 300; ++i) {
        const RecordKey key = K(next++, u'C');
        path = add(key, parent, u"Lvl" + ToDecimal(i), true, path);
        parent = key;
    }
    add(K(next++, u'C'), parent, u"Deep.dat", false, path);
    return want;
}

class LoadedDb : public ::testing::Test {
  protected:
    void SetUp() override {
        RecordStore s;
        LoadRecordStore(dir.Path(), s);
        want = MakeTree(s);
        s.Drive(2).display_name = u"Windows";
        ASSERT_TRUE(SaveRecordStoreAt(s, true, 99));
        DbStatus st;
        db = LoadedDatabase::Load(dir.Path(), &st);
        ASSERT_TRUE(st.Ok());
    }
    int32_t Find(const std::u16string& path) { return db->RecordOfPath(path, true); }
    // The file below the 300 folders.
    int32_t Deep() {
        for (int32_t r = db->FolderRecordCount(); r < db->RecordCount(); ++r) {
            if (db->NameOfRecord(r) == u"Deep.dat") {
                return r;
            }
        }
        ADD_FAILURE() << "no Deep.dat";
        return 0;
    }

    test::TempFolder dir;
    std::map<RecordKey, Expected> want;
    std::unique_ptr<LoadedDatabase> db;
};

TEST_F(LoadedDb, RoundTripOfEveryRecord) {
    ASSERT_EQ(db->RecordCount(), static_cast<int32_t>(want.size()));
    int32_t folders = 0;
    for (int32_t r = 0; r < db->RecordCount(); ++r) {
        const auto it = want.find(db->Key(r));
        ASSERT_NE(it, want.end());
        const Expected& e = it->second;
        EXPECT_EQ(db->IsFolder(r), e.folder);
        folders += e.folder;
        EXPECT_EQ(db->Size(r), e.size);
        EXPECT_EQ(db->Time(r), e.time);
        EXPECT_EQ(db->DriveIndex(r), DriveIndexOf(db->Key(r)));
        const std::u16string path = db->PathOfRecord(r);
        if (e.path.size() <= 511) {
            EXPECT_EQ(path, e.path);
            EXPECT_EQ(db->LowerPathOfRecord(r), Lower(e.path) + (e.folder ? u"\\" : u""));
            EXPECT_EQ(Find(e.path), r);
            EXPECT_EQ(Find(Upper(e.path) + u"\\"), r);
        } else {
            // Too long: the tail that fits, whole components only.
            EXPECT_LE(path.size(), 511u);
            EXPECT_TRUE(EndsWith(e.path, path));
            EXPECT_EQ(e.path[e.path.size() - path.size() - 1], u'\\');
        }
        const size_t slash = e.path.rfind(u'\\');
        EXPECT_EQ(db->NameOfRecord(r),
                  slash == std::u16string::npos ? e.path : e.path.substr(slash + 1));
        // Hidden marks start clear: no orphans here.
        EXPECT_EQ(db->HiddenMark(r), 0);
    }
    EXPECT_EQ(db->FolderRecordCount(), folders);
    // Name entries: ordered, folders first, records consecutive.
    int32_t next_record = 0;
    for (int32_t n = 0; n < db->NameCount(); ++n) {
        const NameEntry& e = db->Entry(n);
        EXPECT_EQ(e.first, next_record);
        next_record += e.count;
        EXPECT_EQ(e.is_folder != 0, n < db->FolderNameCount());
        EXPECT_EQ(db->LowerNameZ(n)[e.length], 0);
        EXPECT_EQ(e.bits, ComputeNameBits(db->LowerName(n)));
        for (int32_t r = e.first; r < e.first + e.count; ++r) {
            EXPECT_EQ(db->NameEntryOf(r), n);
        }
    }
    EXPECT_EQ(next_record, db->RecordCount());
    EXPECT_EQ(db->DriveDisplayName(u'c'), u"Windows");
    EXPECT_EQ(db->DriveDisplayName(u'E'), u"");
    EXPECT_EQ(db->DatabaseTime(), 99u);
}

TEST_F(LoadedDb, PathsNamesAndExtensions) {
    const int32_t root = Find(u"C:");
    ASSERT_GE(root, 0);
    EXPECT_EQ(db->PathOfRecord(root, true), u"C:\\");
    EXPECT_EQ(db->LowerPathOfRecord(root), u"c:\\");
    const int32_t deep = Find(u"C:\\Lvl0\\Lvl1");
    ASSERT_GE(deep, 0);
    EXPECT_EQ(db->PathOfRecord(deep, true), u"C:\\Lvl0\\Lvl1\\");
    EXPECT_EQ(db->RootOfRecord(deep), root);
    EXPECT_EQ(db->ExtensionOfRecord(deep), u"");
    for (int32_t r = db->FolderRecordCount(); r < db->RecordCount(); ++r) {
        const std::u16string name = db->NameOfRecord(r);
        const size_t dot = name.rfind(u'.');
        EXPECT_EQ(db->ExtensionOfRecord(r),
                  dot == std::u16string::npos ? u"" : Lower(name.substr(dot + 1)));
    }
    EXPECT_EQ(Find(u"C:\\no such folder"), -1);
    EXPECT_EQ(Find(u"Q:"), -1);
    EXPECT_EQ(Find(u""), -1);
    // Files are found only when asked for.
    int32_t file = db->FolderRecordCount();
    EXPECT_EQ(db->RecordOfPath(db->PathOfRecord(file)), -1);
    EXPECT_EQ(db->RecordOfPath(db->PathOfRecord(file), true), file);
}

TEST_F(LoadedDb, AncestorChainsAndFolderOrder) {
    std::array<int32_t, kMaxChainDepth> chain;
    const int32_t lvl1 = Find(u"C:\\Lvl0\\Lvl1");
    ASSERT_EQ(db->AncestorChain(lvl1, chain), 3u);
    EXPECT_EQ(chain[0], db->NameEntryOf(Find(u"C:")));
    EXPECT_EQ(chain[1], db->NameEntryOf(Find(u"C:\\Lvl0")));
    EXPECT_EQ(chain[2], db->NameEntryOf(lvl1));
    // The file below 300 folders has 302 levels: the buffer keeps the 256 nearest the root.
    const int32_t deep = Deep();
    ASSERT_EQ(db->AncestorChain(deep, chain), kMaxChainDepth);
    EXPECT_EQ(chain[0], db->NameEntryOf(Find(u"C:")));
    EXPECT_EQ(db->LowerName(chain[255]), u"lvl254");

    // Folder order agrees with comparing the parents' chains.
    std::mt19937 rng(3);
    std::array<int32_t, kMaxChainDepth> ca, cb;
    for (int i = 0; i < 3000; ++i) {
        const int32_t a = static_cast<int32_t>(rng() % db->RecordCount());
        const int32_t b = static_cast<int32_t>(rng() % db->RecordCount());
        const size_t na = db->Parent(a) < 0 ? 0 : db->AncestorChain(db->Parent(a), ca);
        const size_t nb = db->Parent(b) < 0 ? 0 : db->AncestorChain(db->Parent(b), cb);
        if (na == kMaxChainDepth || nb == kMaxChainDepth) {
            continue;
        }
        const std::vector<int32_t> va(ca.begin(), ca.begin() + na), vb(cb.begin(), cb.begin() + nb);
        const int want_cmp = va < vb ? -1 : (vb < va ? 1 : 0);
        const int got = db->CompareFolderPaths(a, b);
        EXPECT_EQ((got > 0) - (got < 0), want_cmp) << a << " " << b;
    }
}

TEST_F(LoadedDb, FolderSizesAndFileCounts) {
    // Totals by walking every file's ancestors.
    std::vector<int64_t> sizes(static_cast<size_t>(db->FolderRecordCount()), 0);
    std::vector<uint32_t> counts(sizes.size(), 0);
    for (int32_t r = db->FolderRecordCount(); r < db->RecordCount(); ++r) {
        for (int32_t p = db->Parent(r); p >= 0; p = db->Parent(p)) {
            sizes[static_cast<size_t>(p)] += SizeCodeToBytes(db->Size(r));
            ++counts[static_cast<size_t>(p)];
        }
    }
    for (int32_t f = 0; f < db->FolderRecordCount(); ++f) {
        EXPECT_EQ(db->FolderSize(f), sizes[static_cast<size_t>(f)]);
        EXPECT_EQ(db->FolderFileCount(f), counts[static_cast<size_t>(f)]);
    }
    EXPECT_EQ(db->FolderSize(db->RecordCount() - 1), 0);
}

TEST_F(LoadedDb, HideAFolderAndUnhideOneRecord) {
    const int32_t lvl0 = Find(u"C:\\Lvl0");
    const int32_t lvl1 = Find(u"C:\\Lvl0\\Lvl1");
    const int32_t deep = Deep();
    db->SetHidden(lvl0, kHiddenByUser);
    EXPECT_EQ(db->HiddenMark(lvl0), kHiddenByUser);
    EXPECT_EQ(db->HiddenMark(lvl1), kHiddenByUser);
    EXPECT_EQ(db->HiddenMark(deep), kHiddenByUser);
    EXPECT_EQ(db->HiddenMark(Find(u"C:")), 0);
    db->Unhide(lvl0);
    EXPECT_EQ(db->HiddenMark(lvl0), 0);
    EXPECT_EQ(db->HiddenMark(lvl1), kHiddenByUser);
    db->SetHidden(deep, kDeletedByProgram);
    EXPECT_EQ(db->HiddenMark(deep), kDeletedByProgram);
    ASSERT_TRUE(db->SaveHiddenList(dir.Path()));
    auto again = LoadedDatabase::Load(dir.Path());
    for (int32_t r = 0; r < db->RecordCount(); ++r) {
        ASSERT_EQ(again->HiddenMark(r), db->HiddenMark(r)) << r;
    }
}

TEST(LoadedDatabaseOrphans, BranchesWithoutADriveRootAreHidden) {
    test::TempFolder dir;
    RecordStore s;
    LoadRecordStore(dir.Path(), s);
    s.AddRecord(Entry(K(1024), 0, u"C:", true));
    s.AddRecord(Entry(K(1025), K(1024), u"kept", false));
    s.AddRecord(Entry(K(1026), K(777), u"lost", true));  // parent never reported
    s.AddRecord(Entry(K(1027), K(1026), u"inside", false));
    ASSERT_TRUE(SaveRecordStoreAt(s, false, 0));
    auto db = LoadedDatabase::Load(dir.Path());
    ASSERT_EQ(db->RecordCount(), 4);
    for (int32_t r = 0; r < 4; ++r) {
        const std::u16string name = db->NameOfRecord(r);
        EXPECT_EQ(db->HiddenMark(r), (name == u"lost" || name == u"inside") ? kHiddenByUser : 0)
            << Utf16ToUtf8(name);
    }
    EXPECT_EQ(db->PathOfRecord(db->RecordOfPath(u"lost\\inside", true)), u"lost\\inside");
}

TEST(LoadedDatabasePresence, BothOrEither) {
    test::TempFolder dir;
    EXPECT_FALSE(DatabasePresent(dir.Path()));
    EXPECT_FALSE(AnyDatabaseFilePresent(dir.Path()));
    test::WriteBytes(dir.File(u"kavo.nrs"), {0, 0, 0, 0});
    EXPECT_FALSE(DatabasePresent(dir.Path()));
    EXPECT_TRUE(AnyDatabaseFilePresent(dir.Path()));
    DbStatus st;
    EXPECT_EQ(LoadedDatabase::Load(dir.Path(), &st)->RecordCount(), 0);
    EXPECT_EQ(st.code, DbStatus::Code::kMissing);
    test::WriteBytes(dir.File(u"kavo.frs"), {});
    EXPECT_TRUE(DatabasePresent(dir.Path()));
}

}  // namespace
}  // namespace kavo

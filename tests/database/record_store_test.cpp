#include <gtest/gtest.h>

#include "tests/database/db_test_util.h"

namespace kavo {
namespace {

using test::Entry;
using test::K;

// Names and keys in save order.
std::vector<std::pair<std::u16string, RecordKey>> Listing(const RecordStore& s) {
    std::vector<std::pair<std::u16string, RecordKey>> out;
    s.ForEachRecord([&](std::u16string_view key, const NameRecord& n, const FileRecord& r) {
        out.push_back({NameFromKey(key, n.length, n.upper_count), r.key});
    });
    return out;
}

TEST(RecordStore, AddUpdateRemoveRename) {
    RecordStore s;
    s.AddRecord(Entry(K(1024), 0, u"C:", true));
    s.AddRecord(Entry(K(1025), K(1024), u"Docs", true));
    s.AddRecord(Entry(K(1026), K(1025), u"a.txt", false, 10, 100));
    s.AddRecord(Entry(K(1027), K(1024), u"a.txt", false, 20, 200));
    EXPECT_EQ(s.RecordCount(), 4);
    ASSERT_NE(s.FindFolder(K(1025)), nullptr);
    EXPECT_EQ(s.FindFolder(K(1025))->parent_key, K(1024));
    EXPECT_EQ(s.FindFolder(K(1026)), nullptr);  // files are not in the directory index

    EXPECT_TRUE(s.UpdateRecord(Entry(K(1026), K(1025), u"a.txt", false, 11, 111)));
    EXPECT_FALSE(s.UpdateRecord(Entry(K(1026), K(1025), u"b.txt", false, 11, 111)));
    EXPECT_FALSE(s.UpdateRecord(Entry(K(9999), K(1025), u"a.txt", false, 11, 111)));

    EXPECT_EQ(Listing(s),
              (std::vector<std::pair<std::u16string, RecordKey>>{
                  {u"C:", K(1024)}, {u"Docs", K(1025)}, {u"a.txt", K(1026)}, {u"a.txt", K(1027)}}));

    EXPECT_TRUE(s.RenameRecord(Entry(K(1026), K(1024), u"B.txt", false, 11, 111), u"a.txt"));
    EXPECT_EQ(s.RecordCount(), 4);
    EXPECT_FALSE(s.RemoveRecord(Entry(K(1026), K(1024), u"a.txt", false)));
    EXPECT_TRUE(s.RemoveRecord(Entry(K(1025), K(1024), u"Docs", true)));
    EXPECT_EQ(s.FindFolder(K(1025)), nullptr);
    EXPECT_EQ(s.RecordCount(), 3);
    EXPECT_EQ(Listing(s), (std::vector<std::pair<std::u16string, RecordKey>>{
                              {u"C:", K(1024)}, {u"a.txt", K(1027)}, {u"B.txt", K(1026)}}));
    // The emptied name stays in the map until the save skips it.
    EXPECT_EQ(s.Names().count(u"1docs\x1F\x01"), 1u);
}

TEST(RecordStore, RemovingVolumeZeroTakesTheMountedVolumesToo) {
    RecordStore s;
    s.AddRecord(Entry(K(1024, u'C'), 0, u"C:", true));
    s.AddRecord(Entry(K(5, u'C'), K(1024, u'C'), u"x", false));
    s.AddRecord(Entry(K(6, u'C', 1), K(1024, u'C'), u"y", false));
    s.AddRecord(Entry(K(7, u'C', 2), K(1024, u'C'), u"x", false));
    s.AddRecord(Entry(K(1024, u'D'), 0, u"D:", true));
    s.AddRecord(Entry(K(5, u'D'), K(1024, u'D'), u"x", false));

    RecordStore t;
    for (const auto& e :
         {Entry(K(6, u'C', 1), 0, u"y", false), Entry(K(7, u'C', 2), 0, u"x", false),
          Entry(K(5, u'C'), 0, u"x", false)}) {
        t.AddRecord(e);
    }
    EXPECT_EQ(t.RemoveVolumeRecords(u'C', 2), 1);
    EXPECT_EQ(t.RecordCount(), 2);

    EXPECT_EQ(s.RemoveVolumeRecords(u'c', 0), 4);
    EXPECT_EQ(s.RecordCount(), 2);
    EXPECT_EQ(s.FindFolder(K(1024, u'C')), nullptr);
    EXPECT_NE(s.FindFolder(K(1024, u'D')), nullptr);
    EXPECT_EQ(Listing(s), (std::vector<std::pair<std::u16string, RecordKey>>{{u"D:", K(1024, u'D')},
                                                                             {u"x", K(5, u'D')}}));
}

TEST(RecordStore, VolumeSlots) {
    RecordStore s;
    const RecordKey m1 = K(40, u'C'), m2 = K(41, u'D'), m3 = K(42, u'C');
    EXPECT_EQ(s.GetVolumeNumber(m1), 1u);
    EXPECT_EQ(s.GetVolumeNumber(m2), 2u);
    EXPECT_EQ(s.GetVolumeNumber(m1), 1u);
    EXPECT_EQ(s.GetVolumeNumber(m3), 3u);
    EXPECT_EQ(s.VolumesOfDrive(2), (std::vector<uint32_t>{1, 3}));
    EXPECT_EQ(s.VolumesOfDrive(3), (std::vector<uint32_t>{2}));
    s.Volume(2).mount_key = 0;  // freed slots are taken again first
    EXPECT_EQ(s.GetVolumeNumber(K(43, u'E')), 2u);
    for (uint32_t i = 0; i < 300; ++i) {
        s.GetVolumeNumber(K(1000 + i, u'F'));
    }
    EXPECT_EQ(s.GetVolumeNumber(K(5000, u'F')), 0u);  // all 255 slots taken
    EXPECT_EQ(s.VolumesOfDrive(5).size(), 252u);
    EXPECT_TRUE(s.Volume(0).IsFree());
}

}  // namespace
}  // namespace kavo

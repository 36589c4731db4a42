#include "scan/walker.h"

#include <gtest/gtest.h>

#include <map>

#include "database/record_values.h"
#include "platform/file.h"
#include "platform/system.h"
#include "tests/scan/recording_listener.h"
#include "tests/support/test_support.h"

namespace kavo::scan {
namespace {

using test::RecordedEntry;
using test::RecordingListener;

constexpr uint64_t kDriveQ = static_cast<uint64_t>(u'Q' - u'A') << 32;

void WriteFile(const std::u16string& path, std::string_view bytes) {
    ASSERT_TRUE(platform::WriteWholeFile(path, bytes.data(), bytes.size()));
}

// root: top.txt (5 bytes), "Ünïcode name.TXT", alpha\ (one.bin, deep\ (two)), beta\ (empty)
class WalkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::u16string& r = tmp_.Path();
        WriteFile(r + u"top.txt", "hello");
        WriteFile(r + u"\u00dcn\u00efcode name.TXT", "");
        ASSERT_TRUE(platform::MakeDirectory(r + u"alpha"));
        ASSERT_TRUE(platform::MakeDirectory(r + u"beta"));
        WriteFile(r + u"alpha\\one.bin", std::string(1000, 'x'));
        ASSERT_TRUE(platform::MakeDirectory(r + u"alpha\\deep"));
        WriteFile(r + u"alpha\\deep\\two", "2");
    }

    WalkStats Walk(RecordingListener& l) {
        WalkOptions o;
        o.root = tmp_.Path();
        o.log = false;
        return WalkVolume(u'Q', l, o);
    }

    test::TempFolder tmp_;
};

TEST_F(WalkerTest, ReportsEveryItemUnderItsFolderWithWalkerNumbers) {
    RecordingListener l;
    const WalkStats stats = Walk(l);
    EXPECT_EQ(stats.folders, 3u);
    EXPECT_EQ(stats.files, 4u);
    EXPECT_EQ(stats.unlisted, 0u);
    ASSERT_EQ(l.removed_volumes.size(), 1u);
    EXPECT_EQ(l.removed_volumes[0], std::make_pair(u'Q', 0u));

    ASSERT_EQ(l.added.size(), 8u);
    const RecordedEntry& root = l.added[0];
    EXPECT_EQ(root.name, u"Q:");
    EXPECT_EQ(root.key, kDriveQ | 1024);
    EXPECT_EQ(root.parent_key, 0u);
    EXPECT_TRUE(root.is_folder);
    EXPECT_EQ(root.time, 0u);

    // Numbers run 1,025, 1,026, ... in report order.
    for (size_t i = 0; i < l.added.size(); ++i) {
        EXPECT_EQ(l.added[i].key, kDriveQ | (1024 + i)) << i;
    }
    struct Want {
        std::u16string name, parent;
        bool folder;
        int32_t size;
    };
    const Want wants[] = {
        {u"top.txt", u"Q:", false, 5},       {u"\u00dcn\u00efcode name.TXT", u"Q:", false, 0},
        {u"alpha", u"Q:", true, 0},          {u"beta", u"Q:", true, 0},
        {u"one.bin", u"alpha", false, 1000}, {u"deep", u"alpha", true, 0},
        {u"two", u"deep", false, 1},
    };
    const uint32_t now = FileTimeToPackedTime(platform::NowFileTime());
    for (const Want& w : wants) {
        const RecordedEntry* e = l.Find(w.name);
        ASSERT_NE(e, nullptr) << testing::PrintToString(w.name);
        const RecordedEntry* parent = l.Find(w.parent);
        ASSERT_NE(parent, nullptr);
        EXPECT_EQ(e->parent_key, parent->key);
        EXPECT_EQ(e->is_folder, w.folder);
        EXPECT_EQ(e->size, w.size);
        EXPECT_LE(e->time, now + 2);
        EXPECT_GE(e->time + 600, now);
    }
}

TEST_F(WalkerTest, ListsOneLevelCompletelyBeforeTheNext) {
    RecordingListener l;
    Walk(l);
    std::map<std::u16string, uint64_t> key;
    for (const RecordedEntry& e : l.added) {
        key[e.name] = e.key;
    }
    // Everything in the root, including both level-1 folders, comes before anything inside
    // alpha; deep's content comes last.
    for (const char16_t* top : {u"top.txt", u"alpha", u"beta"}) {
        EXPECT_LT(key[top], key[u"one.bin"]);
        EXPECT_LT(key[top], key[u"deep"]);
    }
    EXPECT_LT(key[u"deep"], key[u"two"]);
    EXPECT_EQ(key[u"two"], l.added.back().key);
}

TEST_F(WalkerTest, InterruptStopsBeforeTheNextFolder) {
    RecordingListener l;
    std::atomic<bool> stop{true};
    WalkOptions o;
    o.root = tmp_.Path();
    o.log = false;
    o.interrupted = &stop;
    const WalkStats stats = WalkVolume(u'Q', l, o);
    EXPECT_TRUE(stats.interrupted);
    ASSERT_EQ(l.added.size(), 1u);  // only the root
}

TEST(WalkerFailure, MissingRootIsReportedAndTheWalkEnds) {
    RecordingListener l;
    WalkOptions o;
    o.root = u"Q:\\no\\such\\folder\\kavo-walker\\";
    o.log = false;
    const WalkStats stats = WalkVolume(u'Q', l, o);
    EXPECT_EQ(stats.unlisted, 1u);
    EXPECT_EQ(l.added.size(), 1u);
}

}  // namespace
}  // namespace kavo::scan

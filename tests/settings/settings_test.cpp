// The same cases run natively and under Wine (where the Win32 private-profile API does the
// work), so that the conventions hold on both.
#include <gtest/gtest.h>

#include <set>

#include "base/case_map.h"
#include "base/text.h"
#include "platform/profile.h"
#include "settings/settings.h"
#include "tests/support/test_support.h"

namespace kavo {
namespace {

class SettingsTest : public ::testing::Test {
  protected:
    test::TempFolder dir;
    Settings s{dir.File(u"kavo.ini")};

    void Raw(const char16_t* section, const char16_t* key, const std::u16string& value) {
        ASSERT_TRUE(platform::ProfileWriteString(s.Path(), section, key, value));
    }
    std::u16string RawRead(const char16_t* section, const char16_t* key) {
        return platform::ProfileReadString(s.Path(), section, key, u"<missing>", 1024);
    }
};

TEST_F(SettingsTest, FlagsAreTrueOnlyForOne) {
    struct Case {
        const char16_t* stored;  // nullptr: missing
        bool default_value;
        bool read;
    } cases[] = {
        {u"1", false, true}, {u"0", true, false},   {u"2", true, false},  {u"", true, true},
        {u"", false, false}, {nullptr, true, true}, {u"01", false, true}, {u"1x", false, true},
        {u"x", true, false}, {u"-1", true, false},
    };
    for (const Case& c : cases) {
        if (c.stored) {
            Raw(settings::kOptions, u"Flag", c.stored);
        } else {
            s.DeleteKey(settings::kOptions, u"Flag");
        }
        EXPECT_EQ(s.ReadFlag(u"Flag", c.default_value), c.read)
            << (c.stored
                    ? std::string(c.stored, c.stored + std::char_traits<char16_t>::length(c.stored))
                    : "missing");
    }
    // Table defaults.
    EXPECT_TRUE(s.Get(settings::kCloseByEsc));
    EXPECT_FALSE(s.Get(settings::kExcludeHidden));
    s.Set(settings::kCloseByEsc, false);
    EXPECT_EQ(RawRead(settings::kOptions, u"CloseByEsc"), u"0");
    EXPECT_FALSE(s.Get(settings::kCloseByEsc));
}

TEST_F(SettingsTest, QuotedTextsRoundTrip) {
    const std::u16string texts[] = {u"plain",   u"\"quoted\"", u"\"",           u"\"\"",
                                    u"a \"b\"", u"\"open",     u"\u00FC\u65E5", u""};
    for (const std::u16string& t : texts) {
        s.Set(settings::kFindStr, t);
        EXPECT_EQ(s.Get(settings::kFindStr), t);
    }
    // Stored inside one more pair: the plain private-profile read gives the text back.
    s.Set(settings::kFindStr, u"\"quoted\"");
    EXPECT_EQ(RawRead(settings::kMessage, u"FindStr"), u"\"quoted\"");
}

TEST_F(SettingsTest, TextsAreReadUpTo254Characters) {
    const std::u16string longer(300, u'x');
    s.Set(settings::kFindStr, longer);
    EXPECT_EQ(s.Get(settings::kFindStr), std::u16string(254, u'x'));
    const std::u16string exact(254, u'y');
    s.Set(settings::kFindStr, exact);
    EXPECT_EQ(s.Get(settings::kFindStr), exact);
}

TEST_F(SettingsTest, IntegersAndThumbnailSize) {
    EXPECT_EQ(s.Get(settings::kWebPort), 8080);
    s.Set(settings::kWebPort, 9090);
    EXPECT_EQ(s.Get(settings::kWebPort), 9090);
    s.WriteInteger(nullptr, u"LastUIStartTime", 133000000000000000ll);
    EXPECT_EQ(s.ReadInteger(settings::kGlobal, u"LastUIStartTime"), 133000000000000000ll);
    EXPECT_EQ(s.ReadInteger(nullptr, u"Missing"), 0);
    EXPECT_EQ(s.ReadInteger(nullptr, u"Missing", 7), 7);
    Raw(settings::kGlobal, u"Lead", u"  -42abc");
    EXPECT_EQ(s.ReadInteger(nullptr, u"Lead"), -42);

    struct Case {
        const char16_t* stored;
        int64_t read;
    } cases[] = {{u"10", 32}, {u"1000", 256}, {nullptr, 48}, {u"96", 96},
                 {u"", 48},   {u"32", 32},    {u"256", 256}, {u"abc", 32}};
    for (const Case& c : cases) {
        if (c.stored) {
            Raw(settings::kOptions, u"ThumbnailSize", c.stored);
        } else {
            s.DeleteKey(settings::kOptions, u"ThumbnailSize");
        }
        EXPECT_EQ(s.Get(settings::kThumbnailSize), c.read);
    }
}

TEST_F(SettingsTest, RecentListStopsAtTheFirstGap) {
    Raw(settings::kMRU, u"Item0", u"first");
    Raw(settings::kMRU, u"Item1", u"second");
    Raw(settings::kMRU, u"Item3", u"after the gap");
    EXPECT_EQ(s.ReadRecentList(settings::kMRU, 20),
              (std::vector<std::u16string>{u"first", u"second"}));
    EXPECT_EQ(s.ReadRecentList(settings::kMRU, 1), (std::vector<std::u16string>{u"first"}));

    std::vector<std::u16string> items;
    for (int i = 0; i < 12; ++i) {
        std::u16string item = ToDecimal(i);
        item.insert(item.begin(), u'q');
        items.push_back(item);
    }
    items[4].clear();
    s.WriteRecentList(settings::kMRO, items, 14);
    EXPECT_EQ(RawRead(settings::kMRO, u"Item9"), u"q9");
    EXPECT_EQ(RawRead(settings::kMRO, u"ItemA"), u"q10");
    EXPECT_EQ(RawRead(settings::kMRO, u"ItemB"), u"q11");
    EXPECT_EQ(RawRead(settings::kMRO, u"Item4"), u"<missing>");
    EXPECT_EQ(s.ReadRecentList(settings::kMRO, 14).size(), 4u);
    EXPECT_EQ(RecentItemKey(0), u"Item0");
    EXPECT_EQ(RecentItemKey(15), u"ItemF");
}

TEST_F(SettingsTest, CleanUpAfterAnIncompatibleDatabase) {
    Raw(u"A_", u"x", u"1");
    Raw(u"Z_", u"x", u"1");
    Raw(u"AB", u"x", u"1");
    Raw(u"a_", u"x", u"1");
    Raw(settings::kDriveLabels, u"C", u"System");
    Raw(settings::kOptions, u"AutoBuild", u"1");
    s.CleanUpAfterIncompatibleDatabase();    // no DBVersion: nothing happens
    EXPECT_EQ(s.SectionNames().size(), 5u);  // "a_" is the same section as "A_"
    Raw(settings::kGlobal, u"DBVersion", u"");
    s.CleanUpAfterIncompatibleDatabase();
    std::set<std::u16string> left;
    for (const std::u16string& n : s.SectionNames()) {
        left.insert(Upper(n));
    }
    // Section names compare without case on both sides, so "a_" goes with "A_".
    EXPECT_EQ(left, (std::set<std::u16string>{u"AB", u"OPTIONS", u"GLOBAL"}));
    EXPECT_FALSE(s.KeyExists(settings::kGlobal, u"DBVersion"));
}

TEST_F(SettingsTest, BinaryValuesNeedTheirStoredSize) {
    const uint8_t data[] = {1, 2, 3, 250};
    s.Set(settings::kRibbonState, data, sizeof data);
    EXPECT_EQ(s.ReadInteger(settings::kUIState, u"_cb_RibbonState"), 4);
    auto got = s.Get(settings::kRibbonState, 16);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, std::vector<uint8_t>(data, data + 4));
    EXPECT_FALSE(s.Get(settings::kRibbonState, 3));  // caller's buffer too small
    s.DeleteKey(settings::kUIState, u"_cb_RibbonState");
    EXPECT_FALSE(s.Get(settings::kRibbonState, 16));
}

TEST(SettingsTable, EveryKeyOnceWithItsDefault) {
    std::set<std::u16string> seen;
    for (const settings::KeyInfo& k : settings::AllSettings()) {
        EXPECT_TRUE(seen.insert(Lower(std::u16string(k.section) + u"/" + k.key)).second);
    }
    EXPECT_EQ(seen.size(), settings::AllSettings().size());
    const settings::KeyInfo* t = settings::FindSetting(u"options", u"thumbnailsize");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->kind, settings::Kind::kInteger);
    EXPECT_EQ(t->default_value, 48);
    EXPECT_EQ(settings::FindSetting(u"Options", u"RibbonUI")->default_value, 1);
    EXPECT_EQ(settings::FindSetting(u"Options", u"Nope"), nullptr);
}

TEST(SettingsLists, EditTextConversions) {
    EXPECT_EQ(EditTextToList(u"*.tmp\r\nThumbs.db\r\n"), u"*.tmp:Thumbs.db:");
    EXPECT_EQ(ListToEditText(u"*.tmp:Thumbs.db"), u"*.tmp\r\nThumbs.db");
    EXPECT_EQ(SplitList(u"*.tmp::Thumbs.db:"),
              (std::vector<std::u16string>{u"*.tmp", u"Thumbs.db"}));
}

}  // namespace
}  // namespace kavo

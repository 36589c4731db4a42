#include "scan/ignore_rules.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/case_map.h"
#include "base/text.h"

#include "platform/file.h"
#include "platform/profile.h"
#include "tests/support/test_support.h"

namespace kavo::scan {
namespace {

TEST(NamePatterns, ParsesKindsAndFolderMarks) {
    const std::vector<NamePattern> p = ParseNamePatterns(u"temp\\:*.tmp:~*:*\\:\\:/:exact:a/");
    ASSERT_EQ(p.size(), 6u);
    EXPECT_TRUE(p[0].folder);
    EXPECT_EQ(p[0].kind, NamePattern::Kind::kExact);
    EXPECT_EQ(p[0].text, u"temp");
    EXPECT_FALSE(p[1].folder);
    EXPECT_EQ(p[1].kind, NamePattern::Kind::kSuffix);
    EXPECT_EQ(p[1].text, u".tmp");
    EXPECT_EQ(p[2].kind, NamePattern::Kind::kPrefix);
    EXPECT_EQ(p[2].text, u"~");
    EXPECT_TRUE(p[3].folder);  // "*\" matches every folder
    EXPECT_EQ(p[3].kind, NamePattern::Kind::kSuffix);
    EXPECT_EQ(p[3].text, u"");
    EXPECT_EQ(p[4].text, u"exact");
    EXPECT_TRUE(p[5].folder);
    EXPECT_EQ(p[5].text, u"a");
}

TEST(NamePatterns, MatchTable) {
    struct Case {
        const char16_t* patterns;
        const char16_t* name;
        bool folder;
        bool excluded;
    };
    const Case cases[] = {
        {u"temp\\:*.tmp:~*", u"temp", true, true},
        {u"temp\\:*.tmp:~*", u"TeMp", true, true},
        {u"temp\\:*.tmp:~*", u"temp", false, false},  // a file named temp stays
        {u"temp\\:*.tmp:~*", u"temp2", true, false},
        {u"temp\\:*.tmp:~*", u"a.TMP", false, true},
        {u"temp\\:*.tmp:~*", u"a.tmp", true, false},  // file pattern, folder name
        {u"temp\\:*.tmp:~*", u"~$doc.docx", false, true},
        {u"temp\\:*.tmp:~*", u"doc~", false, false},
        {u"*\\", u"anything", true, true},
        {u"*\\", u"anything", false, false},
        {u"\\:/", u"x", true, false},
        {u"\u00c4rger*", u"\u00e4rgerlich.txt", false, true},  // case beyond ASCII
        {u"*.tmp", u"tmp", false, false},                      // shorter than the pattern
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesNamePattern(ParseNamePatterns(c.patterns), c.name, c.folder), c.excluded)
            << testing::PrintToString(std::u16string(c.patterns)) << " "
            << testing::PrintToString(std::u16string(c.name));
    }
}

TEST(IgnoreRulesOptions, ReadFromTheSettingsFileAndApplyOnlyWhenSwitchedOn) {
    test::TempFolder tmp;
    const std::u16string ini = tmp.File(u"kavo.ini");
    IgnoreRules none(ReadIgnoreOptions(ini));
    EXPECT_FALSE(none.ExcludeHidden());
    EXPECT_FALSE(none.IsNameExcluded(u"a.tmp", false));

    platform::ProfileWriteString(ini, u"Options", u"ExcludeNames", std::u16string(u"*.tmp"));
    EXPECT_FALSE(IgnoreRules(ReadIgnoreOptions(ini)).IsNameExcluded(u"a.tmp", false));
    platform::ProfileWriteString(ini, u"Options", u"ExcludeByName", std::u16string(u"1"));
    platform::ProfileWriteString(ini, u"Options", u"ExcludeHidden", std::u16string(u"1"));
    IgnoreRules on(ReadIgnoreOptions(ini));
    EXPECT_TRUE(on.ExcludeHidden());
    EXPECT_TRUE(on.IsNameExcluded(u"a.tmp", false));
    EXPECT_FALSE(on.IsNameExcluded(u"a.tmp", true));
}

class MergeIgnoreListTest : public ::testing::Test {
  protected:
    std::u16string Read(const std::u16string& key) {
        return platform::ProfileReadString(ini_, u"KavoIgnoreFolders", key, u"<none>", 1024);
    }
    void Store(const std::vector<std::u16string>& items) {
        platform::ProfileWriteString(ini_, u"KavoIgnoreFolders", u"Count",
                                     ToDecimal(static_cast<int64_t>(items.size())));
        for (size_t i = 0; i < items.size(); ++i) {
            platform::ProfileWriteString(ini_, u"KavoIgnoreFolders",
                                         u"Item_" + ToDecimal(static_cast<int64_t>(i + 1)),
                                         items[i]);
        }
    }
    test::TempFolder tmp_;
    const std::u16string ini_ = tmp_.File(u"kavo.ini");
};

TEST_F(MergeIgnoreListTest, KeepsUnbuiltDrivesAndLiveMarkersAddsReportedSorted) {
    // The temporary folder is on some drive; a folder of it with a marker and one without.
    const std::u16string live = tmp_.Path() + u"live";
    const std::u16string gone = tmp_.Path() + u"gone";
    ASSERT_TRUE(platform::MakeDirectory(live));
    ASSERT_TRUE(platform::MakeDirectory(gone));
    ASSERT_TRUE(platform::WriteWholeFile(live + u"\\_kavoignore", "", 0));
    const char16_t built = UpperUnit(tmp_.Path()[0]);
    const std::u16string other = built == u'Y' ? u"X:\\keep" : u"Y:\\keep";
    Store({gone, other, live});

    MergeIgnoreList(ini_, std::u16string(1, built), {tmp_.Path() + u"new", live});
    std::vector<std::u16string> want = {other, live, tmp_.Path() + u"new"};
    std::sort(want.begin(), want.end(), [](const std::u16string& a, const std::u16string& b) {
        return CompareIgnoreCase(a, b) < 0;
    });
    EXPECT_EQ(Read(u"Count"), u"3");
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(Read(u"Item_" + ToDecimal(static_cast<int64_t>(i + 1))), want[i]);
    }
    EXPECT_EQ(Read(u"Item_4"), u"<none>");
}

TEST_F(MergeIgnoreListTest, ShrinkingListLeavesNoStaleItems) {
    Store({u"Q:\\a", u"Q:\\b", u"q:\\B"});
    MergeIgnoreList(ini_, u"Q", {});
    EXPECT_EQ(Read(u"Count"), u"0");
    EXPECT_EQ(Read(u"Item_1"), u"<none>");
    EXPECT_EQ(Read(u"Item_3"), u"<none>");
}

}  // namespace
}  // namespace kavo::scan

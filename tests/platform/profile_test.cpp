// The private-profile calls: the same cases run natively (our INI implementation) and under
// Wine (the Win32 API), so that the two are known to agree.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/profile.h"
#include "tests/support/test_support.h"

namespace kavo::platform {
namespace {

class ProfileTest : public ::testing::Test {
  protected:
    test::TempFolder dir;
    std::u16string ini = dir.File(u"kavo.ini");

    std::u16string Read(const std::u16string& section,
                        const std::u16string& key,
                        size_t units = 255) {
        return ProfileReadString(ini, section, key, u"", units);
    }
};

TEST_F(ProfileTest, MissingFileAndKeyGiveTheDefault) {
    EXPECT_EQ(ProfileReadString(ini, u"Options", u"x", u"dflt", 255), u"dflt");
    ASSERT_TRUE(ProfileWriteString(ini, u"Options", u"a", u"1"));
    EXPECT_EQ(ProfileReadString(ini, u"Options", u"x", u"dflt", 255), u"dflt");
    EXPECT_EQ(ProfileReadString(ini, u"Other", u"a", u"", 255), u"");
}

TEST_F(ProfileTest, SectionsAndKeysIgnoreCase) {
    ASSERT_TRUE(ProfileWriteString(ini, u"WebServer", u"userName", u"ann"));
    EXPECT_EQ(Read(u"WEBSERVER", u"USERNAME"), u"ann");
    ASSERT_TRUE(ProfileWriteString(ini, u"webserver", u"USERNAME", u"bob"));
    EXPECT_EQ(Read(u"WebServer", u"userName"), u"bob");
    EXPECT_EQ(ProfileSectionNames(ini, 4096).size(), 1u);
}

TEST_F(ProfileTest, OnePairOfQuotesIsStrippedOnRead) {
    struct Case {
        std::u16string stored, read;
    } cases[] = {
        {u"plain", u"plain"},
        {u"\"quoted\"", u"quoted"},
        {u"\"\"twice\"\"", u"\"twice\""},
        {u"\"open", u"\"open"},
        {u"a \"b\" c", u"a \"b\" c"},
        {u"\u00FC\u65E5 unicode", u"\u00FC\u65E5 unicode"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ProfileWriteString(ini, u"S", u"k", c.stored));
        EXPECT_EQ(Read(u"S", u"k"), c.read);
    }
}

TEST_F(ProfileTest, ReadsAreCutToTheBuffer) {
    const std::u16string longText(300, u'x');
    ASSERT_TRUE(ProfileWriteString(ini, u"S", u"k", longText));
    EXPECT_EQ(Read(u"S", u"k", 255), std::u16string(254, u'x'));
    EXPECT_EQ(Read(u"S", u"k", 301), longText);
}

TEST_F(ProfileTest, DeleteKeyAndSection) {
    ASSERT_TRUE(ProfileWriteString(ini, u"KavoIgnoreFolders", u"Count", u"1"));
    ASSERT_TRUE(ProfileWriteString(ini, u"KavoIgnoreFolders", u"Item_0", u"C:\\x"));
    ASSERT_TRUE(ProfileWriteString(ini, u"Options", u"AutoBuild", u"1"));
    ASSERT_TRUE(ProfileWriteString(ini, u"Options", u"AutoBuild", std::nullopt));
    EXPECT_EQ(ProfileReadString(ini, u"Options", u"AutoBuild", u"gone", 255), u"gone");
    ASSERT_TRUE(ProfileDeleteSection(ini, u"KavoIgnoreFolders"));
    EXPECT_EQ(Read(u"KavoIgnoreFolders", u"Item_0"), u"");
    const auto names = ProfileSectionNames(ini, 4096);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], u"Options");
}

TEST_F(ProfileTest, SectionNamesInFileOrder) {
    for (const char16_t* s : {u"Global", u"Options", u"A_", u"MRU"}) {
        ASSERT_TRUE(ProfileWriteString(ini, s, u"k", u"v"));
    }
    const std::vector<std::u16string> want = {u"Global", u"Options", u"A_", u"MRU"};
    EXPECT_EQ(ProfileSectionNames(ini, 4096), want);
}

TEST_F(ProfileTest, BinaryValuesRoundTripWithTheirSize) {
    const uint8_t bytes[] = {0x00, 0x7F, 0x80, 0xFF, 0x12};
    ASSERT_TRUE(ProfileWriteStruct(ini, u"UIState", u"RibbonState", bytes, sizeof bytes));
    auto back = ProfileReadStruct(ini, u"UIState", u"RibbonState", sizeof bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, std::vector<uint8_t>(bytes, bytes + sizeof bytes));
    // The stored form is upper-case hexadecimal with a checksum byte.
    EXPECT_EQ(Read(u"UIState", u"RibbonState"), u"007F80FF1210");
    EXPECT_FALSE(ProfileReadStruct(ini, u"UIState", u"RibbonState", 4));
    ASSERT_TRUE(ProfileWriteString(ini, u"UIState", u"RibbonState", u"007F80FF1211"));
    EXPECT_FALSE(ProfileReadStruct(ini, u"UIState", u"RibbonState", sizeof bytes));
}

TEST(FileTest, WriterReplacesInOneStepAndDiscardsOnFailure) {
    test::TempFolder dir;
    const std::u16string path = dir.File(u"kavo.frs");
    ASSERT_TRUE(WriteWholeFile(path, "old", 3));
    {
        FileWriter w;
        ASSERT_TRUE(w.Open(path));
        ASSERT_TRUE(w.Write("new!", 4));
        // Until Commit the old file stands.
        EXPECT_EQ(ReadWholeFile(path)->size(), 3u);
    }  // destroyed without Commit: discarded
    EXPECT_EQ(ReadWholeFile(path)->size(), 3u);
    EXPECT_FALSE(FileExists(path + u".tmp"));
    ASSERT_TRUE(WriteWholeFile(path, "new!", 4));
    EXPECT_EQ(*FileSize(path), 4u);
    EXPECT_TRUE(RemoveFile(path));
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(ReadWholeFile(path));
}

}  // namespace
}  // namespace kavo::platform

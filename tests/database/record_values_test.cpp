#include <gtest/gtest.h>

#include "database/record_values.h"

namespace kavo {
namespace {

TEST(NameKey, CapitalsAreListedAfterTheMark) {
    const NameKeyInfo k = MakeNameKey(u"Read Me.TXT", false);
    const std::u16string expected =
        std::u16string(u"2read me.txt") + u'\x1F' + u'\x01' + u'\x06' + u'\x09' + u'\x0A' + u'\x0B';
    EXPECT_EQ(k.key, expected);
    EXPECT_EQ(k.length, 11);
    EXPECT_EQ(k.upper_count, 5);
    EXPECT_EQ(k.wide, 0);
    EXPECT_EQ(NameFromKey(k.key, k.length, k.upper_count), u"Read Me.TXT");
}

TEST(NameKey, FolderSortsBeforeFileOfTheSameName) {
    const NameKeyInfo folder = MakeNameKey(u"docs", true);
    const NameKeyInfo file = MakeNameKey(u"docs", false);
    EXPECT_EQ(folder.key, u"1docs");
    EXPECT_EQ(file.key, u"2docs");
    EXPECT_LT(folder.key, file.key);
    EXPECT_EQ(folder.upper_count, 0);
}

TEST(NameKey, WideFlagAndBits) {
    const NameKeyInfo u = MakeNameKey(u"M\u00FCller", false);
    EXPECT_EQ(u.wide, 1);
    EXPECT_EQ(u.key, std::u16string(u"2m\u00FCller") + u'\x1F' + u'\x01');
    // A capital above 0x7F is lowered by the case map, and its position listed.
    const NameKeyInfo cap = MakeNameKey(u"\u00DCber", false);
    EXPECT_EQ(cap.key, std::u16string(u"2\u00FCber") + u'\x1F' + u'\x01');
    EXPECT_EQ(NameFromKey(cap.key, cap.length, cap.upper_count), u"\u00DCber");

    const NameKeyInfo abc = MakeNameKey(u"abc_1.txt", false);
    EXPECT_EQ(abc.wide, 0);
    const NameBits want = (1u << 0) | (1u << 1) | (1u << 2) | (1u << 27) | (1u << 29) | (1u << 26) |
                          (1u << 19) | (1u << 23);
    EXPECT_EQ(abc.bits, want);
    EXPECT_EQ(ComputeNameBits(u"abc_1.txt"), want);
}

TEST(NameBits, EveryRuleOfTheMask) {
    struct Case {
        char16_t unit;
        NameBits bits;
    } cases[] = {
        {u'a', 1u << 0},
        {u'z', 1u << 25},
        {u'.', 1u << 26},
        {u'_', 1u << 27},
        {u'0', 1u << 28},
        {u'1', 1u << 29},
        {u'2', 1u << 30},
        {u'3', 1u << 31},
        {u'4', 1u << 19},
        {u'A', 1u << 0},
        {u' ', 1u << ((0x20 - 0x61) & 31)},
        {u'{', 0},
        {0x00FC, 0},
        {0x65E5, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UnitNameBit(c.unit), c.bits) << static_cast<int>(c.unit);
    }
}

TEST(NameKey, LongNamesAreCutTo255Units) {
    const std::u16string name(300, u'A');
    const NameKeyInfo k = MakeNameKey(name, false);
    EXPECT_EQ(k.length, 255);
    EXPECT_EQ(k.upper_count, 255);
    EXPECT_EQ(k.key.size(), 1u + 255 + 1 + 255);
    EXPECT_EQ(k.key.back(), 255);
}

TEST(SizeCode, BoundaryAndConversions) {
    EXPECT_EQ(SizeToCode(2147483647ull), 2147483647);
    EXPECT_EQ(SizeToCode(2147483648ull), -2097152);
    EXPECT_EQ(SizeToCode(5ull << 30), -5242880);
    EXPECT_EQ(SizeCodeToBytes(-5242880), 5ll << 30);
    EXPECT_EQ(SizeCodeToBytes(1234), 1234);
    EXPECT_EQ(SizeCodeToBytes(kUnknownSize), 1234567890);
}

TEST(PackedTime, BothConversions) {
    // 1977-10-02 00:00:00 UTC is 11,889,072,000 seconds after 1601-01-01.
    const uint64_t epoch = 11889072000ull * 10000000ull;
    EXPECT_EQ(FileTimeToPackedTime(epoch), 0u);
    EXPECT_EQ(FileTimeToPackedTime(epoch + 10000000ull * 86400), 86400u);
    EXPECT_EQ(PackedTimeToFileTime(86400u), epoch + 10000000ull * 86400);
    // Sub-second parts are dropped.
    EXPECT_EQ(FileTimeToPackedTime(epoch + 19999999ull), 1u);
    // A time before the epoch wraps modulo 2^32.
    EXPECT_EQ(FileTimeToPackedTime(epoch - 10000000ull), 0xFFFFFFFFu);
}

TEST(RecordKey, FieldsAndVolumeTag) {
    const RecordKey k = MakeRecordKey(0x12345678u, 2, 7, 0xBEEF);
    EXPECT_EQ(RecordNumberOf(k), 0x12345678u);
    EXPECT_EQ(DriveIndexOf(k), 2u);
    EXPECT_EQ(VolumeNumberOf(k), 7u);
    EXPECT_EQ(SequenceOf(k), 0xBEEFu);
    EXPECT_EQ(VolumeTagOf(k), 7u * 256 + 2);
    EXPECT_EQ(k, 0xBEEF070212345678ull);
}

}  // namespace
}  // namespace kavo

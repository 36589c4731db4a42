#include <gtest/gtest.h>

#include <cstring>

#include "digestor/hash_file.h"
#include "platform/file.h"
#include "tests/support/test_support.h"

namespace kavo {
namespace {

HashEntry Entry(uint64_t key, uint32_t partial, uint8_t full_first = 0) {
    HashEntry e;
    e.key = key;
    e.time = 0x12345678;
    e.size = -5242880;
    e.partial = partial;
    e.full[0] = full_first;
    e.full[15] = full_first;
    return e;
}

TEST(HashFile, WriteThenReadKeepsLayoutAndReversesOldEntries) {
    test::TempFolder dir;
    const std::u16string path = dir.File(u"kavo.hash");
    const std::vector<HashEntry> old = {Entry(0x0001000200000010, 1), Entry(0x20, 2, 7)};
    const std::vector<HashEntry> fresh = {Entry(0x30, 3)};
    ASSERT_TRUE(WriteHashFile(path, old, fresh));
    EXPECT_FALSE(platform::FileExists(path + u".tmp"));

    const auto bytes = platform::ReadWholeFile(path);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 27652u + 3 * 36);
    EXPECT_EQ((*bytes)[0], 1);
    for (size_t i = 4; i < 27648; ++i) {
        ASSERT_EQ((*bytes)[i], 0) << i;
    }
    EXPECT_EQ((*bytes)[27648], 3);
    // First entry: the last old one, key 0x20 as low word then high word.
    EXPECT_EQ((*bytes)[27652], 0x20);
    EXPECT_EQ((*bytes)[27652 + 4], 0);

    HashFile first = ReadHashFile(path);
    EXPECT_EQ(first.version, 1u);
    const std::vector<HashEntry> expected = {old[1], old[0], fresh[0]};
    EXPECT_EQ(first.entries, expected);
    EXPECT_FALSE(first.entries[0].HasFullDigest() == false);
    EXPECT_FALSE(first.entries[1].HasFullDigest());

    // A second save of the same entries as old ones writes them in the opposite order.
    ASSERT_TRUE(WriteHashFile(path, first.entries, {}));
    const HashFile second = ReadHashFile(path);
    const std::vector<HashEntry> reversed = {fresh[0], old[0], old[1]};
    EXPECT_EQ(second.entries, reversed);
}

TEST(HashFile, MissingEmptyShortAndOldVersion) {
    test::TempFolder dir;
    EXPECT_TRUE(ReadHashFile(dir.File(u"none")).entries.empty());
    ASSERT_TRUE(platform::WriteWholeFile(dir.File(u"empty"), "", 0));
    EXPECT_TRUE(ReadHashFile(dir.File(u"empty")).entries.empty());

    const std::u16string path = dir.File(u"kavo.hash");
    ASSERT_TRUE(WriteHashFile(path, {}, {Entry(1, 11, 5), Entry(2, 22), Entry(3, 33)}));
    auto bytes = *platform::ReadWholeFile(path);
    bytes[0] = 0;                     // version 0
    bytes.resize(bytes.size() - 10);  // the last entry cut short
    ASSERT_TRUE(platform::WriteWholeFile(path, bytes.data(), bytes.size()));
    const HashFile f = ReadHashFile(path);
    EXPECT_EQ(f.version, 0u);
    ASSERT_EQ(f.entries.size(), 2u);
    EXPECT_TRUE(f.entries[0].HasFullDigest());
    EXPECT_EQ(f.entries[1].partial, 22u);
}

TEST(HashFile, FailedWriteLeavesThePreviousFile) {
    test::TempFolder dir;
    const std::u16string path = dir.File(u"kavo.hash");
    ASSERT_TRUE(WriteHashFile(path, {}, {Entry(1, 11)}));
    // A folder in the way of the temporary file makes the write fail.
    ASSERT_TRUE(platform::MakeDirectory(path + u".tmp"));
    EXPECT_FALSE(WriteHashFile(path, {}, {Entry(2, 22), Entry(3, 33)}));
    EXPECT_EQ(ReadHashFile(path).entries.size(), 1u);
}

TEST(Md5sFile, Reads) {
    test::TempFolder dir;
    std::vector<uint8_t> b(4 + 2 * 24, 0);
    b[0] = 2;
    b[4] = 0x10;      // key low word of the first entry
    b[4 + 5] = 0x01;  // high word, byte 1: bits 40-47
    b[4 + 8] = 0xAA;  // first digest byte
    b[28] = 0x20;
    b[28 + 23] = 0xBB;
    ASSERT_TRUE(platform::WriteWholeFile(dir.File(u"kavo.md5s"), b.data(), b.size()));
    const auto t = ReadMd5sFile(dir.File(u"kavo.md5s"));
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t.at(0x0000010000000010ull)[0], 0xAA);
    EXPECT_EQ(t.at(0x20)[15], 0xBB);
    EXPECT_TRUE(ReadMd5sFile(dir.File(u"none")).empty());
}

TEST(PartialDigest, SampleAndCollisions) {
    EXPECT_EQ(PartialDigestOfBytes(nullptr, 0), 0u);

    std::vector<uint8_t> a(10000);
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    std::vector<uint8_t> b = a;
    for (size_t i = 2730; i <= 3633; ++i) {
        b[i] ^= 0x5A;  // inside the gap before the middle piece
    }
    EXPECT_EQ(PartialDigestOfBytes(a.data(), a.size()), PartialDigestOfBytes(b.data(), b.size()));
    b[3634] ^= 1;  // the first byte of the middle piece
    EXPECT_NE(PartialDigestOfBytes(a.data(), a.size()), PartialDigestOfBytes(b.data(), b.size()));

    // An 8192-byte file is sampled as three pieces at 0, 2730 and 5460: the whole file.
    std::vector<uint64_t> offsets;
    PartialDigestSample(8192, [&](uint64_t off, uint8_t*, size_t n) {
        offsets.push_back(off);
        offsets.push_back(n);
        return n;
    });
    EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 2730, 2730, 2730, 5460, 2732}));

    // A small file is its content followed by zeros; the size seeds the digest.
    const uint8_t one[1] = {0};
    const uint8_t two[2] = {0, 0};
    EXPECT_NE(PartialDigestOfBytes(one, 1), PartialDigestOfBytes(two, 2));
    EXPECT_EQ(PartialDigestSample(1,
                                  [](uint64_t, uint8_t* p, size_t n) {
                                      std::memset(p, 9, n);
                                      return n;
                                  })[1],
              0);
}

}  // namespace
}  // namespace kavo

// Master file tables written by Windows, decoded record by record against The Sleuth Kit's
// listing of the volumes they came from.
#include <gtest/gtest.h>

#include "scan/mft_parser.h"
#include "tests/scan_ntfs/ntfs_test_support.h"
#include "tests/support/test_support.h"

namespace kavo::test {
namespace {

// What a full scan would emit from a table alone: named records in use from 16 on, whose
// chain of parents does not pass through the file system's own folders.
std::map<uint64_t, FoundItem> EmittedFromTable(const std::vector<ntfs::MftEntry>& entries) {
    std::map<uint64_t, FoundItem> out;
    for (uint64_t i = 16; i < entries.size(); ++i) {
        const ntfs::MftEntry& e = entries[i];
        if (!e.InUse() || !e.name)
            continue;
        uint64_t p = e.parent;
        bool system = false;
        for (int depth = 0; depth < 64 && p != 5; ++depth) {
            if (p < 16 || p >= entries.size()) {
                system = p < 16;
                break;
            }
            p = entries[p].parent;
        }
        if (system)
            continue;
        FoundItem item;
        item.parent = e.parent;
        item.folder = e.IsFolder();
        item.size = item.folder ? 0 : static_cast<int32_t>(e.size);
        item.name = std::u16string(e.Name());
        out[i] = item;
    }
    return out;
}

TEST(MftListing, RawTablesAgreeWithTheSleuthKit) {
    struct Case {
        const char* mft;
        const char* fls;
        uint32_t record_size;
        size_t in_use;
    } cases[] = {
        {"unicode.mft", "unicode.fls", 1024, 36},
        {"orphan.mft", "orphan.fls", 1024, 36},
        {"4k-large.mft", "4k-large.fls", 4096, 36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mft);
        auto bytes =
            ReadHostFile(SharedDataHostPath(std::string("ntfs/dfir-mft-listings/") + c.mft));
        ASSERT_FALSE(bytes.empty());
        ntfs::MftParser parser;
        uint32_t parsed = parser.ParseBuffer(bytes.data(), bytes.size(), c.record_size);
        EXPECT_EQ(parsed, bytes.size() / c.record_size);
        size_t in_use = 0;
        for (const auto& e : parser.Entries())
            in_use += e.InUse();
        EXPECT_EQ(in_use, c.in_use);
        auto listed =
            ReadFlsListing(SharedDataHostPath(std::string("ntfs/dfir-mft-listings/") + c.fls));
        ASSERT_FALSE(listed.empty());
        auto bad = CompareWithListing(EmittedFromTable(parser.Entries()), listed);
        EXPECT_TRUE(bad.empty()) << ::testing::PrintToString(bad);
    }
}

TEST(MftListing, DeletedRecordsAreNotInUse) {
    auto bytes = ReadHostFile(SharedDataHostPath("ntfs/dfir-mft-listings/deleted.mft"));
    ntfs::MftParser parser;
    parser.ParseBuffer(bytes.data(), bytes.size(), 1024);
    size_t in_use = 0, file_records = 0;
    bool deleted_file_seen = false;
    for (const auto& e : parser.Entries()) {
        in_use += e.InUse();
        file_records += e.flags != 0 || e.name != nullptr || e.sequence != 0;
        if (!e.InUse() && e.name && e.Name() == u"file.txt")
            deleted_file_seen = true;
    }
    EXPECT_EQ(in_use, 35u);
    EXPECT_TRUE(deleted_file_seen);
}

}  // namespace
}  // namespace kavo::test

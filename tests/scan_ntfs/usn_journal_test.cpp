// Change records written by Windows, read as the change scan reads them, against Windows'
// own listing of the same journal (fsutil usn readjournal).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "base/text.h"
#include "scan/usn_record.h"
#include "tests/scan_ntfs/ntfs_test_support.h"
#include "tests/support/test_support.h"

namespace kavo::test {
namespace {

using ntfs::UsnRecord;

constexpr uint64_t kJournalId = 0x01d4b29a6f9cc0e9ull;
constexpr int64_t kListedNextUsn = 29792;

std::vector<std::map<std::string, std::string>> ReadFsutilListing() {
    std::ifstream in(SharedDataHostPath("ntfs/dfir-usnjrnlj/usnjrnlj.fsutil.txt"));
    std::vector<std::map<std::string, std::string>> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t colon = line.find(" : ");
        if (colon == std::string::npos)
            continue;
        std::string key = line.substr(0, colon);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        std::string value = line.substr(colon + 3);
        if (key == "Usn")
            out.emplace_back();
        if (!out.empty())
            out.back()[key] = value;
    }
    return out;
}

std::vector<uint8_t> JournalBytes() {
    return ReadHostFile(SharedDataHostPath("ntfs/dfir-usnjrnlj/usnjrnlj.bin"));
}

// Every record a version-0 read returns, through the same page walker as the image seam.
std::vector<std::vector<uint8_t>> ReadAllV2(const std::vector<uint8_t>& j, uint64_t end) {
    std::vector<std::vector<uint8_t>> out;
    auto read = [&](uint64_t offset, uint8_t* to, size_t size) {
        size_t n = offset < j.size() ? std::min<size_t>(size, j.size() - offset) : 0;
        std::memcpy(to, j.data() + offset, n);
        std::memset(to + n, 0, size - n);
        return true;
    };
    uint64_t at = 0;
    std::vector<uint8_t> buffer(10000);
    for (;;) {
        size_t got = 0;
        EXPECT_TRUE(
            ntfs::FillJournalOutput(read, at, end, 0xFFFFFFFF, buffer.data(), buffer.size(), &got));
        uint64_t next;
        std::memcpy(&next, buffer.data(), 8);
        for (size_t pos = 8; pos < got;) {
            UsnRecord r;
            EXPECT_TRUE(ntfs::DecodeUsnRecord(buffer.data() + pos, got - pos, &r));
            if (r.record_length == 0)
                break;
            out.emplace_back(buffer.data() + pos, buffer.data() + pos + r.record_length);
            pos += r.record_length;
        }
        if (got <= 8 || next <= at)
            break;
        at = next;
    }
    return out;
}

std::string Hex(uint64_t v, int digits) {
    char b[40];
    std::snprintf(b, sizeof b, "%0*llx", digits, static_cast<unsigned long long>(v));
    return b;
}

TEST(UsnJournal, WindowsRecordsDecodeAsFsutilListsThem) {
    std::vector<uint8_t> j = JournalBytes();
    ASSERT_EQ(j.size(), 30056u);
    // The whole stream: 264 version-2 records; the 7 version-4 records are passed over.
    auto all = ReadAllV2(j, j.size());
    EXPECT_EQ(all.size(), 264u);
    size_t v4 = 0;
    for (size_t pos = 0; pos + 8 <= j.size();) {
        uint32_t length;
        std::memcpy(&length, j.data() + pos, 4);
        if (length == 0) {
            pos = (pos / 4096 + 1) * 4096;
            continue;
        }
        if (j[pos + 4] == 4)
            ++v4;
        pos += length;
    }
    EXPECT_EQ(v4, 7u);

    auto listed = ReadFsutilListing();
    std::vector<std::map<std::string, std::string>> listed_v2;
    for (auto& r : listed)
        if (r["Major version"] != "4")
            listed_v2.push_back(r);
    auto within = ReadAllV2(j, kListedNextUsn);
    ASSERT_EQ(within.size(), listed_v2.size());
    ASSERT_EQ(within.size(), 261u);
    for (size_t i = 0; i < within.size(); ++i) {
        UsnRecord r;
        ASSERT_TRUE(ntfs::DecodeUsnRecord(within[i].data(), within[i].size(), &r));
        auto& want = listed_v2[i];
        SCOPED_TRACE(want["Usn"]);
        EXPECT_EQ(r.major_version, 2);
        EXPECT_EQ(std::to_string(r.usn), want["Usn"]);
        EXPECT_EQ(Utf16ToUtf8(r.Name()), want["File name"]);
        EXPECT_EQ(std::to_string(2 * r.name_units), want["File name length"]);
        EXPECT_EQ(Cat("0x", Hex(r.reason, 8)), want["Reason"].substr(0, 10));
        EXPECT_EQ(Cat("0x", Hex(r.file_attributes, 8)), want["File attributes"].substr(0, 10));
        EXPECT_EQ(Hex(r.file_reference, 32), want["File ID"]);
        EXPECT_EQ(Hex(r.parent_reference, 32), want["Parent file ID"]);
        EXPECT_EQ(Cat("0x", Hex(r.source_info, 8)), want["Source info"].substr(0, 10));
        EXPECT_EQ(std::to_string(r.security_id), want["Security ID"]);
    }
}

TEST(UsnJournal, SingleRecordsAndSmallExcerpts) {
    struct Case {
        const char* file;
        size_t v2_records;
    } cases[] = {
        {"ntfs/dfir-usnjrnlj/usn_1170953448.bin", 1}, {"ntfs/dfir-usnjrnlj/usn_1170990440.bin", 1},
        {"ntfs/dfir-usnjrnlj/usn_1170955904.bin", 0}, {"ntfs/dfir-usnjrnlj/usn_1170989584.bin", 0},
        {"ntfs/plaso-usnjrnl/UsnJrnl.raw", 19},       {"ntfs/pb-usnjrnl/usnjrnl.bin", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto j = ReadHostFile(SharedDataHostPath(c.file));
        ASSERT_FALSE(j.empty());
        auto records = ReadAllV2(j, j.size());
        EXPECT_EQ(records.size(), c.v2_records);
        for (auto& bytes : records) {
            UsnRecord r;
            ASSERT_TRUE(ntfs::DecodeUsnRecord(bytes.data(), bytes.size(), &r));
            EXPECT_GT(r.name_units, 0);
        }
    }
    auto one = ReadHostFile(SharedDataHostPath("ntfs/dfir-usnjrnlj/usn_1170953448.bin"));
    UsnRecord r;
    ASSERT_TRUE(ntfs::DecodeUsnRecord(one.data(), one.size(), &r));
    EXPECT_EQ(r.usn, 1170953448);
    EXPECT_EQ(Utf16ToUtf8(r.Name()), "large_file.txt");
}

TEST(UsnJournal, DamagedRecordsAreRejected) {
    std::vector<uint8_t> j;
    AppendUsnRecord(&j, 0x1000000000040ull, 0x5000000000005ull, 0x80000100, 0x20, u"a.txt");
    const std::vector<uint8_t> good = j;
    UsnRecord r;
    ASSERT_TRUE(ntfs::DecodeUsnRecord(j.data(), j.size(), &r));
    struct Case {
        const char* what;
        size_t offset;
        uint16_t value;
        size_t available;
    } cases[] = {
        {"length below the header", 0, 40, 72},  {"length beyond the bytes", 0, 200, 72},
        {"name beyond the record", 56, 200, 72}, {"name offset inside the header", 58, 20, 72},
        {"odd name length", 56, 9, 72},          {"bytes shorter than a header", 0, 72, 59},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        j = good;
        std::memcpy(j.data() + c.offset, &c.value, 2);
        EXPECT_FALSE(ntfs::DecodeUsnRecord(j.data(), c.available, &r));
    }
    // A name of 260 units is refused, one of 259 accepted.
    for (size_t units : {259u, 260u}) {
        std::vector<uint8_t> big;
        AppendUsnRecord(&big, 0x40, 0x5, 0x80000100, 0x20, std::u16string(units, u'x'));
        EXPECT_EQ(ntfs::DecodeUsnRecord(big.data(), big.size(), &r), units == 259) << units;
    }
}

// The change scan over the real records up to the listing's end: every closed create is
// added, and the four rename pairs become renames with their old names.
TEST(UsnJournal, ChangeScanOfWindowsRecords) {
    std::vector<uint8_t> j = JournalBytes();
    j.resize(kListedNextUsn);
    JournalVolume volume(nullptr, j, kJournalId);
    RecordingListener listener;
    NoIgnoreRules rules;
    NtfsVolumeTarget target;
    target.drive_letter = u'D';
    int64_t next = 0;
    int64_t fetched = ReadJournalChanges(volume, target, listener, rules, kJournalId, &next);
    EXPECT_EQ(next, kListedNextUsn);

    // The read asks only for the reasons the scan acts on.
    int64_t want_fetched = 0;
    std::multiset<std::pair<std::string, std::string>> want_added;
    for (auto& r : ReadFsutilListing()) {
        if (r["Major version"] == "4")
            continue;
        uint32_t reason = static_cast<uint32_t>(std::stoul(r["Reason"].substr(2, 8), nullptr, 16));
        if (reason & ntfs::kUsnReadMask)
            ++want_fetched;
        if ((reason & 0x80000000) && (reason & 0x100))
            want_added.insert({r["File ID"].substr(16), r["File name"]});
    }
    std::multiset<std::pair<std::string, std::string>> added;
    for (const Call* c : listener.Of("add")) {
        // Keys carry the drive index (3 = D) in bits 32-47.
        EXPECT_EQ((c->entry.key >> 32) & 0xFFFF, 3u);
        EXPECT_EQ((c->entry.parent_key >> 32) & 0xFFFF, 3u);
        uint64_t reference = c->entry.key & 0xFFFF0000FFFFFFFFull;
        added.insert({Hex(reference, 16), Utf16ToUtf8(c->name)});
    }
    EXPECT_EQ(fetched, want_fetched);
    EXPECT_GT(fetched, 200);
    EXPECT_EQ(added, want_added);
    EXPECT_FALSE(want_added.empty());

    std::vector<std::pair<std::string, std::string>> renames;
    for (const Call* c : listener.Of("change"))
        if (c->old_name)
            renames.push_back({Utf16ToUtf8(*c->old_name), Utf16ToUtf8(c->name)});
    std::vector<std::pair<std::string, std::string>> want_renames = {
        {"New folder", "test_dir"},
        {"New Text Document.txt", "test_file_1.txt"},
        {"test_file_1.txt", "test_file_111.txt"},
        {"tracking.log.tmp", "tracking.log"},
    };
    EXPECT_EQ(renames, want_renames);
    EXPECT_TRUE(listener.Of("remove").empty());
}

}  // namespace
}  // namespace kavo::test

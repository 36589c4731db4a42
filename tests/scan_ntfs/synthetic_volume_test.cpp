// Volumes built byte by byte for what the real data lacks: a fragmented MFT whose own record
// carries an attribute list, damaged records among sound ones, and the boot-sector forms.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/file.h"
#include "scan/mft_parser.h"
#include "scan/ntfs_decoded_volume.h"
#include "tests/scan_ntfs/ntfs_test_support.h"
#include "tests/support/test_support.h"

namespace kavo::test {
namespace {

constexpr uint32_t kCluster = 4096;
constexpr uint32_t kRecord = 1024;

void Put16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}
void Put32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}
void Put64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}

// One file record under construction.
class Record {
  public:
    Record(uint16_t flags, uint16_t sequence = 1, uint64_t base = 0) : bytes_(kRecord, 0) {
        std::memcpy(bytes_.data(), "FILE", 4);
        Put16(&bytes_[4], 48);  // update sequence array
        Put16(&bytes_[6], kRecord / 512 + 1);
        Put16(&bytes_[16], sequence);
        Put16(&bytes_[20], 56);
        Put16(&bytes_[22], flags);
        Put32(&bytes_[28], kRecord);
        Put64(&bytes_[32], base);
        at_ = 56;
    }
    Record& Resident(uint32_t type,
                     const std::vector<uint8_t>& value,
                     std::u16string_view name = {}) {
        uint32_t name_off = 24, value_off = (24 + 2 * name.size() + 7) & ~7u;
        uint32_t len = (value_off + value.size() + 7) & ~7u;
        uint8_t* a = Header(type, len, false, name, name_off);
        Put32(a + 16, static_cast<uint32_t>(value.size()));
        Put16(a + 20, static_cast<uint16_t>(value_off));
        std::memcpy(a + value_off, value.data(), value.size());
        at_ += len;
        return *this;
    }
    Record& NonResident(uint32_t type,
                        uint64_t start_vcn,
                        uint64_t last_vcn,
                        uint64_t size,
                        const std::vector<uint8_t>& runs,
                        std::u16string_view name = {}) {
        uint32_t name_off = 64, runs_off = (64 + 2 * name.size() + 7) & ~7u;
        uint32_t len = (runs_off + runs.size() + 1 + 7) & ~7u;
        uint8_t* a = Header(type, len, true, name, name_off);
        Put64(a + 16, start_vcn);
        Put64(a + 24, last_vcn);
        Put16(a + 32, static_cast<uint16_t>(runs_off));
        Put64(a + 40, size);
        Put64(a + 48, size);
        Put64(a + 56, size);
        std::memcpy(a + runs_off, runs.data(), runs.size());
        at_ += len;
        return *this;
    }
    Record& Name(uint64_t parent, std::u16string_view name, uint8_t space = 1, uint32_t flags = 0) {
        std::vector<uint8_t> v(66 + 2 * name.size());
        Put64(v.data(), parent);
        Put32(v.data() + 56, flags);
        v[64] = static_cast<uint8_t>(name.size());
        v[65] = space;
        for (size_t i = 0; i < name.size(); ++i)
            Put16(v.data() + 66 + 2 * i, name[i]);
        return Resident(0x30, v);
    }
    Record& Info(uint64_t time, uint32_t attributes = 0) {
        std::vector<uint8_t> v(72);
        Put64(v.data() + 8, time);
        Put32(v.data() + 32, attributes);
        return Resident(0x10, v);
    }
    // Finishes the record: end marker, bytes in use, and the fixups as the disk holds them.
    std::vector<uint8_t> Bytes() {
        std::vector<uint8_t> b = bytes_;
        Put32(&b[at_], 0xFFFFFFFF);
        Put32(&b[24], at_ + 8);
        Put16(&b[40], next_id_);
        Put16(&b[48], 0x0042);
        for (uint32_t i = 1; i <= kRecord / 512; ++i) {
            std::memcpy(&b[48 + 2 * i], &b[512 * i - 2], 2);
            Put16(&b[512 * i - 2], 0x0042);
        }
        return b;
    }

  private:
    uint8_t* Header(uint32_t type,
                    uint32_t len,
                    bool nonres,
                    std::u16string_view name,
                    uint32_t name_off) {
        uint8_t* a = &bytes_[at_];
        Put32(a, type);
        Put32(a + 4, len);
        a[8] = nonres;
        a[9] = static_cast<uint8_t>(name.size());
        Put16(a + 10, static_cast<uint16_t>(name_off));
        Put16(a + 14, next_id_++);
        for (size_t i = 0; i < name.size(); ++i)
            Put16(a + name_off + 2 * i, name[i]);
        return a;
    }
    std::vector<uint8_t> bytes_;
    uint32_t at_;
    uint16_t next_id_ = 0;
};

// A single run header: 1 byte of length and 2 bytes of LCN.
std::vector<uint8_t> Run(uint8_t clusters, uint16_t lcn) {
    return {0x21, clusters, static_cast<uint8_t>(lcn), static_cast<uint8_t>(lcn >> 8), 0};
}

std::vector<uint8_t> ListEntry(uint32_t type, uint64_t vcn, uint64_t record) {
    std::vector<uint8_t> e(32, 0);
    Put32(e.data(), type);
    Put16(e.data() + 4, 32);
    e[7] = 26;
    Put64(e.data() + 8, vcn);
    Put64(e.data() + 16, record);
    return e;
}

// 64 records in two pieces: records 0-15 at cluster 100, 16-63 at cluster 300; the second
// piece is described only in record 15, which the MFT's attribute list names.
struct Built {
    std::vector<uint8_t> volume;
    std::map<uint32_t, std::vector<uint8_t>> records;
    void Place(uint32_t n) {
        uint64_t at =
            n < 16 ? 100ull * kCluster + n * kRecord : 300ull * kCluster + (n - 16) * kRecord;
        std::memcpy(&volume[at], records[n].data(), kRecord);
    }
};

Built BuildFragmented(bool damaged_runs = false) {
    Built b;
    b.volume.assign(400 * kCluster, 0);
    uint8_t* boot = b.volume.data();
    std::memcpy(boot + 3, "NTFS    ", 8);
    Put16(boot + 11, 512);
    boot[13] = kCluster / 512;
    Put64(boot + 40, 400ull * kCluster / 512);
    Put64(boot + 48, 100);
    Put32(boot + 64, 0xF6);
    std::vector<uint8_t> list;
    for (auto e : {ListEntry(0x10, 0, 0), ListEntry(0x80, 0, 0), ListEntry(0x80, 4, 15),
                   ListEntry(0xB0, 0, 0)})
        list.insert(list.end(), e.begin(), e.end());
    b.records[0] = Record(1)
                       .Info(0)
                       .Resident(0x20, list)
                       .Name(5, u"$MFT")
                       .NonResident(0x80, 0, 3, 64 * kRecord, Run(4, 100))
                       .Resident(0xB0, std::vector<uint8_t>(8, 0xFF))
                       .Bytes();
    b.records[15] =
        Record(1, 1, 0).NonResident(0x80, 4, 15, 0, Run(12, damaged_runs ? 60000 : 300)).Bytes();
    b.records[5] = Record(3, 5).Info(0).Name(5, u".", 3).Bytes();
    const uint64_t t = 132000000000000000ull;
    b.records[20] = Record(3).Info(t).Name(5, u"far", 1, 0x10000000).Bytes();
    b.records[40] = Record(1).Info(t).Name(20, u"deep.txt").Resident(0x80, {1, 2, 3, 4, 5}).Bytes();
    b.records[63] =
        Record(1).Info(t).Name(5, u"last.bin").NonResident(0x80, 0, 9, 40000, Run(10, 350)).Bytes();
    // Names: DOS-only, Win32 and DOS, POSIX.
    b.records[34] = Record(1).Info(t).Name(5, u"DOSONLY~1", 2).Bytes();
    b.records[35] =
        Record(1).Info(t).Name(5, u"LONGNA~1.TXT", 2).Name(5, u"long name.txt", 1).Bytes();
    b.records[36] = Record(1).Info(t).Name(5, u"posix:name", 0).Bytes();
    // An extension record lends its name to its base.
    b.records[37] = Record(1).Info(t).Resident(0x80, {9, 9}).Bytes();
    b.records[38] = Record(1, 1, 37 | (uint64_t{1} << 48)).Name(5, u"lent.txt").Bytes();
    // Damaged records.
    b.records[30] = Record(1).Info(t).Name(5, u"bad-length.txt").Bytes();
    Put32(&b.records[30][56 + 4], 5000);  // the first attribute claims more than the record
    b.records[31] = Record(1).Info(t).Name(5, u"bad-name.txt").Bytes();
    b.records[31][56 + 96 + 24 + 64] = 200;  // a name longer than its attribute
    b.records[32] = Record(1).Info(t).Name(5, u"bad-fixup.txt").Bytes();
    Put16(&b.records[32][4], 1020);  // update sequence array outside the record
    b.records[33] = Record(1).Info(t).Name(5, u"bad-first.txt").Bytes();
    Put16(&b.records[33][20], 2000);  // first attribute outside the record
    b.records[41] = Record(1).Info(t).Name(5, u"after-damage.txt").Resident(0x80, {1}).Bytes();
    for (auto& [n, bytes] : b.records)
        b.Place(n);
    return b;
}

TEST(SyntheticVolume, FragmentedMftIsFollowedThroughItsAttributeList) {
    Built b = BuildFragmented();
    auto volume = MakeDecodedVolume(std::make_unique<MemoryVolume>(b.volume));
    ntfs::MftLayout layout;
    ASSERT_TRUE(ntfs::LoadMftLayout(*volume, &layout));
    EXPECT_EQ(layout.record_count, 64u);
    ASSERT_EQ(layout.runs.size(), 2u);
    EXPECT_EQ(layout.runs[1].vcn, 4u);
    EXPECT_EQ(layout.runs[1].lcn, 300u);

    RecordingListener listener;
    NoIgnoreRules rules;
    NtfsVolumeTarget target;
    target.drive_letter = u'F';
    ASSERT_EQ(FullMftScan(*volume, target, listener, rules), 64);
    std::map<std::u16string, const Call*> by_name;
    for (const Call* c : listener.Of("add"))
        by_name[c->name] = c;
    std::vector<std::u16string> want = {
        u"F:",         u"far",      u"deep.txt",        u"last.bin", u"long name.txt",
        u"posix:name", u"lent.txt", u"after-damage.txt"};
    std::vector<std::u16string> got;
    for (auto& [name, c] : by_name)
        got.push_back(name);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    ASSERT_TRUE(by_name.count(u"deep.txt"));
    EXPECT_EQ(by_name[u"deep.txt"]->entry.size, 5);
    EXPECT_EQ(by_name[u"deep.txt"]->entry.parent_key, by_name[u"far"]->entry.key);
    EXPECT_EQ(by_name[u"far"]->entry.is_folder, 1);
    EXPECT_EQ(by_name[u"last.bin"]->entry.size, 40000);
    EXPECT_EQ(by_name[u"lent.txt"]->entry.size, 2);
    EXPECT_EQ(by_name[u"lent.txt"]->entry.key & 0xFFFFFFFF, 37u);
    EXPECT_EQ(by_name[u"deep.txt"]->entry.time,
              static_cast<uint32_t>(132000000000000000ull / 10000000 + 995829888u));
    EXPECT_EQ(by_name[u"F:"]->entry.key, 5 | (uint64_t{5} << 48) | (uint64_t{5} << 32));

    // The seam answers file records and paths from the far piece too.
    auto index = volume->FolderFileIndex(u"F:\\far\\deep.txt");
    ASSERT_TRUE(index);
    EXPECT_EQ(*index & 0xFFFFFFFFFFFFull, 40u);
    EXPECT_EQ(volume->PathAttributes(u"F:\\far").value_or(0) & 0x10, 0x10u);
    EXPECT_FALSE(volume->FileExistsAt(u"F:\\far\\missing"));
}

// Through the platform's raw-volume implementation (CreateFileW and ReadFile under Wine):
// a file answers no control request, so the volume is decoded from its own bytes.
TEST(SyntheticVolume, RawVolumeWithoutControlRequestsIsDecoded) {
    Built b = BuildFragmented();
    TempFolder tmp;
    const std::u16string path = tmp.File(u"raw.vol");
    ASSERT_TRUE(platform::WriteWholeFile(path, b.volume.data(), b.volume.size()));
    uint32_t error = 0;
    auto volume = OpenNtfsVolume(path, &error);
    ASSERT_TRUE(volume) << error;
    platform::NtfsVolumeData data;
    ASSERT_EQ(volume->GetVolumeData(&data), platform::kRawOk);
    EXPECT_EQ(data.bytes_per_file_record_segment, kRecord);
    EXPECT_EQ(data.bytes_per_cluster, kCluster);
    EXPECT_EQ(data.mft_start_lcn, 100u);
    uint8_t odd[3];
    size_t got = 0;
    ASSERT_EQ(volume->ReadAt(3, odd, 3, &got), platform::kRawOk);
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(std::memcmp(odd, "NTF", 3), 0);
    std::vector<uint8_t> record(kRecord + 16);
    size_t size = 0;
    uint64_t number = 0;
    ASSERT_EQ(volume->GetFileRecord(40, record.data(), record.size(), &size, &number),
              platform::kRawOk);
    EXPECT_EQ(number, 40u);
    EXPECT_EQ(std::memcmp(record.data(), "FILE", 4), 0);
    // A record not in use answers with the nearest one below that is.
    ASSERT_EQ(volume->GetFileRecord(45, record.data(), record.size(), &size, &number),
              platform::kRawOk);
    EXPECT_EQ(number, 41u);
    uint64_t bytes = 0;
    EXPECT_EQ(volume->FileSizeById(63 | (uint64_t{1} << 48), &bytes), platform::kRawOk);
    EXPECT_EQ(bytes, 40000u);
    EXPECT_NE(volume->FileSizeById(63 | (uint64_t{9} << 48), &bytes), platform::kRawOk);

    RecordingListener listener;
    NoIgnoreRules rules;
    NtfsVolumeTarget target;
    JournalState state;
    ASSERT_EQ(ScanNtfsVolume(path, target, listener, rules, &state), NtfsScanResult::kFullScan);
    EXPECT_EQ(listener.Of("add").size(), 8u);
    EXPECT_EQ(ScanNtfsVolume(tmp.File(u"missing.vol"), target, listener, rules, &state),
              NtfsScanResult::kOpenFailed);
}

TEST(SyntheticVolume, MftRunsOutsideTheVolumeAreRefused) {
    Built b = BuildFragmented(true);
    auto volume = MakeDecodedVolume(std::make_unique<MemoryVolume>(b.volume));
    ntfs::MftLayout layout;
    ASSERT_TRUE(ntfs::LoadMftLayout(*volume, &layout));
    EXPECT_EQ(layout.record_count, 16u);  // only the part that lies inside
    RecordingListener listener;
    JournalState state{5, 77};
    NtfsVolumeTarget target;
    NoIgnoreRules rules;
    // No journal on this volume: a full scan, of the records that can be read.
    EXPECT_EQ(ScanNtfsVolume(*volume, target, listener, rules, &state), NtfsScanResult::kFullScan);
    EXPECT_EQ(listener.Of("add").size(), 1u);  // the root only
}

TEST(SyntheticVolume, NotNtfsAndMissingMftLeaveEverythingAlone) {
    Built b = BuildFragmented();
    std::vector<uint8_t> fat = b.volume;
    std::memcpy(fat.data() + 3, "MSDOS5.0", 8);
    auto not_ntfs = MakeDecodedVolume(std::make_unique<MemoryVolume>(fat));
    RecordingListener listener;
    NoIgnoreRules rules;
    NtfsVolumeTarget target;
    JournalState state{5, 77};
    EXPECT_EQ(ScanNtfsVolume(*not_ntfs, target, listener, rules, &state), NtfsScanResult::kNotNtfs);
    EXPECT_TRUE(listener.calls.empty());
    EXPECT_EQ(state.next_usn, 77);

    // An MFT record without $DATA: the volume's records are removed, nothing is added and
    // the stored state is cleared so that the next build scans in full again.
    std::vector<uint8_t> broken = b.volume;
    std::vector<uint8_t> no_data = Record(1).Info(0).Name(5, u"$MFT").Bytes();
    std::memcpy(&broken[100 * kCluster], no_data.data(), kRecord);
    auto volume = MakeDecodedVolume(std::make_unique<MemoryVolume>(broken));
    EXPECT_EQ(ScanNtfsVolume(*volume, target, listener, rules, &state), NtfsScanResult::kMftFailed);
    EXPECT_EQ(listener.calls.size(), 1u);
    EXPECT_EQ(listener.calls[0].what, "removevolume");
    EXPECT_EQ(state.journal_id, 0u);
    EXPECT_EQ(state.next_usn, 0);
}

TEST(SyntheticVolume, BootSectorForms) {
    struct Case {
        uint16_t sector;
        uint8_t per_cluster;
        uint32_t per_record;
        uint32_t record_size;  // 0 = refused
    } cases[] = {
        {512, 8, 0xF6, 1024},  {512, 8, 0xF4, 4096},    {512, 4, 2, 4096}, {512, 1, 0xF6, 1024},
        {4096, 1, 0xF6, 1024}, {512, 8, 0, 0},          {500, 8, 0xF6, 0}, {512, 3, 0xF6, 0},
        {512, 8, 0xE0, 0},     {512, 0xF4, 0xF6, 1024},
    };
    for (const Case& c : cases) {
        uint8_t boot[512] = {};
        std::memcpy(boot + 3, "NTFS    ", 8);
        Put16(boot + 11, c.sector);
        boot[13] = c.per_cluster;
        Put64(boot + 40, 1000000);
        Put64(boot + 48, 4);
        Put32(boot + 64, c.per_record);
        auto b = ntfs::DecodeBootSector(boot, sizeof boot);
        EXPECT_EQ(b ? b->record_size : 0, c.record_size)
            << c.sector << " " << int(c.per_cluster) << " " << c.per_record;
    }
}

TEST(SyntheticVolume, RunListsAreBounded) {
    struct Case {
        std::vector<uint8_t> runs;
        uint64_t total;
        bool ok;
        size_t count;
    } cases[] = {
        {{0x21, 4, 0x10, 0x00, 0x00}, 100, true, 1},
        {{0x21, 4, 0x10, 0x00, 0x11, 2, 0xF0, 0x00}, 100, true, 2},   // -16: back to cluster 0
        {{0x01, 8, 0x00}, 100, true, 1},                              // sparse
        {{0x21, 4, 0x60, 0x00, 0x00}, 50, false, 0},                  // outside the volume
        {{0x21, 4, 0x10}, 100, false, 0},                             // cut short
        {{0x91, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}, 0, false, 0},       // nine offset bytes
        {{0x21, 4, 0x10, 0x00, 0x11, 2, 0xE0, 0x00}, 100, false, 1},  // before cluster 0
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::vector<ntfs::DataRun> runs;
        EXPECT_EQ(
            ntfs::DecodeRuns(cases[i].runs.data(), cases[i].runs.size(), 0, cases[i].total, &runs),
            cases[i].ok)
            << i;
        EXPECT_EQ(runs.size(), cases[i].count) << i;
    }
}

}  // namespace
}  // namespace kavo::test

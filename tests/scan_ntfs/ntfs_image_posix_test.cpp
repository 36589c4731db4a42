// Whole volumes through the image seam: the Windows-made volumes against The Sleuth Kit's
// listings, and volumes made here with ntfs-3g for the ignore rules and the change scan.
#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "base/text.h"
#include "main/process.h"
#include "scan/mft_parser.h"
#include "scan/ntfs_decoded_volume.h"
#include "scan/usn_record.h"
#include "tests/scan_ntfs/ntfs_test_support.h"
#include "tests/support/test_support.h"

namespace kavo::test {
namespace {

std::string Host(const std::u16string& windows_form) {
    std::u16string p = windows_form;
    ReplaceAll(p, u'\\', u'/');
    return Utf16ToUtf8(p);
}

int Shell(const std::string& command) {
    return std::system(command.c_str());
}

std::unique_ptr<platform::IRawVolume> Open(const std::string& host_path, uint64_t offset = 0) {
    uint32_t error = 0;
    auto v = OpenImageVolume(Utf8ToUtf16(host_path), offset, &error);
    EXPECT_TRUE(v) << host_path << " error " << error;
    return v;
}

TEST(NtfsImage, WindowsVolumesAgreeWithTheSleuthKit) {
    struct Case {
        const char* packed;
        const char* unpack;
        const char* listing;
        uint64_t offset;
    } cases[] = {
        {"gontfs-charlie/charlie.dd.bz2", "bzip2 -dc", "gontfs-charlie/tsk_fls.txt", 0},
        {"dfir-ntfs-index/ntfs_index.raw.gz", "gzip -dc", "dfir-ntfs-index/tsk_fls.txt", 65536},
        {"win10-samples/ntfs-lastaccess.raw.gz", "gzip -dc",
         "win10-samples/ntfs-lastaccess.tsk_fls.txt", 65536},
        {"win10-samples/ntfs-ptrn.raw.gz", "gzip -dc", "win10-samples/ntfs-ptrn.tsk_fls.txt",
         65536},
        {"win10-samples/ntfs-ramslack.raw.gz", "gzip -dc",
         "win10-samples/ntfs-ramslack.tsk_fls.txt", 65536},
        {"win10-samples/ntfs-si-vs-fn.raw.gz", "gzip -dc",
         "win10-samples/ntfs-si-vs-fn.tsk_fls.txt", 65536},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.packed);
        TempFolder tmp;
        const std::string image = Host(tmp.File(u"volume.img"));
        ASSERT_EQ(
            Shell(std::string(c.unpack) + " '" +
                  SharedDataHostPath(std::string("ntfs/") + c.packed) + "' > '" + image + "'"),
            0);
        auto volume = Open(image, c.offset);
        ASSERT_TRUE(volume);
        RecordingListener listener;
        NoIgnoreRules rules;
        NtfsVolumeTarget target;
        target.drive_letter = u'E';
        JournalState state;
        ASSERT_EQ(ScanNtfsVolume(*volume, target, listener, rules, &state),
                  NtfsScanResult::kFullScan);
        ASSERT_FALSE(listener.calls.empty());
        EXPECT_EQ(listener.calls[0].what, "removevolume");
        auto found = FoundByRecord(listener);
        ASSERT_TRUE(found.count(5));
        EXPECT_EQ(found[5].name, u"E:");
        auto listed = ReadFlsListing(SharedDataHostPath(std::string("ntfs/") + c.listing));
        auto bad = CompareWithListing(found, listed);
        EXPECT_TRUE(bad.empty()) << ::testing::PrintToString(bad);
        size_t user_records = 0;
        for (auto& [record, items] : listed)
            if (record >= 16 && items[0].path.rfind("$Extend", 0) != 0)
                ++user_records;
        EXPECT_EQ(found.size(), user_records + 1);

        // None of these volumes has a change journal: every build scans them in full.
        RecordingListener again;
        EXPECT_EQ(ScanNtfsVolume(*volume, target, again, rules, &state), NtfsScanResult::kFullScan);
        EXPECT_EQ(FoundByRecord(again).size(), found.size());
    }
}

// A volume made with ntfs-3g in a temporary folder, mounted while a test fills it.
class Ntfs3gVolume {
  public:
    explicit Ntfs3gVolume(int megabytes = 64) {
        image_ = Host(tmp_.File(u"vol.img"));
        mount_ = Host(tmp_.File(u"mnt"));
        ok_ = Shell("truncate -s " + std::to_string(megabytes) + "M '" + image_ + "'") == 0 &&
              Shell("mkntfs -F -Q -q '" + image_ + "' >/dev/null 2>&1") == 0 &&
              Shell("mkdir -p '" + mount_ + "'") == 0;
    }
    bool Mount() {
        mounted_ = ok_ && Shell("ntfs-3g -o streams_interface=windows '" + image_ + "' '" + mount_ +
                                "'") == 0;
        return mounted_;
    }
    void Unmount() {
        if (mounted_)
            Shell("fusermount -u '" + mount_ + "'");
        mounted_ = false;
    }
    ~Ntfs3gVolume() { Unmount(); }
    std::string At(const std::string& relative) const { return mount_ + "/" + relative; }
    void Folder(const std::string& relative) const { Shell("mkdir -p '" + At(relative) + "'"); }
    void File(const std::string& relative, const std::string& content = "") const {
        std::ofstream(At(relative), std::ios::binary) << content;
    }
    void Hide(const std::string& relative) const {
        const uint8_t be_hidden[4] = {0, 0, 0, 2};
        ASSERT_EQ(setxattr(At(relative).c_str(), "system.ntfs_attrib_be", be_hidden, 4, 0), 0);
    }
    const std::string& Image() const { return image_; }

  private:
    TempFolder tmp_;
    std::string image_, mount_;
    bool ok_ = false, mounted_ = false;
};

std::map<std::string, const Call*> AddsByPath(const RecordingListener& l) {
    auto found = FoundByRecord(l);
    std::map<std::string, const Call*> out;
    for (const Call* c : l.Of("add")) {
        std::string path;
        uint64_t r = c->entry.key & 0xFFFFFFFF;
        for (int d = 0; d < 300 && r != 5 && found.count(r); ++d) {
            path = Utf16ToUtf8(found[r].name) + (path.empty() ? "" : "/") + path;
            r = found[r].parent;
        }
        out[path] = c;
    }
    return out;
}

TEST(NtfsImage, IgnoreRulesOfAFullScan) {
    Ntfs3gVolume v;
    if (!v.Mount())
        GTEST_SKIP() << "ntfs-3g cannot mount here";
    v.Folder("data/sub");
    v.File("data/_kavoignore");
    v.File("data/sub/inside.txt", "x");
    v.Folder("other/Temp/deep");
    v.File("other/Temp/deep/t.txt");
    v.File("other/keep.txt", "12345");
    v.File("other/old.TMP");
    v.File("other/~lock");
    v.File("other/hidden.txt");
    v.Hide("other/hidden.txt");
    v.Folder("secret/inner");
    v.File("secret/inner/s.txt");
    v.Hide("secret");
    v.Folder("caps");
    v.File("caps/_KAVOIGNORE");
    v.Unmount();
    auto volume = Open(v.Image());
    ASSERT_TRUE(volume);

    struct Case {
        const char* what;
        bool hidden;
        bool names;
        std::vector<std::string> present, absent;
    } cases[] = {
        {"markers only",
         false,
         false,
         {"other/Temp/deep/t.txt", "other/old.TMP", "other/~lock", "other/hidden.txt",
          "secret/inner/s.txt", "caps/_KAVOIGNORE", "caps"},
         {"data", "data/sub", "data/sub/inside.txt", "data/_kavoignore"}},
        {"hidden",
         true,
         false,
         {"other/keep.txt", "other/old.TMP"},
         {"other/hidden.txt", "secret", "secret/inner", "secret/inner/s.txt", "data"}},
        {"names",
         false,
         true,
         {"other/keep.txt", "other/hidden.txt", "other"},
         {"other/Temp", "other/Temp/deep/t.txt", "other/old.TMP", "other/~lock", "data"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestIgnoreRules rules;
        rules.exclude_hidden = c.hidden;
        if (c.names) {
            rules.folder_patterns = {u"temp"};
            rules.file_patterns = {u"*.tmp", u"~*"};
        }
        RecordingListener listener;
        NtfsVolumeTarget target;
        ASSERT_GE(FullMftScan(*volume, target, listener, rules), 0);
        auto adds = AddsByPath(listener);
        for (const auto& p : c.present)
            EXPECT_TRUE(adds.count(p)) << p;
        for (const auto& p : c.absent)
            EXPECT_FALSE(adds.count(p)) << p;
        auto ignored = listener.Of("ignored");
        ASSERT_EQ(ignored.size(), 1u);
        EXPECT_EQ(ignored[0]->text, u"C:\\data");
    }
}

TEST(NtfsImage, NamesLinksDepthSizesAndMountedVolumes) {
    Ntfs3gVolume v;
    if (!v.Mount())
        GTEST_SKIP() << "ntfs-3g cannot mount here";
    const std::string long_name(255, 'n');
    v.File(long_name, "abc");
    std::string deep = "d0";
    for (int i = 1; i < 60; ++i)
        deep += "/d" + std::to_string(i);
    v.Folder(deep);
    v.File(deep + "/bottom.bin", std::string(70000, 'z'));
    v.File("linked.txt", "0123456789");
    Shell("ln '" + v.At("linked.txt") + "' '" + v.At("second-name.txt") + "'");
    v.File("Привет.txt", "hi");
    v.Unmount();
    auto volume = Open(v.Image());
    ASSERT_TRUE(volume);

    RecordingListener listener;
    NoIgnoreRules rules;
    NtfsVolumeTarget target;
    ASSERT_GE(FullMftScan(*volume, target, listener, rules), 0);
    auto adds = AddsByPath(listener);
    ASSERT_TRUE(adds.count(long_name));
    EXPECT_EQ(adds[long_name]->entry.size, 3);
    ASSERT_TRUE(adds.count(deep + "/bottom.bin"));
    EXPECT_EQ(adds[deep + "/bottom.bin"]->entry.size, 70000);
    EXPECT_TRUE(adds.count("Привет.txt"));
    // A file with two links is indexed under one of its names.
    EXPECT_EQ(adds.count("linked.txt") + adds.count("second-name.txt"), 1u);

    // The same volume mounted in a folder of drive C: no root of its own, and its top
    // folders hang below the mount folder.
    RecordingListener mounted;
    NtfsVolumeTarget in_folder;
    in_folder.drive_letter = u'C';
    in_folder.volume_number = 3;
    in_folder.mount_key = 0x0002000200000777ull;
    in_folder.mount_folder = u"C:\\mnt\\vol";
    ASSERT_GE(FullMftScan(*volume, in_folder, mounted, rules), 0);
    bool saw_top = false;
    for (const Call* c : mounted.Of("add")) {
        EXPECT_NE(c->name, u"C:");
        EXPECT_EQ((c->entry.key >> 32) & 0xFFFF, 2u + 256u * 3u);
        if (c->name == u"d0") {
            saw_top = true;
            EXPECT_EQ(c->entry.parent_key, in_folder.mount_key);
        }
    }
    EXPECT_TRUE(saw_top);
}

class InterruptingListener : public RecordingListener {
  public:
    void OnFileAdded(const ScanEntry& e) override {
        RecordingListener::OnFileAdded(e);
        if (++adds == 5)
            Process().interrupted = true;
    }
    int adds = 0;
};

TEST(NtfsImage, InterruptStopsTheFullScanWithinTenEntries) {
    Ntfs3gVolume v;
    if (!v.Mount())
        GTEST_SKIP() << "ntfs-3g cannot mount here";
    for (int i = 0; i < 100; ++i)
        v.File("f" + std::to_string(i));
    v.Unmount();
    auto volume = Open(v.Image());
    ASSERT_TRUE(volume);
    InterruptingListener listener;
    NoIgnoreRules rules;
    NtfsVolumeTarget target;
    FullMftScan(*volume, target, listener, rules);
    Process().interrupted = false;
    EXPECT_GE(listener.adds, 5);
    EXPECT_LE(listener.adds, 5 + 10);
}

// Change records written in the version-2 layout over a volume's own MFT: the file
// `$Extend\$UsnJrnl` with its `$Max` and `$J` streams is made with ntfs-3g in a folder and
// then moved below record 11 by patching its name's parent in the image.
class JournalledVolume {
  public:
    static constexpr uint64_t kId = 0x1234567890ABCDEFull;

    bool Make(Ntfs3gVolume& v, const std::function<void()>& fill) {
        if (!v.Mount())
            return false;
        v.Folder("jr");
        v.File("jr/$UsnJrnl");
        fill();
        v.Unmount();
        volume_ = Open(v.Image());
        return volume_ != nullptr;
    }
    uint64_t Ref(const std::string& relative) {
        std::u16string path = u"C:\\" + Utf8ToUtf16(relative);
        ReplaceAll(path, u'/', u'\\');
        auto index = volume_->FolderFileIndex(path);
        EXPECT_TRUE(index) << relative;
        return index.value_or(0);
    }
    // Writes the journal streams and moves the file below $Extend.
    void Publish(Ntfs3gVolume& v, const std::vector<uint8_t>& j) {
        uint64_t record = Ref("jr/$UsnJrnl") & 0xFFFFFFFFFFFFull;
        volume_.reset();
        ASSERT_TRUE(v.Mount());
        uint64_t max[4] = {0x2000000, 0x100000, kId, 0};
        std::ofstream(v.At("jr/$UsnJrnl:$Max"), std::ios::binary)
            .write(reinterpret_cast<const char*>(max), sizeof max);
        std::ofstream(v.At("jr/$UsnJrnl:$J"), std::ios::binary)
            .write(reinterpret_cast<const char*>(j.data()), static_cast<std::streamsize>(j.size()));
        v.Unmount();
        // Patch the parent of the record's $FILE_NAME in place (the MFT of a fresh volume is
        // one run at the boot sector's MFT cluster).
        std::fstream image(v.Image(), std::ios::in | std::ios::out | std::ios::binary);
        uint8_t boot[512];
        image.read(reinterpret_cast<char*>(boot), 512);
        auto b = ntfs::DecodeBootSector(boot, 512);
        ASSERT_TRUE(b);
        const uint64_t at = b->mft_offset + record * b->record_size;
        std::vector<uint8_t> r(b->record_size);
        image.seekg(static_cast<std::streamoff>(at));
        image.read(reinterpret_cast<char*>(r.data()), r.size());
        std::vector<uint8_t> fixed = r;
        ASSERT_TRUE(ntfs::ApplyFixup(fixed.data(), fixed.size()));
        auto h = ntfs::DecodeRecordHeader(fixed.data(), fixed.size());
        ASSERT_TRUE(h);
        size_t parent_at = 0;
        ntfs::WalkAttributes(fixed.data(), *h, 16, true, [&](const ntfs::AttributeView& a) {
            if (a.type == ntfs::kAttrFileName)
                parent_at = static_cast<size_t>(a.value - fixed.data());
            return a.type != ntfs::kAttrFileName;
        });
        ASSERT_NE(parent_at, 0u);
        ASSERT_LT(parent_at % 512, 504u);
        const uint64_t extend = 11 | (uint64_t{11} << 48);
        std::memcpy(r.data() + parent_at, &extend, 8);
        image.seekp(static_cast<std::streamoff>(at));
        image.write(reinterpret_cast<const char*>(r.data()), r.size());
        image.close();
        volume_ = Open(v.Image());
    }
    platform::IRawVolume& Volume() { return *volume_; }

  private:
    std::unique_ptr<platform::IRawVolume> volume_;
};

constexpr uint32_t kClose = ntfs::kUsnClose;

TEST(NtfsImage, ChangeScanRulesThroughTheImageJournal) {
    Ntfs3gVolume v;
    JournalledVolume jv;
    if (!jv.Make(v, [&] {
            v.Folder("docs");
            v.File("docs/new.txt", "created");
            v.File("docs/grown.txt", "0123456789ABCDEF");
            v.File("docs/renamed.txt", "r");
            v.Folder("quiet");
            v.File("quiet/_kavoignore");
            v.File("quiet/a.txt");
            v.File("quiet/b.txt");
            v.File("docs/hidden.txt");
            v.Hide("docs/hidden.txt");
        }))
        GTEST_SKIP() << "ntfs-3g cannot mount here";
    const uint64_t root = 5 | (uint64_t{5} << 48);
    const uint64_t docs = jv.Ref("docs"), created = jv.Ref("docs/new.txt"),
                   grown = jv.Ref("docs/grown.txt"), renamed = jv.Ref("docs/renamed.txt"),
                   quiet = jv.Ref("quiet"), qa = jv.Ref("quiet/a.txt"), qb = jv.Ref("quiet/b.txt"),
                   hidden = jv.Ref("docs/hidden.txt");
    const uint64_t gone = 0x0003000000000200ull;  // a record that no longer exists
    std::vector<uint8_t> j;
    using namespace ntfs;
    AppendUsnRecord(&j, created, docs, kUsnFileCreate, 0x20, u"new.txt");
    AppendUsnRecord(&j, created, docs, kUsnFileCreate | kUsnDataExtend | kClose, 0x20, u"new.txt");
    AppendUsnRecord(&j, grown, docs, kUsnDataExtend | kClose, 0x20, u"grown.txt");
    AppendUsnRecord(&j, renamed, docs, kUsnRenameOldName, 0x20, u"before.txt");
    AppendUsnRecord(&j, renamed, docs, kUsnRenameNewName | kClose, 0x20, u"renamed.txt");
    AppendUsnRecord(&j, gone, docs, kUsnFileCreate | kUsnFileDelete | kClose, 0x20, u"brief.txt");
    AppendUsnRecord(&j, gone + 1, root, kUsnFileDelete | kClose, 0x20, u"removed.txt");
    AppendUsnRecord(&j, qa, quiet, kUsnFileCreate | kClose, 0x20, u"a.txt");
    AppendUsnRecord(&j, qb, quiet, kUsnFileCreate | kClose, 0x20, u"b.txt");
    AppendUsnRecord(&j, hidden, docs, kUsnFileCreate | kClose, 0x22, u"hidden.txt");
    AppendUsnRecord(&j, renamed, docs, 0x00000800 | kClose, 0x20, u"renamed.txt");  // security
    jv.Publish(v, j);

    platform::UsnJournalData journal;
    ASSERT_EQ(jv.Volume().QueryJournal(&journal), platform::kRawOk);
    EXPECT_EQ(journal.journal_id, JournalledVolume::kId);
    EXPECT_EQ(journal.next_usn, static_cast<int64_t>(j.size()));

    // A stored state from the journal's start: no full scan, every record applied.
    JournalState state{JournalledVolume::kId, -1};
    RecordingListener l;
    TestIgnoreRules rules;
    rules.exclude_hidden = true;
    NtfsVolumeTarget target;
    ASSERT_EQ(ScanNtfsVolume(jv.Volume(), target, l, rules, &state), NtfsScanResult::kChangesOnly);
    // Past the last record returned; the trailing record of another reason is not asked for.
    EXPECT_EQ(state.next_usn, static_cast<int64_t>(j.size()) - 88);

    std::vector<std::string> got;
    for (const Call& c : l.calls) {
        std::string line = c.what;
        if (c.what == "ignored")
            line += " " + Utf16ToUtf8(c.text);
        if (c.what == "add" || c.what == "change" || c.what == "remove") {
            line += " " + Utf16ToUtf8(c.name) + " " + std::to_string(c.entry.size);
            if (c.old_name)
                line += " from " + Utf16ToUtf8(*c.old_name);
        }
        got.push_back(line);
    }
    std::vector<std::string> want = {
        "add new.txt 7",
        "change new.txt 7",  // created and written before it was closed
        "change grown.txt 16",
        "change renamed.txt 1 from before.txt",
        "add brief.txt 1234567890",
        "remove brief.txt 0",
        "remove removed.txt 0",
        "ignored C:\\quiet",
    };
    EXPECT_EQ(got, want);
    for (const Call& c : l.calls) {
        if (c.what == "add" && c.name == u"new.txt") {
            EXPECT_EQ(c.entry.key, (created & 0xFFFF0000FFFFFFFFull) | (uint64_t{2} << 32));
            EXPECT_EQ(c.entry.parent_key, (docs & 0xFFFF0000FFFFFFFFull) | (uint64_t{2} << 32));
            EXPECT_GT(c.entry.time, 0u);
        }
    }

    // The position is kept: a second build reads nothing new; a wrapped or foreign
    // journal forces a full scan.
    RecordingListener quiet_l;
    ASSERT_EQ(ScanNtfsVolume(jv.Volume(), target, quiet_l, rules, &state),
              NtfsScanResult::kChangesOnly);
    EXPECT_TRUE(quiet_l.calls.empty());
    JournalState foreign{JournalledVolume::kId + 1, 8};
    RecordingListener full;
    ASSERT_EQ(ScanNtfsVolume(jv.Volume(), target, full, rules, &foreign),
              NtfsScanResult::kFullScan);
    EXPECT_EQ(foreign.journal_id, JournalledVolume::kId);
    EXPECT_EQ(foreign.next_usn, static_cast<int64_t>(j.size()));
    EXPECT_EQ(full.calls[0].what, "removevolume");
    EXPECT_TRUE(AddsByPath(full).count("jr"));
    EXPECT_FALSE(AddsByPath(full).count("jr/$UsnJrnl"));
}

TEST(NtfsImage, IsJournalStateValid) {
    platform::UsnJournalData j;
    j.journal_id = 7;
    j.first_usn = 4096;
    j.lowest_valid_usn = 2048;
    j.next_usn = 100000;
    j.maximum_size = 1;
    struct Case {
        uint64_t id;
        int64_t next;
        uint64_t maximum;
        bool valid;
    } cases[] = {
        {7, 5000, 1, true},  {7, -1, 1, true},    {7, 0, 1, false},    {8, 5000, 1, false},
        {7, 3000, 1, false}, {7, 1000, 1, false}, {7, 5000, 0, false}, {7, 4096, 1, true},
    };
    for (const Case& c : cases) {
        j.maximum_size = c.maximum;
        EXPECT_EQ(IsJournalStateValid(j, JournalState{c.id, c.next}), c.valid)
            << c.id << " " << c.next << " " << c.maximum;
    }
}

}  // namespace
}  // namespace kavo::test

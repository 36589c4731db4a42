#include "scan/ntfs_decoded_volume.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "base/case_map.h"
#include "platform/raw_volume_file.h"
#include "scan/mft_parser.h"
#include "scan/usn_record.h"

namespace kavo {

namespace {

using namespace ntfs;
using platform::IRawVolume;

constexpr uint32_t kExtendRecord = 11;
constexpr uint32_t kAllAttributes = 64;
constexpr uint32_t kRecordSearchDown = 4096;

// The contents of one attribute gathered from all the records it lies in.
struct Stream {
    bool found = false;
    bool resident = false;
    std::vector<uint8_t> bytes;
    std::vector<DataRun> runs;
    uint64_t data_size = 0;
};

bool NameMatches(const uint8_t* units, uint8_t length, std::u16string_view want) {
    if (length != want.size())
        return false;
    for (size_t i = 0; i < want.size(); ++i)
        if (Get16(units + 2 * i) != want[i])
            return false;
    return true;
}

class DecodedVolume final : public IRawVolume {
  public:
    explicit DecodedVolume(std::unique_ptr<IRawVolume> inner) : inner_(std::move(inner)) {}

    uint32_t ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override {
        return inner_->ReadAt(offset, buffer, size, got);
    }

    uint32_t GetVolumeData(platform::NtfsVolumeData* out) override {
        if (!EnsureLayout())
            return platform::kRawErrorInvalidFunction;
        const BootSector& b = layout_.boot;
        out->volume_serial = b.serial;
        out->total_clusters = b.TotalClusters();
        out->bytes_per_sector = b.bytes_per_sector;
        out->bytes_per_cluster = b.cluster_size;
        out->bytes_per_file_record_segment = b.record_size;
        out->mft_valid_data_length = layout_.data_size;
        out->mft_start_lcn = b.mft_lcn;
        return platform::kRawOk;
    }

    uint32_t GetFileRecord(uint64_t reference,
                           void* buffer,
                           size_t capacity,
                           size_t* record_size,
                           uint64_t* record_number) override {
        if (!EnsureLayout())
            return platform::kRawErrorInvalidFunction;
        const uint32_t rs = layout_.boot.record_size;
        if (capacity < rs)
            return platform::kRawErrorInsufficientBuffer;
        uint64_t n = reference & kRecordNumberMask;
        if (n >= layout_.record_count)
            n = layout_.record_count - 1;
        auto* out = static_cast<uint8_t*>(buffer);
        // As the file system does, answer with the nearest record in use at or below.
        for (uint32_t tries = 0; tries < kRecordSearchDown; ++tries) {
            if (ReadMftRecord(*inner_, layout_, n, out)) {
                auto h = DecodeRecordHeader(out, rs);
                if (h && (h->flags & kRecordInUse)) {
                    *record_size = rs;
                    *record_number = n;
                    return platform::kRawOk;
                }
            }
            if (n == 0)
                break;
            --n;
        }
        return platform::kRawErrorInvalidParameter;
    }

    uint32_t QueryJournal(platform::UsnJournalData* out) override {
        if (!EnsureJournal())
            return platform::kRawErrorJournalNotActive;
        *out = journal_;
        return platform::kRawOk;
    }

    uint32_t CreateJournal(uint64_t, uint64_t) override {
        // Nothing is ever written to the volume.
        return platform::kRawErrorNotSupported;
    }

    uint32_t ReadJournal(const platform::ReadJournalRequest& request,
                         void* out,
                         size_t capacity,
                         size_t* got) override;

    uint32_t FileSizeById(uint64_t reference, uint64_t* size) override {
        *size = 0;
        if (!EnsureLayout())
            return platform::kRawErrorInvalidFunction;
        Stream data;
        uint16_t sequence = 0;
        if (!CollectAttribute(reference & kRecordNumberMask, kAttrData, u"", &data, &sequence))
            return platform::kRawErrorFileNotFound;
        uint16_t want = static_cast<uint16_t>(reference >> 48);
        if (want != 0 && want != sequence)
            return platform::kRawErrorFileNotFound;
        if (!data.found)
            return platform::kRawErrorFileNotFound;
        *size = data.resident ? data.bytes.size() : data.data_size;
        return platform::kRawOk;
    }

    std::optional<uint32_t> PathAttributes(const std::u16string& path) override {
        const MftEntry* e = Resolve(path);
        if (!e)
            return std::nullopt;
        uint32_t a = e->attributes & 0xFFFF;
        if (e->IsFolder() || (e->attributes & kFileNameFolderFlag))
            a |= 0x10;
        if (a == 0)
            a = 0x80;
        return a;
    }

    bool FileExistsAt(const std::u16string& path) override { return Resolve(path) != nullptr; }

    std::optional<uint64_t> FolderFileIndex(const std::u16string& path) override {
        const MftEntry* e = Resolve(path);
        if (!e)
            return std::nullopt;
        uint64_t n = static_cast<uint64_t>(e - parser_->Entries().data());
        return n | (uint64_t{e->sequence} << 48);
    }

  private:
    bool EnsureLayout() {
        if (!layout_tried_) {
            layout_tried_ = true;
            layout_ok_ = LoadMftLayout(*inner_, &layout_);
        }
        return layout_ok_;
    }

    bool EnsureIndex() {
        if (index_tried_)
            return parser_ != nullptr;
        index_tried_ = true;
        auto parser = std::make_unique<MftParser>();
        if (parser->Load(*inner_) == 0)
            return false;
        parser->Parse(*inner_);
        const auto& entries = parser->Entries();
        for (uint32_t i = 0; i < entries.size(); ++i) {
            const MftEntry& e = entries[i];
            if (!e.InUse() || !e.name)
                continue;
            index_.emplace(IndexKey(e.parent, e.Name()), i);
        }
        parser_ = std::move(parser);
        return true;
    }

    static std::u16string IndexKey(uint64_t parent, std::u16string_view name) {
        std::u16string key(4, u'\0');
        for (int i = 0; i < 4; ++i)
            key[i] = static_cast<char16_t>(parent >> (16 * i));
        key += name;
        for (size_t i = 4; i < key.size(); ++i)
            key[i] = LowerUnit(key[i]);
        return key;
    }

    // The path's components after its first ("X:") from the root folder down.
    const MftEntry* Resolve(const std::u16string& path) {
        if (!EnsureIndex())
            return nullptr;
        const auto& entries = parser_->Entries();
        uint64_t at = kRootRecord;
        size_t pos = path.find(u'\\');
        while (pos != std::u16string::npos) {
            size_t start = pos + 1;
            pos = path.find(u'\\', start);
            std::u16string_view part(path.data() + start,
                                     (pos == std::u16string::npos ? path.size() : pos) - start);
            if (part.empty())
                continue;
            auto it = index_.find(IndexKey(at, part));
            if (it == index_.end())
                return nullptr;
            at = it->second;
        }
        if (at >= entries.size() || !entries[at].InUse())
            return nullptr;
        return &entries[at];
    }

    // Gathers attribute (`type`, `name`) of record `number`, following its attribute list.
    bool CollectAttribute(uint64_t number,
                          uint32_t type,
                          std::u16string_view name,
                          Stream* out,
                          uint16_t* sequence) {
        const uint32_t rs = layout_.boot.record_size;
        std::vector<uint8_t> record(rs);
        if (!ReadMftRecord(*inner_, layout_, number, record.data()))
            return false;
        auto header = DecodeRecordHeader(record.data(), rs);
        if (!header || !(header->flags & kRecordInUse))
            return false;
        *sequence = header->sequence;
        std::vector<uint8_t> list;
        const uint64_t total = layout_.boot.TotalClusters();
        auto take = [&](const AttributeView& a) {
            if (a.type == kAttrAttributeList && list.empty()) {
                if (!a.non_resident) {
                    list.assign(a.value, a.value + a.value_length);
                } else if (a.data_size <= (1u << 20)) {
                    std::vector<DataRun> runs;
                    if (DecodeRuns(a.runs, a.runs_size, 0, total, &runs)) {
                        list.resize(static_cast<size_t>(a.data_size));
                        if (!ReadRunBytes(*inner_, layout_.boot, runs, 0, list.data(), list.size()))
                            list.clear();
                    }
                }
            }
            if (a.type != type || !NameMatches(a.name_bytes, a.name_length, name))
                return true;
            if (!a.non_resident) {
                if (!out->found) {
                    out->found = true;
                    out->resident = true;
                    out->bytes.assign(a.value, a.value + a.value_length);
                }
                return true;
            }
            for (const DataRun& r : out->runs)
                if (r.vcn == a.start_vcn)
                    return true;  // seen in another record
            out->found = true;
            if (a.start_vcn == 0)
                out->data_size = a.data_size;
            std::vector<DataRun> runs;
            DecodeRuns(a.runs, a.runs_size, a.start_vcn, total, &runs);
            out->runs.insert(out->runs.end(), runs.begin(), runs.end());
            return true;
        };
        WalkAttributes(record.data(), *header, kAllAttributes, false, take);
        if (!list.empty()) {
            std::vector<uint64_t> records;
            size_t pos = 0;
            while (pos + 26 <= list.size()) {
                const uint8_t* e = list.data() + pos;
                uint16_t length = Get16(e + 4);
                if (length < 26 || length > list.size() - pos)
                    break;
                uint8_t name_length = e[6];
                uint8_t name_offset = e[7];
                if (Get32(e) == type && name_offset + 2u * name_length <= length &&
                    NameMatches(e + name_offset, name_length, name)) {
                    uint64_t r = Get64(e + 16) & kRecordNumberMask;
                    if (r != number &&
                        std::find(records.begin(), records.end(), r) == records.end())
                        records.push_back(r);
                }
                pos += length;
            }
            for (uint64_t r : records) {
                if (!ReadMftRecord(*inner_, layout_, r, record.data()))
                    continue;
                auto h = DecodeRecordHeader(record.data(), rs);
                if (!h)
                    continue;
                WalkAttributes(record.data(), *h, kAllAttributes, false, take);
            }
        }
        std::sort(out->runs.begin(), out->runs.end(),
                  [](const DataRun& a, const DataRun& b) { return a.vcn < b.vcn; });
        return true;
    }

    bool EnsureJournal() {
        if (journal_tried_)
            return journal_ok_;
        journal_tried_ = true;
        if (!EnsureLayout() || !EnsureIndex())
            return false;
        auto it = index_.find(IndexKey(kExtendRecord, u"$UsnJrnl"));
        if (it == index_.end())
            return false;
        Stream max;
        uint16_t sequence = 0;
        if (!CollectAttribute(it->second, kAttrData, u"$Max", &max, &sequence) || !max.found ||
            !max.resident || max.bytes.size() < 32)
            return false;
        if (!CollectAttribute(it->second, kAttrData, u"$J", &j_, &sequence) || !j_.found)
            return false;
        journal_.maximum_size = Get64(max.bytes.data());
        journal_.allocation_delta = Get64(max.bytes.data() + 8);
        journal_.journal_id = Get64(max.bytes.data() + 16);
        journal_.lowest_valid_usn = static_cast<int64_t>(Get64(max.bytes.data() + 24));
        journal_.next_usn = static_cast<int64_t>(j_.resident ? j_.bytes.size() : j_.data_size);
        journal_.max_usn = 0x7FFFFFFFFFFF0000;
        // The journal's start is cut off by making it sparse: its first record is at the first
        // allocated cluster.
        uint64_t first = 0;
        if (!j_.resident) {
            first = static_cast<uint64_t>(journal_.next_usn);
            for (const DataRun& r : j_.runs) {
                if (!r.sparse) {
                    first = r.vcn * layout_.boot.cluster_size;
                    break;
                }
            }
        }
        journal_.first_usn =
            std::max<int64_t>(static_cast<int64_t>(first), journal_.lowest_valid_usn);
        if (journal_.first_usn > journal_.next_usn)
            journal_.first_usn = journal_.next_usn;
        journal_ok_ = true;
        return true;
    }

    bool ReadJournalBytes(uint64_t offset, uint8_t* out, size_t size) {
        if (j_.resident) {
            if (offset > j_.bytes.size() || size > j_.bytes.size() - offset)
                return false;
            std::memcpy(out, j_.bytes.data() + offset, size);
            return true;
        }
        return ReadRunBytes(*inner_, layout_.boot, j_.runs, offset, out, size);
    }

    std::unique_ptr<IRawVolume> inner_;
    bool layout_tried_ = false, layout_ok_ = false;
    MftLayout layout_;
    bool index_tried_ = false;
    std::unique_ptr<MftParser> parser_;
    std::unordered_map<std::u16string, uint32_t> index_;
    bool journal_tried_ = false, journal_ok_ = false;
    platform::UsnJournalData journal_;
    Stream j_;
};

uint32_t DecodedVolume::ReadJournal(const platform::ReadJournalRequest& request,
                                    void* out,
                                    size_t capacity,
                                    size_t* got) {
    *got = 0;
    if (!EnsureJournal())
        return platform::kRawErrorJournalNotActive;
    if (capacity < 8)
        return platform::kRawErrorInsufficientBuffer;
    if (request.journal_id != journal_.journal_id)
        return platform::kRawErrorInvalidParameter;
    int64_t start = request.start_usn;
    if (start < journal_.first_usn) {
        if (start != 0)
            return platform::kRawErrorJournalEntryDeleted;
        start = journal_.first_usn;
    }
    size_t used = 0;
    auto read = [this](uint64_t offset, uint8_t* to, size_t size) {
        return ReadJournalBytes(offset, to, size);
    };
    FillJournalOutput(read, static_cast<uint64_t>(start), static_cast<uint64_t>(journal_.next_usn),
                      request.reason_mask, static_cast<uint8_t*>(out), capacity, &used);
    *got = used;
    return platform::kRawOk;
}

}  // namespace

std::unique_ptr<platform::IRawVolume> MakeDecodedVolume(
    std::unique_ptr<platform::IRawVolume> inner) {
    return std::make_unique<DecodedVolume>(std::move(inner));
}

std::unique_ptr<platform::IRawVolume> OpenImageVolume(const std::u16string& path,
                                                      uint64_t offset,
                                                      uint32_t* error) {
    auto file = platform::OpenRawImageFile(path, offset, error);
    if (!file)
        return nullptr;
    return MakeDecodedVolume(std::move(file));
}

}  // namespace kavo

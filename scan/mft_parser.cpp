#include "scan/mft_parser.h"

#include <algorithm>

namespace kavo::ntfs {

namespace {

constexpr size_t kPoolChunkUnits = (1u << 20) / sizeof(char16_t);
constexpr uint32_t kAttributeBound = 8;
// The MFT's own record is walked further: its $BITMAP may follow several $DATA extents.
constexpr uint32_t kOwnRecordAttributeBound = 32;
constexpr uint64_t kReadPieceClusters = 1024;
constexpr uint64_t kReadPieceMaxBytes = 8u << 20;
constexpr uint32_t kMaxAttributeListBytes = 1u << 20;

bool ReadExact(platform::IRawVolume& volume, uint64_t offset, void* buffer, size_t size) {
    size_t got = 0;
    return volume.ReadAt(offset, buffer, size, &got) == platform::kRawOk && got == size;
}

const DataRun* FindRun(const std::vector<DataRun>& runs, uint64_t vcn) {
    auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                               [](uint64_t v, const DataRun& r) { return v < r.vcn; });
    if (it == runs.begin())
        return nullptr;
    --it;
    if (vcn - it->vcn >= it->length)
        return nullptr;
    return &*it;
}

}  // namespace

bool ReadRunBytes(platform::IRawVolume& volume,
                  const BootSector& boot,
                  const std::vector<DataRun>& runs,
                  uint64_t offset,
                  uint8_t* out,
                  size_t size) {
    const uint64_t cs = boot.cluster_size;
    while (size > 0) {
        uint64_t vcn = offset / cs;
        const DataRun* run = FindRun(runs, vcn);
        if (!run)
            return false;
        uint64_t in_run = (run->vcn + run->length - vcn) * cs - offset % cs;
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(size, in_run));
        if (run->sparse) {
            std::memset(out, 0, chunk);
        } else {
            uint64_t at = (run->lcn + (vcn - run->vcn)) * cs + offset % cs;
            if (!ReadExact(volume, at, out, chunk))
                return false;
        }
        out += chunk;
        offset += chunk;
        size -= chunk;
    }
    return true;
}

namespace {

struct ListedExtent {
    uint64_t vcn;
    uint64_t record;
};

// The $DATA extents that an MFT's $ATTRIBUTE_LIST places in other records.
std::vector<ListedExtent> DataExtentsOfList(const uint8_t* list, size_t size) {
    std::vector<ListedExtent> out;
    size_t pos = 0;
    while (pos + 26 <= size) {
        const uint8_t* e = list + pos;
        uint32_t type = Get32(e);
        uint16_t length = Get16(e + 4);
        if (length < 26 || length > size - pos)
            break;
        if (type == kAttrData && e[6] == 0) {
            uint64_t record = Get64(e + 16) & kRecordNumberMask;
            if (record != 0)
                out.push_back({Get64(e + 8), record});
        }
        pos += length;
    }
    std::sort(out.begin(), out.end(),
              [](const ListedExtent& a, const ListedExtent& b) { return a.vcn < b.vcn; });
    return out;
}

}  // namespace

bool LoadMftLayout(platform::IRawVolume& volume, MftLayout* layout) {
    uint8_t sector[512];
    if (!ReadExact(volume, 0, sector, sizeof sector))
        return false;
    auto boot = DecodeBootSector(sector, sizeof sector);
    if (!boot)
        return false;
    layout->boot = *boot;
    layout->runs.clear();
    std::vector<uint8_t> record(boot->record_size);
    if (!ReadExact(volume, boot->mft_offset, record.data(), record.size()))
        return false;
    if (!ApplyFixup(record.data(), record.size()))
        return false;
    auto header = DecodeRecordHeader(record.data(), record.size());
    if (!header)
        return false;

    bool have_data = false, have_bitmap = false;
    std::vector<uint8_t> list;
    bool runs_ok = true;
    const uint64_t total = boot->TotalClusters();
    WalkAttributes(
        record.data(), *header, kOwnRecordAttributeBound, false, [&](const AttributeView& a) {
            if (a.type == kAttrAttributeList) {
                if (!a.non_resident) {
                    list.assign(a.value, a.value + a.value_length);
                } else if (a.data_size <= kMaxAttributeListBytes) {
                    std::vector<DataRun> list_runs;
                    if (DecodeRuns(a.runs, a.runs_size, 0, total, &list_runs)) {
                        list.resize(static_cast<size_t>(a.data_size));
                        if (!ReadRunBytes(volume, *boot, list_runs, 0, list.data(), list.size()))
                            list.clear();
                    }
                }
            } else if (a.type == kAttrData && a.name_length == 0 && a.non_resident && !have_data &&
                       a.start_vcn == 0) {
                have_data = true;
                layout->data_size = a.data_size;
                runs_ok = DecodeRuns(a.runs, a.runs_size, 0, total, &layout->runs);
            } else if (a.type == kAttrBitmap) {
                have_bitmap = true;
            }
            return true;
        });
    if (!have_data || !runs_ok || layout->runs.empty())
        return false;
    if (!have_bitmap && list.empty())
        return false;

    if (!list.empty()) {
        // A fragmented MFT: the further extents of $DATA sit in records that the extents
        // read so far reach.
        for (const ListedExtent& extent : DataExtentsOfList(list.data(), list.size())) {
            if (extent.vcn == 0)
                continue;
            if (FindRun(layout->runs, extent.vcn))
                continue;
            MftLayout partial = *layout;
            partial.record_count = static_cast<uint32_t>(
                std::min<uint64_t>(layout->data_size / boot->record_size, UINT32_MAX));
            if (!ReadMftRecord(volume, partial, extent.record, record.data()))
                break;
            auto ext_header = DecodeRecordHeader(record.data(), record.size());
            if (!ext_header)
                break;
            bool found = false;
            WalkAttributes(record.data(), *ext_header, kOwnRecordAttributeBound, false,
                           [&](const AttributeView& a) {
                               if (a.type == kAttrData && a.name_length == 0 && a.non_resident &&
                                   a.start_vcn == extent.vcn) {
                                   std::vector<DataRun> more;
                                   if (DecodeRuns(a.runs, a.runs_size, a.start_vcn, total, &more))
                                       layout->runs.insert(layout->runs.end(), more.begin(),
                                                           more.end());
                                   found = true;
                                   return false;
                               }
                               return true;
                           });
            if (!found)
                break;
            std::sort(layout->runs.begin(), layout->runs.end(),
                      [](const DataRun& a, const DataRun& b) { return a.vcn < b.vcn; });
        }
    }
    // Keep the runs up to the first gap or overlap.
    uint64_t next_vcn = 0;
    size_t keep = 0;
    for (; keep < layout->runs.size(); ++keep) {
        if (layout->runs[keep].vcn != next_vcn)
            break;
        next_vcn += layout->runs[keep].length;
    }
    layout->runs.resize(keep);
    uint64_t covered = next_vcn * boot->cluster_size;
    uint64_t bytes = std::min(layout->data_size, covered);
    layout->record_count =
        static_cast<uint32_t>(std::min<uint64_t>(bytes / boot->record_size, UINT32_MAX));
    return layout->record_count > 0;
}

bool ReadMftRecord(platform::IRawVolume& volume,
                   const MftLayout& layout,
                   uint64_t number,
                   uint8_t* buffer) {
    if (number >= layout.record_count)
        return false;
    const uint64_t offset = number * layout.boot.record_size;
    const uint64_t cs = layout.boot.cluster_size;
    size_t size = layout.boot.record_size;
    uint8_t* out = buffer;
    uint64_t at_offset = offset;
    while (size > 0) {
        uint64_t vcn = at_offset / cs;
        const DataRun* run = FindRun(layout.runs, vcn);
        if (!run || run->sparse)
            return false;
        uint64_t in_run = (run->vcn + run->length - vcn) * cs - at_offset % cs;
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(size, in_run));
        uint64_t at = (run->lcn + (vcn - run->vcn)) * cs + at_offset % cs;
        if (!ReadExact(volume, at, out, chunk))
            return false;
        out += chunk;
        at_offset += chunk;
        size -= chunk;
    }
    return ApplyFixup(buffer, layout.boot.record_size);
}

DecodedName DecodeRecord(const uint8_t* record, size_t size, MftEntry* entry, uint64_t* base) {
    DecodedName found;
    *base = 0;
    auto header = DecodeRecordHeader(record, size);
    if (!header)
        return found;
    entry->flags = header->flags;
    entry->sequence = header->sequence;
    entry->size = kSizeUnknown;
    if (header->next_attribute_id == 0)
        return found;
    bool have_time = false, have_name = false, have_size = false;
    const uint32_t bound = std::min<uint32_t>(header->next_attribute_id, kAttributeBound);
    WalkAttributes(record, *header, bound, true, [&](const AttributeView& a) {
        switch (a.type) {
            case kAttrStandardInformation:
                if (!a.non_resident && a.value_length >= 36) {
                    entry->time = Get64(a.value + 8);
                    entry->attributes |= Get32(a.value + 32);
                    have_time = true;
                }
                break;
            case kAttrFileName: {
                FileNameView fn;
                if (have_name || !DecodeFileName(a, &fn) || fn.name_space == 2)
                    break;
                uint16_t length = fn.name_length;
                while (length > 0 && Get16(fn.name + 2 * (length - 1)) == 0)
                    --length;
                found.units = fn.name;
                found.length = length;
                entry->parent = fn.parent & kRecordNumberMask;
                if (header->base_reference != 0)
                    *base = header->base_reference & kRecordNumberMask;
                entry->attributes |= fn.flags;
                // The name's copy of the size is often stale; $DATA, when present, wins.
                if (entry->size == kSizeUnknown && fn.data_size != 0)
                    entry->size = fn.data_size;
                have_name = true;
                break;
            }
            case kAttrData:
                if (a.name_length != 0 || have_size)
                    break;
                if (!a.non_resident) {
                    entry->size = a.value_length;
                    have_size = true;
                } else if (a.start_vcn == 0) {
                    entry->size = a.data_size;
                    have_size = true;
                }
                break;
            default:
                break;
        }
        return !(have_time && have_name && have_size);
    });
    return found;
}

uint64_t MftParser::Load(platform::IRawVolume& volume) {
    if (!LoadMftLayout(volume, &layout_))
        return 0;
    return layout_.data_size;
}

char16_t* MftParser::PoolCopy(const uint8_t* units, uint16_t length) {
    if (pool_.empty() || pool_used_ + length > kPoolChunkUnits) {
        pool_.push_back(std::make_unique_for_overwrite<char16_t[]>(kPoolChunkUnits));
        pool_used_ = 0;
    }
    char16_t* at = pool_.back().get() + pool_used_;
    std::memcpy(at, units, 2u * length);
    pool_used_ += length;
    return at;
}

void MftParser::DecodeInto(uint8_t* record, uint32_t index) {
    const size_t size = layout_.boot.record_size;
    ++parsed_;
    // A record whose fixups cannot be applied is damaged: it stays an empty entry.
    if (!ApplyFixup(record, size))
        return;
    MftEntry& entry = entries_[index];
    uint64_t base = 0;
    DecodedName name = DecodeRecord(record, size, &entry, &base);
    if (name.units) {
        entry.name = PoolCopy(name.units, name.length);
        entry.name_length = name.length;
        ++named_;
        if (base != 0)
            extensions_.push_back({index, base});
    }
}

void MftParser::LendExtensionNames() {
    const size_t count = entries_.size();
    // Names carried by extension records belong to their base records.
    for (const Extension& e : extensions_) {
        if (e.base >= count)
            continue;
        MftEntry& ext = entries_[e.index];
        MftEntry& base = entries_[e.base];
        base.name = ext.name;
        base.name_length = ext.name_length;
        base.parent = ext.parent;
        ext.parent = 0;
    }
}

uint32_t MftParser::ParseBuffer(uint8_t* bytes, size_t size, uint32_t record_size) {
    if (record_size < 256 || (record_size & (record_size - 1)) != 0)
        return 0;
    layout_ = MftLayout{};
    layout_.boot.record_size = record_size;
    const size_t count = std::min<size_t>(size / record_size, UINT32_MAX);
    layout_.record_count = static_cast<uint32_t>(count);
    entries_.assign(count, MftEntry{});
    parsed_ = named_ = 0;
    extensions_.clear();
    for (size_t i = 0; i < count; ++i)
        DecodeInto(bytes + i * record_size, static_cast<uint32_t>(i));
    LendExtensionNames();
    return parsed_;
}

uint32_t MftParser::Parse(platform::IRawVolume& volume) {
    const uint32_t count = layout_.record_count;
    const uint32_t rs = layout_.boot.record_size;
    const uint64_t cs = layout_.boot.cluster_size;
    entries_.assign(count, MftEntry{});
    parsed_ = named_ = 0;
    extensions_.clear();
    const uint64_t piece_clusters =
        std::max<uint64_t>(1, std::min(kReadPieceClusters, kReadPieceMaxBytes / cs));
    std::vector<uint8_t> buffer(static_cast<size_t>(piece_clusters * cs) + rs);
    size_t carry = 0;  // bytes of a record begun in the previous piece
    uint32_t index = 0;
    uint64_t bytes_left = uint64_t{count} * rs;
    for (const DataRun& run : layout_.runs) {
        uint64_t cluster = 0;
        while (cluster < run.length && bytes_left > 0 && index < count) {
            uint64_t n = std::min(piece_clusters, run.length - cluster);
            size_t piece = static_cast<size_t>(std::min<uint64_t>(n * cs, bytes_left));
            uint8_t* at = buffer.data() + carry;
            bool ok = true;
            if (run.sparse) {
                std::memset(at, 0, piece);
            } else {
                size_t got = 0;
                ok = volume.ReadAt((run.lcn + cluster) * cs, at, piece, &got) == platform::kRawOk &&
                     got == piece;
            }
            if (!ok) {
                // An unreadable piece leaves its records empty.
                std::memset(at, 0, piece);
            }
            size_t have = carry + piece;
            size_t pos = 0;
            while (have - pos >= rs && index < count) {
                DecodeInto(buffer.data() + pos, index++);
                pos += rs;
            }
            carry = have - pos;
            if (carry)
                std::memmove(buffer.data(), buffer.data() + pos, carry);
            bytes_left -= piece;
            cluster += n;
        }
    }
    LendExtensionNames();
    return parsed_;
}

}  // namespace kavo::ntfs

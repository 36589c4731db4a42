#include <vector>

#include "main/process.h"
#include "main/status_out.h"
#include "scan/mft_parser.h"
#include "scan/ntfs_internal.h"
#include "scan/ntfs_scan.h"

namespace kavo {

namespace ntfs {

namespace {

constexpr uint32_t kChainBound = 4096;
constexpr uint32_t kFileRecordBufferMax = 65536 + 16;

// The first name of a record that is not DOS-only, and its parent.
bool FirstName(const uint8_t* record, size_t size, std::u16string* name, uint64_t* parent) {
    auto header = DecodeRecordHeader(record, size);
    if (!header)
        return false;
    bool found = false;
    WalkAttributes(record, *header, 64, true, [&](const AttributeView& a) {
        if (a.type != kAttrFileName)
            return true;
        FileNameView fn;
        if (!DecodeFileName(a, &fn) || fn.name_space == 2)
            return true;
        name->resize(fn.name_length);
        for (uint32_t i = 0; i < fn.name_length; ++i)
            (*name)[i] = static_cast<char16_t>(Get16(fn.name + 2 * i));
        while (!name->empty() && name->back() == 0)
            name->pop_back();
        *parent = fn.parent & kRecordNumberMask;
        found = true;
        return false;
    });
    return found;
}

}  // namespace

bool Interrupted() {
    return Process().interrupted.load();
}

std::u16string PathRoot(const NtfsVolumeTarget& target) {
    if (target.IsMounted())
        return target.mount_folder;
    return std::u16string{target.drive_letter, u':'};
}

std::optional<std::u16string> PathOfRecord(platform::IRawVolume& volume,
                                           uint64_t reference,
                                           const NtfsVolumeTarget& target) {
    std::vector<uint8_t> record(kFileRecordBufferMax);
    std::u16string path;  // built backwards: "\c\b\a" reversed parts joined at the end
    std::vector<std::u16string> parts;
    size_t units = 0;
    uint64_t at = reference & kRecordNumberMask;
    if (at == kRootRecord)
        return PathRoot(target);
    for (uint32_t depth = 0; depth < kChainBound; ++depth) {
        size_t size = 0;
        uint64_t got = 0;
        std::u16string name;
        uint64_t parent = 0;
        if (volume.GetFileRecord(at, record.data(), record.size(), &size, &got) !=
                platform::kRawOk ||
            got != at || !FirstName(record.data(), size, &name, &parent)) {
            // As far as it could be read.
            for (auto it = parts.rbegin(); it != parts.rend(); ++it)
                path += u'\\' + *it;
            return path;
        }
        units += name.size() + 1;
        if (units > kMaxPathUnits)
            return std::nullopt;
        parts.push_back(std::move(name));
        if (parent == kRootRecord) {
            path = PathRoot(target);
            for (auto it = parts.rbegin(); it != parts.rend(); ++it)
                path += u'\\' + *it;
            return path;
        }
        at = parent;
    }
    return std::nullopt;
}

uint64_t SizeByReference(platform::IRawVolume& volume, uint64_t reference) {
    uint64_t size = 0;
    // Clear the volume tag: the reference is record number and sequence.
    if (volume.FileSizeById(reference & 0xFFFF0000FFFFFFFFull, &size) != platform::kRawOk)
        return 0;
    return size;
}

SizeAndTime SizeAndTimeOfRecord(platform::IRawVolume& volume, uint64_t reference) {
    SizeAndTime out;
    std::vector<uint8_t> record(kFileRecordBufferMax);
    size_t size = 0;
    uint64_t got = 0;
    const uint64_t number = reference & 0xFFFFFFFFull;
    if (volume.GetFileRecord(number, record.data(), record.size(), &size, &got) !=
            platform::kRawOk ||
        got != number)
        return out;
    auto header = DecodeRecordHeader(record.data(), size);
    if (!header)
        return out;
    bool have_size = false;
    uint64_t bytes = 0;
    const uint32_t bound = std::min<uint32_t>(header->next_attribute_id, 8);
    WalkAttributes(record.data(), *header, bound, true, [&](const AttributeView& a) {
        if (a.type == kAttrStandardInformation && !a.non_resident && a.value_length >= 16) {
            out.time = PackTime(Get64(a.value + 8));
        } else if (a.type == kAttrData && !have_size && a.name_length == 0) {
            bytes = a.non_resident ? a.data_size : a.value_length;
            have_size = true;
        }
        return true;
    });
    if (!have_size) {
        if (header->flags & kRecordDirectory) {
            out.size = 0;
            return out;
        }
        bytes = SizeByReference(volume, reference);
    }
    out.size = SizeCodeOf(bytes);
    return out;
}

}  // namespace ntfs

namespace {

using namespace ntfs;

enum : uint8_t { kUndecided = 0, kIgnored = 1, kKept = 2 };

// Decides which records a full scan leaves out: hidden items, excluded names, folders that
// hold a `_kavoignore` file, and everything below them. The file system's own records
// other than the root are left out with everything below them as well.
std::vector<uint8_t> MarkIgnored(const std::vector<MftEntry>& entries,
                                 platform::IRawVolume& volume,
                                 const NtfsVolumeTarget& target,
                                 IKvListener& listener,
                                 const IIgnoreRules& rules) {
    const uint32_t count = static_cast<uint32_t>(entries.size());
    std::vector<uint8_t> flags(count, kUndecided);
    std::vector<uint32_t> folders;
    const bool hidden = rules.ExcludeHidden();
    for (uint32_t i = 0; i < count; ++i) {
        const MftEntry& e = entries[i];
        if (!e.InUse() || !e.name)
            continue;
        if (hidden && (e.attributes & 0x2))
            flags[i] = kIgnored;
        if (e.flags & kRecordDirectory) {
            if (i >= kFirstUserRecord)
                folders.push_back(i);
            if (flags[i] == kUndecided && rules.IsNameExcluded(e.Name(), true))
                flags[i] = kIgnored;
        } else {
            if (e.Name() == u"_kavoignore" && i >= kFirstUserRecord) {
                uint64_t p = e.parent;
                if (p < count) {
                    auto path =
                        PathOfRecord(volume, p | (uint64_t{entries[p].sequence} << 48), target);
                    if (path)
                        listener.OnIgnoredFolder(*path);
                    flags[p] = kIgnored;
                }
            }
            if (flags[i] == kUndecided && rules.IsNameExcluded(e.Name(), false))
                flags[i] = kIgnored;
        }
    }
    for (uint32_t i = 0; i < kFirstUserRecord && i < count; ++i)
        if (i != kRootRecord)
            flags[i] = kIgnored;
    if (kRootRecord < count)
        flags[kRootRecord] = kKept;
    std::vector<uint32_t> chain;
    for (uint32_t f : folders) {
        if (flags[f] != kUndecided)
            continue;
        chain.clear();
        uint64_t at = f;
        uint8_t decision = kKept;
        while (chain.size() < kChainBound) {
            if (at >= count)
                break;
            if (flags[at] != kUndecided) {
                decision = flags[at];
                break;
            }
            chain.push_back(static_cast<uint32_t>(at));
            at = entries[at].parent;
        }
        for (uint32_t c : chain)
            flags[c] = decision;
    }
    return flags;
}

}  // namespace

int64_t FullMftScan(platform::IRawVolume& volume,
                    const NtfsVolumeTarget& target,
                    IKvListener& listener,
                    const IIgnoreRules& rules) {
    MftParser parser;
    if (parser.Load(volume) == 0) {
        BuildLog(u"Assertion failed: LoadMFT returns zero");
        return -1;
    }
    BuildLog(u"Parsing MFT..");
    const uint32_t parsed = parser.Parse(volume);
    BuildLog(u"%d entries found.", static_cast<int>(parsed));
    const auto& entries = parser.Entries();
    const uint32_t count = static_cast<uint32_t>(entries.size());
    const uint32_t tag = target.VolumeTag();
    const uint16_t root_sequence = count > kRootRecord ? entries[kRootRecord].sequence : 0;
    const uint64_t root_key = MakeKey(kRootRecord, tag, root_sequence);
    if (!target.IsMounted()) {
        const char16_t root_name[2] = {target.drive_letter, u':'};
        ScanEntry root;
        root.key = root_key;
        root.is_folder = 1;
        root.name = std::u16string_view(root_name, 2);
        listener.OnFileAdded(root);
    }
    std::vector<uint8_t> flags = MarkIgnored(entries, volume, target, listener, rules);
    uint32_t emitted = 0;
    for (uint32_t i = kFirstUserRecord; i < count; ++i) {
        const MftEntry& e = entries[i];
        if (!e.InUse() || !e.name)
            continue;
        const uint64_t p = e.parent;
        if (p < count && flags[p] == kIgnored)
            flags[i] = kIgnored;
        if (flags[i] == kIgnored)
            continue;
        ScanEntry entry;
        entry.key = MakeKey(i, tag, e.sequence);
        entry.parent_key = MakeKey(p, tag, p < count ? entries[p].sequence : 0);
        if (target.IsMounted() && entry.parent_key == root_key)
            entry.parent_key = target.mount_key;
        entry.is_folder = e.IsFolder() ? 1 : 0;
        if (entry.is_folder) {
            entry.size = 0;
        } else {
            uint64_t size = e.size;
            if (size == kSizeUnknown)
                size = SizeByReference(volume, i | (uint64_t{e.sequence} << 48));
            entry.size = SizeCodeOf(size);
        }
        entry.time = PackTime(e.time);
        entry.name = e.Name();
        listener.OnFileAdded(entry);
        if (++emitted % 10 == 0 && Interrupted())
            break;
    }
    return parsed;
}

}  // namespace kavo

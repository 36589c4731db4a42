#include <optional>
#include <unordered_map>
#include <vector>

#include "main/status_out.h"
#include "scan/mft_record.h"
#include "scan/ntfs_decoded_volume.h"
#include "scan/ntfs_internal.h"
#include "scan/ntfs_scan.h"
#include "scan/usn_record.h"

namespace kavo {

namespace {

using namespace ntfs;

constexpr size_t kJournalBufferSize = 10000;
constexpr uint32_t kAncestorBound = 1024;
constexpr uint32_t kFileAttributeHidden = 0x2;
constexpr uint32_t kFileAttributeDirectory = 0x10;

// Decides for created items whether an ignore rule or a `_kavoignore` marker keeps them out,
// remembering the answer for every folder it had to look at.
class CreatedItemFilter {
  public:
    CreatedItemFilter(platform::IRawVolume& volume,
                      const NtfsVolumeTarget& target,
                      IKvListener& listener,
                      const IIgnoreRules& rules)
        : volume_(volume), target_(target), listener_(listener), rules_(rules) {}

    bool IsIgnored(const UsnRecord& r, std::u16string_view name) {
        const bool folder = (r.file_attributes & kFileAttributeDirectory) != 0;
        const uint64_t self = r.file_reference & kRecordNumberMask;
        const uint64_t parent = r.parent_reference & kRecordNumberMask;
        if (rules_.ExcludeHidden() && (r.file_attributes & kFileAttributeHidden)) {
            if (folder)
                cache_[self] = true;
            return true;
        }
        if (folder) {
            auto it = cache_.find(self);
            if (it != cache_.end())
                return it->second;
        } else {
            // The file's own name first: the folder's answer says nothing about it.
            if (rules_.IsNameExcluded(name, false))
                return true;
            auto it = cache_.find(parent);
            if (it != cache_.end())
                return it->second;
        }
        // The folders to judge, innermost first: the item itself when it is a folder, then its
        // ancestors up to (not including) the root or the first folder already known.
        struct Folder {
            uint64_t record;
            std::u16string name;
        };
        std::vector<Folder> chain;
        if (folder)
            chain.push_back({self, std::u16string(name)});
        std::optional<bool> known;
        uint64_t at = parent;
        std::vector<uint8_t> record(65536 + 16);
        while (at != kRootRecord && chain.size() < kAncestorBound) {
            auto it = cache_.find(at);
            if (it != cache_.end()) {
                known = it->second;
                break;
            }
            size_t size = 0;
            uint64_t got = 0;
            if (volume_.GetFileRecord(at, record.data(), record.size(), &size, &got) !=
                    platform::kRawOk ||
                got != at)
                break;
            std::u16string part;
            uint64_t up = 0;
            if (!FirstName(record.data(), size, &part, &up))
                break;
            chain.push_back({at, std::move(part)});
            at = up;
        }
        const bool reached_root = at == kRootRecord || known.has_value();
        // Paths of the folders: root + names from the outermost down.
        std::vector<std::u16string> paths(chain.size());
        if (reached_root) {
            std::u16string path =
                known ? std::u16string() : PathRoot(target_);  // unknown prefix when cached
            if (known) {
                auto p = PathOfRecord(volume_, at, target_);
                path = p ? *p : PathRoot(target_);
            }
            for (size_t i = chain.size(); i-- > 0;) {
                path += u'\\';
                path += chain[i].name;
                paths[i] = path;
            }
        }
        for (size_t i = 0; i < chain.size(); ++i) {
            bool hit = false;
            if (!paths[i].empty()) {
                if (rules_.ExcludeHidden()) {
                    auto a = volume_.PathAttributes(paths[i]);
                    if (a && (*a & kFileAttributeHidden))
                        hit = true;
                }
            }
            if (!hit && rules_.IsNameExcluded(chain[i].name, true))
                hit = true;
            if (!hit && !paths[i].empty() && volume_.FileExistsAt(paths[i] + u"\\_kavoignore")) {
                listener_.OnIgnoredFolder(paths[i]);
                hit = true;
            }
            if (hit) {
                for (size_t j = 0; j <= i; ++j)
                    cache_[chain[j].record] = true;
                return true;
            }
        }
        const bool answer = known.value_or(false);
        for (const Folder& f : chain)
            cache_[f.record] = answer;
        return answer;
    }

  private:
    static bool FirstName(const uint8_t* record,
                          size_t size,
                          std::u16string* name,
                          uint64_t* parent) {
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
            *parent = fn.parent & kRecordNumberMask;
            found = true;
            return false;
        });
        return found;
    }

    platform::IRawVolume& volume_;
    const NtfsVolumeTarget& target_;
    IKvListener& listener_;
    const IIgnoreRules& rules_;
    std::unordered_map<uint64_t, bool> cache_;
};

}  // namespace

int64_t ReadJournalChanges(platform::IRawVolume& volume,
                           const NtfsVolumeTarget& target,
                           IKvListener& listener,
                           const IIgnoreRules& rules,
                           uint64_t journal_id,
                           int64_t* next_usn) {
    const uint32_t tag = target.VolumeTag();
    std::optional<uint64_t> root_reference;
    if (target.IsMounted()) {
        if (auto index = volume.FolderFileIndex(target.mount_folder))
            root_reference = TagReference(*index, tag);
    }
    platform::ReadJournalRequest request;
    request.start_usn = *next_usn;
    request.reason_mask = kUsnReadMask;
    request.journal_id = journal_id;
    std::vector<uint8_t> buffer(kJournalBufferSize);
    std::unordered_map<uint64_t, std::u16string> renamed;
    CreatedItemFilter filter(volume, target, listener, rules);
    int64_t fetched = 0;
    int64_t last_end = 0;
    bool any = false;
    size_t got = 0, pos = 0;
    for (;;) {
        if (pos >= got) {
            if (volume.ReadJournal(request, buffer.data(), buffer.size(), &got) !=
                    platform::kRawOk ||
                got <= 8)
                break;
            int64_t continue_at;
            std::memcpy(&continue_at, buffer.data(), 8);
            request.start_usn = continue_at;
            pos = 8;
        }
        UsnRecord r;
        if (!DecodeUsnRecord(buffer.data() + pos, got - pos, &r)) {
            // A damaged record: the rest of this output cannot be trusted.
            pos = got;
            continue;
        }
        pos += r.record_length;
        if (Interrupted())
            break;
        ++fetched;
        any = true;
        last_end = r.usn + r.record_length;
        if (r.reason & kUsnClose) {
            const std::u16string name = r.Name();
            ScanEntry entry;
            entry.key = TagReference(r.file_reference, tag);
            entry.parent_key = TagReference(r.parent_reference, tag);
            if (root_reference && entry.parent_key == *root_reference)
                entry.parent_key = target.mount_key;
            entry.is_folder = (r.file_attributes & kFileAttributeDirectory) ? 1 : 0;
            entry.name = name;
            if (r.reason & kUsnFileCreate) {
                if (filter.IsIgnored(r, name))
                    continue;
                SizeAndTime st = SizeAndTimeOfRecord(volume, r.file_reference);
                entry.size = entry.is_folder ? 0 : st.size;
                entry.time = st.time;
                listener.OnFileAdded(entry);
                entry.size = 0;
                entry.time = 0;
            }
            std::optional<std::u16string> old_name;
            if (r.reason & kUsnRenameNewName) {
                auto it = renamed.find(entry.key);
                if (it != renamed.end()) {
                    old_name = it->second;
                } else {
                    listener.OnFileRemoved(entry);
                }
            }
            if (old_name ||
                (r.reason & (kUsnDataOverwrite | kUsnDataExtend | kUsnDataTruncation))) {
                SizeAndTime st = SizeAndTimeOfRecord(volume, r.file_reference);
                entry.size = entry.is_folder ? 0 : st.size;
                entry.time = st.time;
                if (old_name)
                    listener.OnFileChanged(entry, std::u16string_view(*old_name));
                else
                    listener.OnFileChanged(entry, std::nullopt);
                if (r.reason & kUsnFileDelete)
                    listener.OnFileRemoved(entry);
            } else if (r.reason & kUsnFileDelete) {
                listener.OnFileRemoved(entry);
            }
        } else if (r.reason & kUsnRenameOldName) {
            renamed[TagReference(r.file_reference, tag)] = r.Name();
        }
    }
    if (any)
        *next_usn = last_end;
    BuildLog(u"%d change records processed.", static_cast<int>(fetched));
    return fetched;
}

bool IsJournalStateValid(const platform::UsnJournalData& journal, const JournalState& state) {
    if (journal.maximum_size == 0)
        return false;
    if (state.journal_id != journal.journal_id)
        return false;
    if (state.next_usn == 0)
        return false;
    if (state.next_usn < 0)
        return true;
    return state.next_usn >= journal.lowest_valid_usn && state.next_usn >= journal.first_usn;
}

std::unique_ptr<platform::IRawVolume> OpenNtfsVolume(const std::u16string& device_path,
                                                     uint32_t* error) {
    auto volume = platform::OpenRawVolume(device_path, error);
    if (!volume)
        return nullptr;
    platform::NtfsVolumeData data;
    uint32_t e = volume->GetVolumeData(&data);
    if (e == platform::kRawErrorNotSupported || e == platform::kRawErrorInvalidFunction)
        return MakeDecodedVolume(std::move(volume));
    return volume;
}

NtfsScanResult ScanNtfsVolume(const std::u16string& device_path,
                              const NtfsVolumeTarget& target,
                              IKvListener& listener,
                              const IIgnoreRules& rules,
                              JournalState* state) {
    uint32_t error = 0;
    auto volume = OpenNtfsVolume(device_path, &error);
    if (!volume) {
        BuildLog(u"Failed to obtain a file handle for the root drive(err=%u)", error);
        return NtfsScanResult::kOpenFailed;
    }
    return ScanNtfsVolume(*volume, target, listener, rules, state);
}

NtfsScanResult ScanNtfsVolume(platform::IRawVolume& volume,
                              const NtfsVolumeTarget& target,
                              IKvListener& listener,
                              const IIgnoreRules& rules,
                              JournalState* state) {
    uint8_t sector[512];
    size_t got = 0;
    if (volume.ReadAt(0, sector, sizeof sector, &got) != platform::kRawOk || got != sizeof sector ||
        !DecodeBootSector(sector, sizeof sector))
        return NtfsScanResult::kNotNtfs;

    platform::UsnJournalData journal;
    uint32_t e = volume.QueryJournal(&journal);
    if (e == platform::kRawErrorJournalNotActive) {
        uint32_t c = volume.CreateJournal(0x2000000, 0x100000);
        if (c == platform::kRawOk)
            e = volume.QueryJournal(&journal);
        if (c != platform::kRawOk || e != platform::kRawOk) {
            // No usable journal (full disk, or a volume that cannot have one): this volume is
            // scanned in full at every build.
            journal = platform::UsnJournalData{};
            e = platform::kRawOk;
        }
    }
    if (e != platform::kRawOk) {
        BuildLog(u"Failed to query USN records(err=%u)", e);
        return NtfsScanResult::kQueryFailed;
    }
    platform::NtfsVolumeData data;
    if (uint32_t v = volume.GetVolumeData(&data); v != platform::kRawOk)
        BuildLog(u"FSCTL_GET_NTFS_VOLUME_DATA failed(err=%u)", v);

    NtfsScanResult result = NtfsScanResult::kChangesOnly;
    if (IsJournalStateValid(journal, *state)) {
        BuildLog(u"(No full scan needed)");
    } else {
        listener.OnRemoveVolume(target.drive_letter, target.volume_number);
        state->journal_id = journal.journal_id;
        state->next_usn = journal.next_usn;
        BuildLog(u"Doing full scan");
        result = NtfsScanResult::kFullScan;
        if (FullMftScan(volume, target, listener, rules) < 0) {
            // Nothing of the volume is left: the next build must scan it in full again.
            *state = JournalState{};
            return NtfsScanResult::kMftFailed;
        }
    }
    if (state->next_usn == -1)
        state->next_usn = 0;
    if (journal.maximum_size != 0) {
        BuildLog(u"Scanning changes");
        ReadJournalChanges(volume, target, listener, rules, state->journal_id, &state->next_usn);
    }
    if (state->next_usn == 0)
        state->next_usn = -1;
    return result;
}

}  // namespace kavo

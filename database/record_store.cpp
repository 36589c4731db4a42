#include "database/record_store.h"

#include <algorithm>

#include "base/case_map.h"

namespace kavo {

RecordStore::RecordStore() = default;

uint32_t RecordStore::NewSlot(const FileRecord& r) {
    if (!free_slots_.empty()) {
        const uint32_t slot = free_slots_.back();
        free_slots_.pop_back();
        pool_[slot] = r;
        return slot;
    }
    pool_.push_back(r);
    return static_cast<uint32_t>(pool_.size() - 1);
}

void RecordStore::FreeSlot(uint32_t slot) {
    if (slot < static_cast<uint32_t>(loaded_count_)) {
        loaded_gone_[slot] = true;
    }
    pool_[slot] = FileRecord{};
    free_slots_.push_back(slot);
}

void RecordStore::IndexFolder(uint32_t slot) {
    directory_[pool_[slot].key] = slot;
}

void RecordStore::AddRecord(const ScanEntry& entry) {
    NameKeyInfo info = MakeNameKey(entry.name, entry.is_folder != 0);
    const uint32_t slot =
        NewSlot(FileRecord{entry.key, entry.parent_key, -1, entry.time, entry.size});
    if (entry.is_folder) {
        IndexFolder(slot);
    }
    auto [it, inserted] = names_.try_emplace(std::move(info.key));
    if (inserted) {
        it->second.bits = info.bits;
        it->second.wide = info.wide;
        it->second.length = info.length;
        it->second.upper_count = info.upper_count;
    }
    it->second.records.push_back(slot);
    ++record_count_;
}

bool RecordStore::UpdateRecord(const ScanEntry& entry) {
    const NameKeyInfo info = MakeNameKey(entry.name, entry.is_folder != 0);
    auto it = names_.find(info.key);
    if (it == names_.end()) {
        return false;
    }
    for (uint32_t slot : it->second.records) {
        FileRecord& r = pool_[slot];
        if (r.key == entry.key) {
            r.time = entry.time;
            r.size = entry.size;
            return true;
        }
    }
    return false;
}

bool RecordStore::RemoveRecord(const ScanEntry& entry) {
    const NameKeyInfo info = MakeNameKey(entry.name, entry.is_folder != 0);
    auto it = names_.find(info.key);
    if (it == names_.end()) {
        return false;
    }
    std::vector<uint32_t>& list = it->second.records;
    auto pos = std::find_if(list.begin(), list.end(),
                            [&](uint32_t slot) { return pool_[slot].key == entry.key; });
    if (pos == list.end()) {
        return false;
    }
    const uint32_t slot = *pos;
    list.erase(pos);
    if (entry.is_folder) {
        auto d = directory_.find(entry.key);
        if (d != directory_.end() && d->second == slot) {
            directory_.erase(d);
        }
    }
    FreeSlot(slot);
    --record_count_;
    return true;
}

bool RecordStore::RenameRecord(const ScanEntry& entry, std::u16string_view old_name) {
    ScanEntry old = entry;
    old.name = old_name;
    const bool found = RemoveRecord(old);
    AddRecord(entry);
    return found;
}

int32_t RecordStore::RemoveVolumeRecords(char16_t drive_letter, uint32_t volume_number) {
    const char16_t letter = UpperUnit(drive_letter);
    if (letter < u'A' || letter > u'Z') {
        return 0;
    }
    const uint32_t drive_index = static_cast<uint32_t>(letter - u'A');
    const VolumeTag tag = MakeVolumeTag(drive_index, volume_number);
    auto matches = [&](RecordKey key) {
        return volume_number == 0 ? DriveIndexOf(key) == drive_index : VolumeTagOf(key) == tag;
    };
    int32_t removed = 0;
    for (auto& [key, name] : names_) {
        const bool folder = !key.empty() && key[0] == kFolderFlag;
        std::vector<uint32_t>& list = name.records;
        size_t out = 0;
        for (uint32_t slot : list) {
            const RecordKey k = pool_[slot].key;
            if (!matches(k)) {
                list[out++] = slot;
                continue;
            }
            if (folder) {
                auto d = directory_.find(k);
                if (d != directory_.end() && d->second == slot) {
                    directory_.erase(d);
                }
            }
            FreeSlot(slot);
            ++removed;
        }
        list.resize(out);
    }
    record_count_ -= removed;
    return removed;
}

uint32_t RecordStore::GetVolumeNumber(RecordKey mount_key) {
    if (mount_key == 0) {
        return 0;
    }
    uint32_t free_slot = 0;
    for (uint32_t s = 1; s < kVolumeSlotCount; ++s) {
        if (volumes_[s].mount_key == mount_key) {
            return s;
        }
        if (free_slot == 0 && volumes_[s].IsFree()) {
            free_slot = s;
        }
    }
    if (free_slot != 0) {
        volumes_[free_slot].mount_key = mount_key;
    }
    return free_slot;
}

std::vector<uint32_t> RecordStore::VolumesOfDrive(uint32_t drive_index) const {
    std::vector<uint32_t> out;
    for (uint32_t s = 1; s < kVolumeSlotCount; ++s) {
        if (!volumes_[s].IsFree() && DriveIndexOf(volumes_[s].mount_key) == drive_index) {
            out.push_back(s);
        }
    }
    return out;
}

const FileRecord* RecordStore::FindFolder(RecordKey key) const {
    auto it = directory_.find(key);
    return it == directory_.end() ? nullptr : &pool_[it->second];
}

void RecordStore::ForEachRecord(
    const std::function<void(std::u16string_view, const NameRecord&, const FileRecord&)>& fn)
    const {
    for (const auto& [key, name] : names_) {
        for (uint32_t slot : name.records) {
            fn(key, name, pool_[slot]);
        }
    }
}

PackedTime RecordStore::DatabaseTime() const {
    return static_cast<PackedTime>(header_[8]) | (static_cast<PackedTime>(header_[9]) << 8) |
           (static_cast<PackedTime>(header_[10]) << 16) |
           (static_cast<PackedTime>(header_[11]) << 24);
}

void RecordStore::Clear() {
    record_count_ = 0;
    pool_.clear();
    free_slots_.clear();
    directory_.clear();
    names_.clear();
    header_.fill(0);
    drives_.fill(DriveSlot{});
    volumes_.fill(VolumeSlot{});
    loaded_count_ = 0;
    loaded_gone_.clear();
}

}  // namespace kavo

#include "database/database_files.h"

#include <chrono>
#include <cstring>

#include "database/db_format.h"
#include "main/status_out.h"
#include "platform/file.h"
#include "platform/file_prefix.h"
#include "platform/system.h"

namespace kavo {

using namespace dbformat;

class RecordStoreAccess {
  public:
    explicit RecordStoreAccess(RecordStore& s) : s_(s) {}
    std::vector<FileRecord>& Pool() { return s_.pool_; }
    RecordStore::NameMap& Names() { return s_.names_; }
    std::unordered_map<RecordKey, uint32_t>& Directory() { return s_.directory_; }
    void SetCount(int32_t n) { s_.record_count_ = n; }
    void SetLoaded(const std::u16string& folder) {
        s_.loaded_ = true;
        s_.folder_ = folder;
    }
    const std::u16string& Folder() const { return s_.folder_; }
    bool BeginSave() { return !s_.saved_.exchange(true); }
    void SetLoadedCount(int32_t n) {
        s_.loaded_count_ = n;
        s_.loaded_gone_.assign(static_cast<size_t>(n), false);
    }
    // The new index of the record that had `old_index` at load, or -1 when it is gone.
    int32_t NewIndexOfLoaded(int32_t old_index) const {
        if (old_index < 0 || old_index >= s_.loaded_count_ ||
            s_.loaded_gone_[static_cast<size_t>(old_index)]) {
            return -1;
        }
        return s_.pool_[static_cast<size_t>(old_index)].index;
    }

  private:
    RecordStore& s_;
};

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

std::span<const uint8_t> View(const std::vector<uint8_t>* v) {
    return v ? std::span<const uint8_t>(*v) : std::span<const uint8_t>();
}

// Fills the store from checked files; both have passed their checks.
void FillStore(RecordStore& store, const Frs& f, std::span<const uint8_t> nrs) {
    RecordStoreAccess a(store);
    std::memcpy(store.Header().data(), f.header, kHeaderBytes);
    for (size_t d = 0; d < kDriveSlotCount; ++d) {
        DriveSlot& slot = store.Drive(static_cast<uint32_t>(d));
        ReadDriveSlot(f.drive_table + d * kSlotBytes, slot);
        slot.display_name = f.drive_names[d];
    }
    if (f.volume_table) {
        for (size_t v = 0; v < kVolumeSlotCount; ++v) {
            ReadVolumeSlot(f.volume_table + v * kSlotBytes, store.Volume(static_cast<uint32_t>(v)));
        }
    }
    const uint32_t n = f.record_count;
    std::vector<FileRecord>& pool = a.Pool();
    pool.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        FileRecord& r = pool[i];
        r.key = RecordKeyAt(f, i);
        r.index = static_cast<int32_t>(i);
        r.time = TimeAt(f, i);
        r.size = SizeAt(f, i);
    }
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t p = ParentAt(f, i);
        pool[i].parent_key = p >= 0 ? pool[static_cast<size_t>(p)].key : 0;
    }
    a.Directory().reserve(n / 4);
    RecordStore::NameMap& names = a.Names();
    std::u16string key;
    ForEachNrsItem(nrs, n, [&](const NrsItem& it) {
        key.resize(it.key_units);
        for (uint32_t u = 0; u < it.key_units; ++u) {
            key[u] = it.Unit(u);
        }
        NameRecord rec;
        rec.bits = it.bits;
        rec.wide = it.wide;
        rec.length = it.length;
        rec.upper_count = it.upper_count;
        rec.records.resize(static_cast<size_t>(it.count));
        for (int32_t k = 0; k < it.count; ++k) {
            rec.records[static_cast<size_t>(k)] = static_cast<uint32_t>(it.first + k);
        }
        if (it.IsFolder()) {
            for (uint32_t slot : rec.records) {
                a.Directory()[pool[slot].key] = slot;
            }
        }
        names.emplace_hint(names.end(), key, std::move(rec));
    });
    a.SetCount(static_cast<int32_t>(n));
    a.SetLoadedCount(static_cast<int32_t>(n));
}

struct CheckedPair {
    DbStatus status;
    Frs frs;
};

CheckedPair CheckPair(std::span<const uint8_t> frs, std::span<const uint8_t> nrs) {
    CheckedPair c;
    c.status = ParseFrs(frs, c.frs);
    if (!c.status.Ok()) {
        return c;
    }
    if (frs.empty() || nrs.empty()) {
        c.status.code = DbStatus::Code::kMissing;
        return c;
    }
    uint32_t names = 0, folder_names = 0, folder_records = 0;
    c.status = CheckNrs(nrs, c.frs.record_count, &names, &folder_names, &folder_records);
    if (!c.status.Ok()) {
        return c;
    }
    std::vector<int32_t> parents(c.frs.record_count);
    for (uint32_t i = 0; i < c.frs.record_count; ++i) {
        parents[i] = ParentAt(c.frs, i);
    }
    c.status = CheckParents(parents, folder_records);
    return c;
}

}  // namespace

DbStatus LoadRecordStoreFromBytes(RecordStore& store,
                                  const std::vector<uint8_t>* frs,
                                  const std::vector<uint8_t>* nrs) {
    store.Clear();
    CheckedPair c = CheckPair(View(frs), View(nrs));
    if (c.status.Ok()) {
        FillStore(store, c.frs, View(nrs));
    }
    return c.status;
}

DbStatus LoadRecordStore(const std::u16string& folder, RecordStore& store) {
    BuildLog(u"Openning database..");
    store.Clear();
    RecordStoreAccess(store).SetLoaded(folder);
    const std::u16string frs_path = folder + kFrsFileName;
    const std::u16string nrs_path = folder + kNrsFileName;
    // A missing file is created empty, as the first build of a new folder expects.
    for (const std::u16string* p : {&frs_path, &nrs_path}) {
        if (!platform::FileExists(*p)) {
            platform::WriteWholeFile(*p, "", 0);
        }
    }

    StatusOut(u"Loading file records..");
    Clock::time_point t0 = Clock::now();
    std::optional<std::vector<uint8_t>> frs = platform::ReadWholeFile(frs_path);
    Frs f;
    DbStatus status = ParseFrs(View(frs ? &*frs : nullptr), f);
    StatusOut(u"File records loaded (%d ms)\n", MsSince(t0));

    StatusOut(u"Loading name records..");
    t0 = Clock::now();
    std::optional<std::vector<uint8_t>> nrs;
    if (status.Ok()) {
        nrs = platform::ReadWholeFile(nrs_path);
        CheckedPair c = CheckPair(View(frs ? &*frs : nullptr), View(nrs ? &*nrs : nullptr));
        status = c.status;
        if (status.Ok()) {
            FillStore(store, c.frs, View(&*nrs));
        }
    }
    StatusOut(u"Name records loaded (%d ms)", MsSince(t0));
    if (status.Damaged()) {
        StatusOut(u"The database is damaged (%s); it will be built again.", status.reason);
        BuildLog(u"The database is damaged (%s); it will be built again.", status.reason);
    }
    RecordStoreAccess(store).SetLoaded(folder);
    BuildLog(u"Database opened.");
    return status;
}

namespace {

// Carries the user's hidden entries over to the new record indices.
bool RewriteHiddenList(RecordStoreAccess& a) {
    const std::u16string path = a.Folder() + kHidFileName;
    std::optional<std::vector<uint8_t>> bytes = platform::ReadWholeFile(path);
    if (!bytes) {
        return true;
    }
    std::vector<HidEntry> entries = ParseHid(*bytes);
    std::vector<HidEntry> kept;
    kept.reserve(entries.size());
    for (const HidEntry& e : entries) {
        if (e.flag != kHiddenByUser) {
            continue;  // deleted through the program: gone after a build
        }
        const int32_t now = a.NewIndexOfLoaded(e.index);
        if (now >= 0) {
            kept.push_back({now, kHiddenByUser});
        }
    }
    if (kept.empty()) {
        platform::RemoveFile(path);
        return true;
    }
    const std::vector<uint8_t> out = MakeHid(kept);
    return platform::WriteWholeFile(path, out.data(), out.size());
}

}  // namespace

bool SaveRecordStore(RecordStore& store, bool stamp_time) {
    return SaveRecordStoreAt(store, stamp_time, FileTimeToPackedTime(platform::NowFileTime()));
}

bool SaveRecordStoreAt(RecordStore& store, bool stamp_time, PackedTime now) {
    RecordStoreAccess a(store);
    if (!store.IsLoaded() || !a.BeginSave()) {
        return false;
    }
    std::vector<FileRecord>& pool = a.Pool();
    const std::u16string& folder = a.Folder();

    // One walk over the name records in key order, skipping the empty ones: it numbers the
    // records (their list order within each name gives the saved order), writes the name
    // items and keys, and gathers the records' fields in saved order for kavo.frs.
    Clock::time_point t0 = Clock::now();
    const size_t count = static_cast<size_t>(store.RecordCount());
    std::vector<RecordKey> keys, parent_keys;
    std::vector<PackedTime> times;
    std::vector<SizeCode> sizes;
    keys.reserve(count);
    parent_keys.reserve(count);
    times.reserve(count);
    sizes.reserve(count);

    platform::FileWriter nrs;
    bool ok = nrs.Open(folder + kNrsFileName);
    {
        // One walk over the map for the items (they need only the names), keeping pointers
        // to the kept names; the keys and records then follow that array, which lets the
        // next nodes be fetched ahead instead of chasing the tree.
        using Named = std::pair<const std::u16string, NameRecord>;
        std::vector<const Named*> kept;
        kept.reserve(a.Names().size());
        std::vector<uint8_t> items(4 + kItemBytes * a.Names().size());
        uint8_t* item = items.data() + 4;
        uint32_t first = 0;
        for (const Named& entry : a.Names()) {
            const NameRecord& name = entry.second;
            if (name.records.empty()) {
                continue;
            }
            kept.push_back(&entry);
            PutU32(item, name.bits);
            PutU32(item + 4, first);
            item[8] = name.wide;
            item[9] = name.length;
            item[10] = name.upper_count;
            item += kItemBytes;
            first += static_cast<uint32_t>(name.records.size());
        }
        PutU32(items.data(), static_cast<uint32_t>(kept.size()));
        ok = ok && nrs.Write(items.data(), 4 + kItemBytes * kept.size());
        items = std::vector<uint8_t>();

        // The keys go through one buffer of kKeyBufferBytes, flushed whenever the next key
        // would not fit.
        std::vector<uint8_t> buffer(kKeyBufferBytes);
        size_t used = 0;
        constexpr size_t kAhead = 16;
        for (size_t n = 0; n < kept.size(); ++n) {
            if (n + kAhead < kept.size()) {
                const Named* ahead = kept[n + kAhead];
                __builtin_prefetch(ahead->first.data());
                __builtin_prefetch(ahead->second.records.data());
                const Named* near = kept[n + kAhead / 2];
                __builtin_prefetch(&pool[near->second.records.front()], 1);
            }
            const std::u16string& key = kept[n]->first;
            const NameRecord& name = kept[n]->second;
            for (uint32_t slot : name.records) {
                FileRecord& r = pool[slot];
                r.index = static_cast<int32_t>(keys.size());
                keys.push_back(r.key);
                parent_keys.push_back(r.parent_key);
                times.push_back(r.time);
                sizes.push_back(r.size);
            }
            const size_t need = key.size() * (name.wide ? 2 : 1);
            if (used + need > buffer.size()) {
                ok = ok && nrs.Write(buffer.data(), used);
                used = 0;
            }
            uint8_t* out = buffer.data() + used;
            if (name.wide) {
                for (char16_t u : key) {
                    *out++ = static_cast<uint8_t>(u);
                    *out++ = static_cast<uint8_t>(u >> 8);
                }
            } else {
                for (char16_t u : key) {
                    *out++ = static_cast<uint8_t>(u);
                }
            }
            used += need;
        }
        ok = ok && nrs.Write(buffer.data(), used);
    }
    StatusOut(u"Dump name records: %d ms\n", MsSince(t0));

    t0 = Clock::now();
    platform::FileWriter frs;
    ok = frs.Open(folder + kFrsFileName) && ok;
    {
        // Folder key -> saved index, in a flat table: one probe a record instead of a walk
        // through the nodes of the directory index.
        const std::unordered_map<RecordKey, uint32_t>& dir = a.Directory();
        size_t cap = 16;
        while (cap < dir.size() * 2) {
            cap <<= 1;
        }
        std::vector<RecordKey> table_key(cap, 0);
        std::vector<int32_t> table_index(cap, -1);
        auto hash = [cap](RecordKey k) {
            k ^= k >> 33;
            k *= 0xff51afd7ed558ccdull;
            k ^= k >> 33;
            return static_cast<size_t>(k) & (cap - 1);
        };
        for (const auto& [k, slot] : dir) {
            if (k == 0) {
                continue;  // 0 means "no parent"
            }
            size_t h = hash(k);
            while (table_index[h] >= 0 && table_key[h] != k) {
                h = (h + 1) & (cap - 1);
            }
            table_key[h] = k;
            table_index[h] = pool[slot].index;
        }
        std::vector<int32_t> parent(count, -1);
        for (size_t i = 0; i < count; ++i) {
            const RecordKey pk = parent_keys[i];
            if (pk == 0) {
                continue;
            }
            for (size_t h = hash(pk); table_index[h] >= 0; h = (h + 1) & (cap - 1)) {
                if (table_key[h] == pk) {
                    parent[i] = table_index[h];
                    break;
                }
            }
        }
        // A scanner that reported a folder inside itself must not make the file unreadable.
        BreakParentCycles(parent);

        std::array<uint8_t, kHeaderBytes> header = store.Header();
        PutU32(header.data(), kFormatStamp);
        PutU32(header.data() + 4, static_cast<uint32_t>(count));
        if (stamp_time) {
            PutU32(header.data() + 8, now);
        }
        std::vector<uint8_t> drives(kDriveTableBytes);
        std::vector<uint8_t> names;
        uint32_t start = 0;
        for (size_t d = 0; d < kDriveSlotCount; ++d) {
            const DriveSlot& slot = store.Drive(static_cast<uint32_t>(d));
            const uint32_t len = static_cast<uint32_t>(slot.display_name.size());
            WriteDriveSlot(drives.data() + d * kSlotBytes, slot, len ? start : 0, len);
            for (char16_t c : slot.display_name) {
                names.push_back(static_cast<uint8_t>(c));
                names.push_back(static_cast<uint8_t>(c >> 8));
            }
            start += len;
        }
        ok = ok && frs.Write(header.data(), header.size());
        ok = ok && frs.Write(drives.data(), drives.size());
        constexpr size_t kChunkRecords = (4u << 20) / kRecordBytes;
        std::vector<uint8_t> chunk(kChunkRecords * kRecordBytes);
        for (size_t i = 0; i < count && ok; i += kChunkRecords) {
            const size_t n = std::min(kChunkRecords, count - i);
            uint8_t* rec = chunk.data();
            for (size_t j = i; j < i + n; ++j, rec += kRecordBytes) {
                PutU64(rec, keys[j]);
                PutU32(rec + 8, static_cast<uint32_t>(parent[j]));
                PutU32(rec + 12, times[j]);
                PutU32(rec + 16, static_cast<uint32_t>(sizes[j]));
            }
            ok = frs.Write(chunk.data(), n * kRecordBytes);
        }
        ok = ok && frs.Write(names.data(), names.size());
        std::vector<uint8_t> volumes(kVolumeTableBytes);
        for (size_t v = 0; v < kVolumeSlotCount; ++v) {
            WriteVolumeSlot(volumes.data() + v * kSlotBytes,
                            store.Volume(static_cast<uint32_t>(v)));
        }
        ok = ok && frs.Write(volumes.data(), volumes.size());
        if (ok) {
            std::memcpy(store.Header().data(), header.data(), header.size());
        }
    }
    StatusOut(u"Dump file records. (%d ms)\n", MsSince(t0));

    // Each file is replaced in one step; the hidden list follows the new record order, so it
    // is replaced only once the records are in place.
    if (ok) {
        ok = nrs.Commit() && frs.Commit();
    } else {
        nrs.Discard();
        frs.Discard();
    }
    if (ok) {
        ok = RewriteHiddenList(a);
    }
    for (const char16_t* leftover :
         {u"kavo.nrs.old", u"kavo.nrs.tmp", u"kavo.frs.old", u"kavo.frs.tmp"}) {
        const std::u16string p = folder + leftover;
        if (platform::FileExists(p)) {
            platform::RemoveFile(p);
        }
    }
    return ok;
}

std::u16string ReadFormatVersion(const std::u16string& folder) {
    std::optional<std::vector<uint8_t>> head = platform::ReadFilePrefix(folder + kFrsFileName, 4);
    if (!head || head->size() < 4) {
        return {};
    }
    return Format(u"%d.%d.%d", (*head)[1], (*head)[2], (*head)[3]);
}

}  // namespace kavo

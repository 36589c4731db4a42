#include "database/loaded_database.h"

#include <algorithm>
#include <cstring>

#include "base/case_map.h"
#include "database/database_files.h"
#include "database/db_format.h"
#include "platform/file.h"

namespace kavo {

using namespace dbformat;

class LoadedDatabaseLoader {
  public:
    static DbStatus Fill(LoadedDatabase& db,
                         std::span<const uint8_t> frs,
                         std::span<const uint8_t> nrs,
                         std::span<const uint8_t> hid);

  private:
    static void MarkOrphans(LoadedDatabase& db);
};

namespace {

std::span<const uint8_t> View(const std::vector<uint8_t>* v) {
    return v ? std::span<const uint8_t>(*v) : std::span<const uint8_t>();
}

// For every record, whether it or an ancestor is marked in `seed`; walks each chain once.
// `state`: 0 unknown, 1 below a seed, 2 not below.
void MarkBelow(std::span<const int32_t> parent,
               const std::vector<uint8_t>& seed,
               std::vector<uint8_t>& state) {
    const size_t n = parent.size();
    state.assign(n, 0);
    std::vector<int32_t> path;
    for (size_t i = 0; i < n; ++i) {
        int32_t r = static_cast<int32_t>(i);
        path.clear();
        uint8_t found = 2;
        while (r >= 0) {
            const size_t u = static_cast<size_t>(r);
            if (state[u] != 0) {
                found = state[u];
                break;
            }
            if (seed[u]) {
                found = 1;
                break;
            }
            path.push_back(r);
            r = parent[u];
        }
        if (r >= 0 && seed[static_cast<size_t>(r)]) {
            state[static_cast<size_t>(r)] = 1;
        }
        for (int32_t p : path) {
            state[static_cast<size_t>(p)] = found;
        }
    }
}

}  // namespace

LoadedDatabase::LoadedDatabase() = default;
LoadedDatabase::~LoadedDatabase() = default;

DbStatus LoadedDatabaseLoader::Fill(LoadedDatabase& db,
                                    std::span<const uint8_t> frs_bytes,
                                    std::span<const uint8_t> nrs_bytes,
                                    std::span<const uint8_t> hid_bytes) {
    Frs f;
    DbStatus status = ParseFrs(frs_bytes, f);
    if (!status.Ok()) {
        return status;
    }
    if (frs_bytes.empty() || nrs_bytes.empty()) {
        // A missing half is an empty database; the drive names of a present kavo.frs
        // still show.
        for (size_t d = 0; d < kDriveSlotCount && f.drive_table; ++d) {
            ReadDriveSlot(f.drive_table + d * kSlotBytes, db.drives_[d]);
            db.drives_[d].display_name = f.drive_names[d];
        }
        db.database_time_ = f.database_time;
        return DbStatus{DbStatus::Code::kMissing, {}};
    }
    uint32_t names = 0, folder_names = 0, folder_records = 0;
    status = CheckNrs(nrs_bytes, f.record_count, &names, &folder_names, &folder_records);
    if (!status.Ok()) {
        return status;
    }
    const size_t n = f.record_count;
    std::vector<int32_t> parent(n);
    for (uint32_t i = 0; i < n; ++i) {
        parent[i] = ParentAt(f, i);
    }
    status = CheckParents(parent, folder_records);
    if (!status.Ok()) {
        return status;
    }

    db.record_count_ = static_cast<int32_t>(n);
    db.folder_record_count_ = static_cast<int32_t>(folder_records);
    db.folder_name_count_ = static_cast<int32_t>(folder_names);
    db.database_time_ = f.database_time;
    for (size_t d = 0; d < kDriveSlotCount; ++d) {
        ReadDriveSlot(f.drive_table + d * kSlotBytes, db.drives_[d]);
        db.drives_[d].display_name = f.drive_names[d];
    }
    db.parent_ = std::move(parent);
    db.time_.resize(n);
    db.size_.resize(n);
    db.drive_.resize(n);
    db.key_.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* r = f.records + kRecordBytes * i;
        db.key_[i] = U64(r);
        db.drive_[i] = r[4];
        db.time_[i] = U32(r + 12);
        db.size_[i] = static_cast<SizeCode>(U32(r + 16));
    }

    // Name text: per entry the flag unit, the lower name, a zero, the capital positions.
    size_t units = 0;
    ForEachNrsItem(nrs_bytes, f.record_count, [&](const NrsItem& it) {
        units += static_cast<size_t>(it.length) + 2 + it.upper_count;
    });
    db.text_.resize(units);
    db.entries_.resize(names);
    db.name_of_.resize(n);
    char16_t* out = db.text_.data();
    uint32_t e = 0;
    ForEachNrsItem(nrs_bytes, f.record_count, [&](const NrsItem& it) {
        NameEntry& ne = db.entries_[e];
        ne.text = static_cast<uint32_t>(out - db.text_.data());
        ne.bits = it.bits;
        ne.first = it.first;
        ne.count = it.count;
        ne.length = it.length;
        ne.upper_count = it.upper_count;
        ne.wide = it.wide;
        ne.is_folder = it.IsFolder() ? 1 : 0;
        const uint32_t name_units = it.length + 1u;
        if (it.wide) {
            for (uint32_t u = 0; u < name_units; ++u) {
                out[u] = it.Unit(u);
            }
        } else {
            for (uint32_t u = 0; u < name_units; ++u) {
                out[u] = it.key[u];
            }
        }
        out += name_units;
        *out++ = 0;
        for (uint32_t u = 0; u < it.upper_count; ++u) {
            *out++ = it.Unit(it.length + 2u + u);
        }
        std::fill(db.name_of_.begin() + it.first, db.name_of_.begin() + it.first + it.count,
                  static_cast<int32_t>(e));
        ++e;
    });

    db.hidden_ = std::make_unique<std::atomic<uint8_t>[]>(n);
    MarkOrphans(db);
    for (const HidEntry& h : ParseHid(hid_bytes)) {
        if (h.index >= 0 && static_cast<size_t>(h.index) < n) {
            db.hidden_[static_cast<size_t>(h.index)].store(h.flag, std::memory_order_relaxed);
        }
    }
    return {};
}

void LoadedDatabaseLoader::MarkOrphans(LoadedDatabase& db) {
    const size_t n = static_cast<size_t>(db.record_count_);
    std::vector<uint8_t> seed(n, 0);
    bool any = false;
    for (size_t i = 0; i < n; ++i) {
        if (db.parent_[i] != -1) {
            continue;
        }
        const std::u16string_view name = db.LowerNameOfRecord(static_cast<int32_t>(i));
        if (name.size() < 2 || name[1] != u':') {
            seed[i] = 1;
            any = true;
        }
    }
    if (!any) {
        return;
    }
    std::vector<uint8_t> state;
    MarkBelow(db.parent_, seed, state);
    for (size_t i = 0; i < n; ++i) {
        if (state[i] == 1) {
            db.hidden_[i].store(kHiddenByUser, std::memory_order_relaxed);
        }
    }
}

std::unique_ptr<LoadedDatabase> LoadedDatabase::LoadFromBytes(const std::vector<uint8_t>* frs,
                                                              const std::vector<uint8_t>* nrs,
                                                              const std::vector<uint8_t>* hid,
                                                              DbStatus* status) {
    auto db = std::make_unique<LoadedDatabase>();
    DbStatus st = LoadedDatabaseLoader::Fill(*db, View(frs), View(nrs), View(hid));
    if (!st.Ok()) {
        // Whatever a failed check left behind is dropped; the drive table of a merely
        // missing half is kept.
        std::array<DriveSlot, kDriveSlotCount> drives = db->drives_;
        const PackedTime time = db->database_time_;
        db = std::make_unique<LoadedDatabase>();
        if (!st.Damaged()) {
            db->drives_ = drives;
            db->database_time_ = time;
        }
    }
    if (status) {
        *status = st;
    }
    return db;
}

std::unique_ptr<LoadedDatabase> LoadedDatabase::Load(const std::u16string& folder,
                                                     DbStatus* status) {
    std::optional<std::vector<uint8_t>> frs = platform::ReadWholeFile(folder + kFrsFileName);
    std::optional<std::vector<uint8_t>> nrs;
    if (frs && !frs->empty()) {
        nrs = platform::ReadWholeFile(folder + kNrsFileName);
    }
    std::optional<std::vector<uint8_t>> hid;
    if (nrs && !nrs->empty()) {
        hid = platform::ReadWholeFile(folder + kHidFileName);
    }
    return LoadFromBytes(frs ? &*frs : nullptr, nrs ? &*nrs : nullptr, hid ? &*hid : nullptr,
                         status);
}

std::u16string LoadedDatabase::EntryName(int32_t n) const {
    return RestoreCapitals(LowerName(n), UpperPositions(n));
}

namespace {

// Builds a path backwards into a 512-unit buffer. Returns the start within the buffer.
template <typename PartFn>
size_t BuildPath(const LoadedDatabase& db,
                 int32_t r,
                 bool folder_slash,
                 char16_t* buf,
                 PartFn&& part) {
    size_t pos = kPathBufferUnits - 1;  // one unit kept free, as in a terminated buffer
    buf[pos] = 0;
    if (folder_slash && db.IsFolder(r)) {
        buf[--pos] = u'\\';
    }
    int32_t cur = r;
    bool first = true;
    size_t guard = 0;
    while (cur >= 0 && guard++ <= static_cast<size_t>(db.RecordCount())) {
        const int32_t e = db.NameEntryOf(cur);
        const size_t len = db.Entry(e).length;
        const size_t need = len + (first ? 0 : 1);
        if (need > pos) {
            break;  // the next part does not fit: keep what was built
        }
        if (!first) {
            buf[--pos] = u'\\';
        }
        pos -= len;
        part(e, buf + pos);
        first = false;
        cur = db.Parent(cur);
    }
    return pos;
}

}  // namespace

std::u16string LoadedDatabase::PathOfRecord(int32_t r, bool folder_slash) const {
    if (r < 0 || r >= record_count_) {
        return {};
    }
    char16_t buf[kPathBufferUnits];
    const size_t pos = BuildPath(*this, r, folder_slash, buf, [this](int32_t e, char16_t* dst) {
        const std::u16string_view lower = LowerName(e);
        std::memcpy(dst, lower.data(), lower.size() * sizeof(char16_t));
        for (char16_t p : UpperPositions(e)) {
            if (p >= 1 && p <= lower.size()) {
                dst[p - 1] = UpperUnit(dst[p - 1]);
            }
        }
    });
    return std::u16string(buf + pos, kPathBufferUnits - 1 - pos);
}

std::u16string LoadedDatabase::LowerPathOfRecord(int32_t r) const {
    if (r < 0 || r >= record_count_) {
        return {};
    }
    char16_t buf[kPathBufferUnits];
    const size_t pos = BuildPath(*this, r, true, buf, [this](int32_t e, char16_t* dst) {
        const std::u16string_view lower = LowerName(e);
        std::memcpy(dst, lower.data(), lower.size() * sizeof(char16_t));
    });
    return std::u16string(buf + pos, kPathBufferUnits - 1 - pos);
}

int32_t LoadedDatabase::RootOfRecord(int32_t r) const {
    if (r < 0 || r >= record_count_) {
        return -1;
    }
    // Parent chains were checked at load: they end.
    while (parent_[static_cast<size_t>(r)] >= 0) {
        r = parent_[static_cast<size_t>(r)];
    }
    return r;
}

std::u16string_view LoadedDatabase::ExtensionOfRecord(int32_t r) const {
    if (IsFolder(r)) {
        return {};
    }
    const std::u16string_view name = LowerNameOfRecord(r);
    const size_t dot = name.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        return {};
    }
    return name.substr(dot + 1);
}

size_t LoadedDatabase::AncestorChain(int32_t r, std::array<int32_t, kMaxChainDepth>& chain) const {
    if (r < 0 || r >= record_count_) {
        return 0;
    }
    size_t depth = 0;
    for (int32_t c = r; c >= 0; c = parent_[static_cast<size_t>(c)]) {
        ++depth;
    }
    // Deeper than the buffer: skip the levels nearest the record.
    int32_t c = r;
    for (size_t skip = depth > kMaxChainDepth ? depth - kMaxChainDepth : 0; skip > 0; --skip) {
        c = parent_[static_cast<size_t>(c)];
    }
    const size_t count = std::min(depth, kMaxChainDepth);
    for (size_t i = count; i > 0; --i) {
        chain[i - 1] = name_of_[static_cast<size_t>(c)];
        c = parent_[static_cast<size_t>(c)];
    }
    return count;
}

void LoadedDatabase::BuildFolderRanks() const {
    const size_t folders = static_cast<size_t>(folder_record_count_);
    folder_ranks_.assign(folders, 0);
    // Children of each folder in record order, which is name-entry order.
    std::vector<uint32_t> start(folders + 1, 0);
    for (size_t i = 0; i < folders; ++i) {
        const int32_t p = parent_[i];
        if (p >= 0) {
            ++start[static_cast<size_t>(p) + 1];
        }
    }
    for (size_t i = 0; i < folders; ++i) {
        start[i + 1] += start[i];
    }
    std::vector<uint32_t> child(start[folders]);
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t i = 0; i < folders; ++i) {
        const int32_t p = parent_[i];
        if (p >= 0) {
            child[fill[static_cast<size_t>(p)]++] = static_cast<uint32_t>(i);
        }
    }
    // Preorder from the roots: an ancestor before its descendants, siblings by name entry,
    // which is the order of the ancestor chains.
    uint32_t next = 1;  // 0 is the empty chain of records without a parent
    std::vector<std::pair<uint32_t, uint32_t>> stack;  // folder, next child position
    for (size_t root = 0; root < folders; ++root) {
        if (parent_[root] >= 0) {
            continue;
        }
        folder_ranks_[root] = next++;
        stack.push_back({static_cast<uint32_t>(root), start[root]});
        while (!stack.empty()) {
            auto& [f, pos] = stack.back();
            if (pos == start[f + 1]) {
                stack.pop_back();
                continue;
            }
            const uint32_t c = child[pos++];
            folder_ranks_[c] = next++;
            stack.push_back({c, start[c]});
        }
    }
}

int LoadedDatabase::CompareFolderPaths(int32_t a, int32_t b) const {
    std::call_once(ranks_once_, [this] { BuildFolderRanks(); });
    auto rank = [this](int32_t r) -> uint32_t {
        const int32_t p = parent_[static_cast<size_t>(r)];
        return p < 0 ? 0 : folder_ranks_[static_cast<size_t>(p)];
    };
    const uint32_t ra = rank(a);
    const uint32_t rb = rank(b);
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

void LoadedDatabase::BuildFolderTotals() const {
    const size_t folders = static_cast<size_t>(folder_record_count_);
    folder_sizes_.assign(folders, 0);
    folder_files_.assign(folders, 0);
    for (size_t i = folders; i < static_cast<size_t>(record_count_); ++i) {
        const int32_t p = parent_[i];
        if (p >= 0) {
            folder_sizes_[static_cast<size_t>(p)] += SizeCodeToBytes(size_[i]);
            ++folder_files_[static_cast<size_t>(p)];
        }
    }
    // Children before parents: reverse preorder.
    std::call_once(ranks_once_, [this] { BuildFolderRanks(); });
    std::vector<uint32_t> by_rank(folders + 1, UINT32_MAX);
    for (size_t i = 0; i < folders; ++i) {
        by_rank[folder_ranks_[i]] = static_cast<uint32_t>(i);
    }
    for (size_t k = folders + 1; k-- > 1;) {
        const uint32_t f = by_rank[k];
        if (f == UINT32_MAX) {
            continue;
        }
        const int32_t p = parent_[f];
        if (p >= 0) {
            folder_sizes_[static_cast<size_t>(p)] += folder_sizes_[f];
            folder_files_[static_cast<size_t>(p)] += folder_files_[f];
        }
    }
}

int64_t LoadedDatabase::FolderSize(int32_t folder) const {
    if (folder < 0 || folder >= folder_record_count_) {
        return 0;
    }
    std::call_once(totals_once_, [this] { BuildFolderTotals(); });
    return folder_sizes_[static_cast<size_t>(folder)];
}

std::span<const int64_t> LoadedDatabase::FolderSizes() const {
    std::call_once(totals_once_, [this] { BuildFolderTotals(); });
    return folder_sizes_;
}

uint32_t LoadedDatabase::FolderFileCount(int32_t folder) const {
    if (folder < 0 || folder >= folder_record_count_) {
        return 0;
    }
    std::call_once(totals_once_, [this] { BuildFolderTotals(); });
    return folder_files_[static_cast<size_t>(folder)];
}

void LoadedDatabase::SetHidden(int32_t r, uint8_t mark) {
    if (r < 0 || r >= record_count_) {
        return;
    }
    hidden_[static_cast<size_t>(r)].store(mark, std::memory_order_relaxed);
    if (!IsFolder(r)) {
        return;
    }
    const size_t n = static_cast<size_t>(record_count_);
    std::vector<uint8_t> seed(n, 0);
    seed[static_cast<size_t>(r)] = 1;
    std::vector<uint8_t> state;
    MarkBelow(parent_, seed, state);
    for (size_t i = 0; i < n; ++i) {
        if (state[i] == 1) {
            hidden_[i].store(mark, std::memory_order_relaxed);
        }
    }
}

void LoadedDatabase::Unhide(int32_t r) {
    if (r >= 0 && r < record_count_) {
        hidden_[static_cast<size_t>(r)].store(0, std::memory_order_relaxed);
    }
}

bool LoadedDatabase::SaveHiddenList(const std::u16string& folder) const {
    std::vector<HidEntry> entries;
    for (int32_t i = 0; i < record_count_; ++i) {
        const uint8_t m = HiddenMark(i);
        if (m != 0) {
            entries.push_back({i, m});
        }
    }
    if (entries.empty()) {
        return true;
    }
    const std::vector<uint8_t> bytes = MakeHid(entries);
    return platform::WriteWholeFile(folder + kHidFileName, bytes.data(), bytes.size());
}

const std::u16string& LoadedDatabase::DriveDisplayName(char16_t letter) const {
    static const std::u16string kNone;
    const char16_t u = UpperUnit(letter);
    if (u < u'A' || u > u'Z') {
        return kNone;
    }
    return drives_[static_cast<size_t>(u - u'A')].display_name;
}

std::pair<int32_t, int32_t> LoadedDatabase::FindNameEntries(std::u16string_view lower_name,
                                                            bool folders) const {
    const int32_t lo = folders ? 0 : folder_name_count_;
    const int32_t hi = folders ? folder_name_count_ : NameCount();
    auto less = [this](int32_t e, std::u16string_view v) { return LowerName(e) < v; };
    int32_t a = lo, b = hi;
    while (a < b) {  // first entry not less than the name
        const int32_t m = a + (b - a) / 2;
        if (less(m, lower_name)) {
            a = m + 1;
        } else {
            b = m;
        }
    }
    int32_t end = a;
    while (end < hi && LowerName(end) == lower_name) {
        ++end;
    }
    return {a, end};
}

int32_t LoadedDatabase::RecordOfPath(std::u16string_view path, bool files_too) const {
    std::u16string lower = Lower(path);
    while (!lower.empty() && lower.back() == u'\\') {
        lower.pop_back();
    }
    if (lower.empty()) {
        return -1;
    }
    int32_t current = -1;
    size_t pos = 0;
    while (pos <= lower.size()) {
        size_t end = lower.find(u'\\', pos);
        if (end == std::u16string::npos) {
            end = lower.size();
        }
        const std::u16string_view part = std::u16string_view(lower).substr(pos, end - pos);
        const bool last = end == lower.size();
        int32_t found = -1;
        for (int pass = 0; pass < (last && files_too ? 2 : 1) && found < 0; ++pass) {
            const auto [first, stop] = FindNameEntries(part, pass == 0);
            for (int32_t e = first; e < stop && found < 0; ++e) {
                const NameEntry& ne = Entry(e);
                for (int32_t k = ne.first; k < ne.first + ne.count; ++k) {
                    if (parent_[static_cast<size_t>(k)] == current) {
                        found = k;
                        break;
                    }
                }
            }
        }
        if (found < 0) {
            return -1;
        }
        current = found;
        pos = end + 1;
    }
    return current;
}

size_t LoadedDatabase::ResidentBytesWithoutNames() const {
    size_t b = sizeof(*this);
    b += parent_.capacity() * sizeof(int32_t) + time_.capacity() * sizeof(PackedTime) +
         size_.capacity() * sizeof(SizeCode) + drive_.capacity() +
         key_.capacity() * sizeof(RecordKey) + name_of_.capacity() * sizeof(int32_t);
    b += static_cast<size_t>(record_count_);  // hidden marks
    b += entries_.capacity() * sizeof(NameEntry);
    b += folder_sizes_.capacity() * sizeof(int64_t) + folder_files_.capacity() * sizeof(uint32_t) +
         folder_ranks_.capacity() * sizeof(uint32_t);
    for (const DriveSlot& d : drives_) {
        b += d.display_name.capacity() * sizeof(char16_t);
    }
    return b;
}

bool DatabasePresent(const std::u16string& folder) {
    return platform::FileExists(folder + kFrsFileName) &&
           platform::FileExists(folder + kNrsFileName);
}

bool AnyDatabaseFilePresent(const std::u16string& folder) {
    return platform::FileExists(folder + kFrsFileName) ||
           platform::FileExists(folder + kNrsFileName);
}

}  // namespace kavo

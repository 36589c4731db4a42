// The orders of the result list. Every order ends with the record index as its last tie-
// break (in the key's direction), so that an order is one fixed permutation whatever sort
// algorithm produces it; since the records of one name are consecutive and names are in
// order, the record index also gives the name order.

#include <algorithm>
#include <thread>

#include "search/matchers.h"
#include "search/search_engine.h"

namespace kavo {

namespace {

uint64_t SizeCodeRank(SizeCode s) {
    // Every byte count before every KiB count; each group by magnitude.
    return s >= 0 ? static_cast<uint64_t>(s)
                  : (uint64_t{1} << 31) + static_cast<uint64_t>(-static_cast<int64_t>(s));
}

int64_t FileCountOf(const LoadedDatabase& db, int32_t r) {
    return db.IsFolder(r) ? static_cast<int64_t>(db.FolderFileCount(r)) : -1;
}

uint32_t DigestKeyOf(const DigestInformation* d, int32_t r) {
    return d ? d->DigestKey(r) : 0;
}

uint32_t DupCountOf(const DigestInformation* d, int32_t r) {
    return d ? d->DuplicateCount(r) : 0;
}

// Folders before files, then the extension by code unit; 0 when equal.
int CompareExt(const LoadedDatabase& db, int32_t a, int32_t b) {
    const bool fa = db.IsFolder(a);
    const bool fb = db.IsFolder(b);
    if (fa != fb) {
        return fa ? -1 : 1;
    }
    const std::u16string_view ea = db.ExtensionOfRecord(a);
    const std::u16string_view eb = db.ExtensionOfRecord(b);
    const int c = ea.compare(eb);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

template <typename T>
int Cmp(T a, T b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// The single-key value comparison of the plain algorithm (no tie-break).
int CompareSingle(const LoadedDatabase& db,
                  const DigestInformation* d,
                  uint32_t key,
                  bool show_folder_size,
                  int32_t a,
                  int32_t b) {
    switch (key) {
        case kSortName:
            return 0;
        case kSortExt:
            return CompareExt(db, a, b);
        case kSortSize:
            return show_folder_size ? Cmp(RecordSizeBytes(db, a), RecordSizeBytes(db, b))
                                    : Cmp(SizeCodeRank(db.Size(a)), SizeCodeRank(db.Size(b)));
        case kSortDate:
            return Cmp(static_cast<int32_t>(db.Time(a)), static_cast<int32_t>(db.Time(b)));
        case kSortHash:
            return Cmp(DigestKeyOf(d, a), DigestKeyOf(d, b));
        case kSortDupCount: {
            const int c = Cmp(DupCountOf(d, a), DupCountOf(d, b));
            return c != 0 ? c : Cmp(DigestKeyOf(d, a), DigestKeyOf(d, b));
        }
        case kSortFileCount:
            return Cmp(FileCountOf(db, a), FileCountOf(db, b));
        case kSortPath: {
            const int c = db.CompareFolderPaths(a, b);
            return c < 0 ? -1 : c > 0 ? 1 : 0;
        }
        default:
            return 0;
    }
}

// The per-key value comparison of the multi-key order.
int CompareMultiKey(const LoadedDatabase& db,
                    const DigestInformation* d,
                    uint32_t key,
                    int32_t a,
                    int32_t b) {
    switch (key) {
        case kSortName:
            return Cmp(db.NameEntryOf(a), db.NameEntryOf(b));
        case kSortExt:
            return CompareExt(db, a, b);
        case kSortSize:
            return Cmp(RecordSizeBytes(db, a), RecordSizeBytes(db, b));
        case kSortDate:
            return Cmp(static_cast<int32_t>(db.Time(a)), static_cast<int32_t>(db.Time(b)));
        case kSortHash:
            return Cmp(DigestKeyOf(d, a), DigestKeyOf(d, b));
        case kSortDupCount:
            return Cmp(DupCountOf(d, a), DupCountOf(d, b));
        case kSortFileCount:
            return Cmp(FileCountOf(db, a), FileCountOf(db, b));
        case kSortPath: {
            const int c = db.CompareFolderPaths(a, b);
            return c < 0 ? -1 : c > 0 ? 1 : 0;
        }
        default:
            return 0;
    }
}

void SortReferenceSingle(const LoadedDatabase& db,
                         const DigestInformation* d,
                         std::vector<int32_t>& v,
                         const SortKey& k,
                         bool show_folder_size) {
    auto ascending = [&](int32_t a, int32_t b) {
        const int c = CompareSingle(db, d, k.key, show_folder_size, a, b);
        if (c != 0) {
            return c < 0;
        }
        const int n = Cmp(db.NameEntryOf(a), db.NameEntryOf(b));
        return n != 0 ? n < 0 : a < b;
    };
    if (k.ascending) {
        std::sort(v.begin(), v.end(), ascending);
    } else {
        std::sort(v.begin(), v.end(), [&](int32_t a, int32_t b) { return ascending(b, a); });
    }
}

struct Keyed {
    uint64_t key;
    int32_t record;
};

// Sorts by precomputed keys, the two halves on two threads when there is much to sort.
void SortKeyed(std::vector<Keyed>& items) {
    auto less = [](const Keyed& a, const Keyed& b) {
        return a.key != b.key ? a.key < b.key : a.record < b.record;
    };
    if (items.size() < 65536 || std::thread::hardware_concurrency() < 2) {
        std::sort(items.begin(), items.end(), less);
        return;
    }
    const auto mid = items.begin() + static_cast<ptrdiff_t>(items.size() / 2);
    std::thread half([&] { std::sort(items.begin(), mid, less); });
    std::sort(mid, items.end(), less);
    half.join();
    std::inplace_merge(items.begin(), mid, items.end(), less);
}

// Least-significant-digit radix sort of `v` on its low `bits` bits, 11 bits a pass.
void RadixSort(std::vector<uint64_t>& v, int bits) {
    constexpr int kDigit = 11;
    constexpr size_t kBuckets = size_t{1} << kDigit;
    std::vector<uint64_t> tmp(v.size());
    std::vector<size_t> count(kBuckets);
    for (int shift = 0; shift < bits; shift += kDigit) {
        std::fill(count.begin(), count.end(), 0);
        for (const uint64_t x : v) {
            ++count[(x >> shift) & (kBuckets - 1)];
        }
        size_t sum = 0;
        for (size_t& c : count) {
            const size_t here = c;
            c = sum;
            sum += here;
        }
        for (const uint64_t x : v) {
            tmp[count[(x >> shift) & (kBuckets - 1)]++] = x;
        }
        v.swap(tmp);
    }
}

int BitWidth(uint64_t x) {
    int n = 0;
    while (x != 0) {
        ++n;
        x >>= 1;
    }
    return n;
}

// The path order depends only on a record's parent folder: the distinct parents are
// ranked once by the ancestor-chain order (equal chains share a rank), and each record's
// value is the rank of its parent.
void PathRanks(const LoadedDatabase& db,
               const std::vector<int32_t>& v,
               std::vector<uint64_t>& values) {
    std::vector<int32_t> slot(static_cast<size_t>(db.FolderRecordCount()) + 1, -1);
    std::vector<int32_t> reps;
    std::vector<int32_t> slot_of(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        const size_t p = static_cast<size_t>(db.Parent(v[i]) + 1);
        if (p >= slot.size()) {
            slot.resize(p + 1, -1);
        }
        if (slot[p] < 0) {
            slot[p] = static_cast<int32_t>(reps.size());
            reps.push_back(v[i]);
        }
        slot_of[i] = slot[p];
    }
    std::vector<int32_t> order(reps.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = static_cast<int32_t>(i);
    }
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        return db.CompareFolderPaths(reps[static_cast<size_t>(a)], reps[static_cast<size_t>(b)]) <
               0;
    });
    std::vector<uint64_t> rank(reps.size());
    uint64_t r = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && db.CompareFolderPaths(reps[static_cast<size_t>(order[i - 1])],
                                           reps[static_cast<size_t>(order[i])]) != 0) {
            ++r;
        }
        rank[static_cast<size_t>(order[i])] = r;
    }
    for (size_t i = 0; i < v.size(); ++i) {
        values[i] = rank[static_cast<size_t>(slot_of[i])];
    }
}

bool SortFastSingle(const LoadedDatabase& db,
                    const DigestInformation* d,
                    std::vector<int32_t>& v,
                    const SortKey& k,
                    bool show_folder_size) {
    if (k.key == kSortName) {
        if (k.ascending) {
            std::sort(v.begin(), v.end());
        } else {
            std::sort(v.begin(), v.end(), [](int32_t a, int32_t b) { return a > b; });
        }
        return true;
    }
    uint64_t (*value)(const LoadedDatabase&, const DigestInformation*, int32_t) = nullptr;
    switch (k.key) {
        case kSortSize:
            if (show_folder_size) {
                value = [](const LoadedDatabase& db, const DigestInformation*, int32_t r) {
                    return RecordSizeBytes(db, r);
                };
            } else {
                value = [](const LoadedDatabase& db, const DigestInformation*, int32_t r) {
                    return SizeCodeRank(db.Size(r));
                };
            }
            break;
        case kSortDate:
            value = [](const LoadedDatabase& db, const DigestInformation*, int32_t r) {
                return static_cast<uint64_t>(db.Time(r) ^ 0x80000000u);
            };
            break;
        case kSortHash:
            value = [](const LoadedDatabase&, const DigestInformation* d, int32_t r) {
                return static_cast<uint64_t>(DigestKeyOf(d, r));
            };
            break;
        case kSortDupCount:
            value = [](const LoadedDatabase&, const DigestInformation* d, int32_t r) {
                return static_cast<uint64_t>(DupCountOf(d, r)) << 32 | DigestKeyOf(d, r);
            };
            break;
        case kSortFileCount:
            value = [](const LoadedDatabase& db, const DigestInformation*, int32_t r) {
                return static_cast<uint64_t>(FileCountOf(db, r) + 1);
            };
            break;
        case kSortPath:
            break;  // ranks of the parent folders, below
        default:
            return false;  // EXT compares records directly
    }
    // When key and record index fit in 64 bits together, one radix sort of the packed
    // values gives the order (key, then record) directly.
    std::vector<uint64_t> values(v.size());
    uint64_t max_value = 0;
    int32_t max_record = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        values[i] = value ? value(db, d, v[i]) : 0;
        max_value = std::max(max_value, values[i]);
        max_record = std::max(max_record, v[i]);
    }
    if (k.key == kSortPath) {
        PathRanks(db, v, values);
        max_value = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    }
    const int record_bits = BitWidth(static_cast<uint64_t>(max_record));
    const int value_bits = BitWidth(max_value);
    if (record_bits + value_bits <= 64 && v.size() >= 256) {
        for (size_t i = 0; i < v.size(); ++i) {
            values[i] =
                (record_bits == 64 ? 0 : values[i] << record_bits) | static_cast<uint64_t>(v[i]);
        }
        RadixSort(values, record_bits + value_bits);
        const uint64_t mask = record_bits == 0 ? 0 : (~uint64_t{0} >> (64 - record_bits));
        const size_t n = v.size();
        for (size_t i = 0; i < n; ++i) {
            v[k.ascending ? i : n - 1 - i] = static_cast<int32_t>(values[i] & mask);
        }
        return true;
    }
    std::vector<Keyed> items(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        items[i] = {values[i], v[i]};
    }
    SortKeyed(items);
    if (k.ascending) {
        for (size_t i = 0; i < v.size(); ++i) {
            v[i] = items[i].record;
        }
    } else {
        const size_t n = v.size();
        for (size_t i = 0; i < n; ++i) {
            v[i] = items[n - 1 - i].record;
        }
    }
    return true;
}

}  // namespace

void SortRecords(const LoadedDatabase& db,
                 const DigestInformation* digest,
                 std::vector<int32_t>& records,
                 const std::vector<SortKey>& keys,
                 bool show_folder_size,
                 bool fast) {
    if (keys.empty()) {
        return;
    }
    if (keys.size() == 1) {
        if (fast && SortFastSingle(db, digest, records, keys[0], show_folder_size)) {
            return;
        }
        SortReferenceSingle(db, digest, records, keys[0], show_folder_size);
        return;
    }
    std::sort(records.begin(), records.end(), [&](int32_t a, int32_t b) {
        for (const SortKey& k : keys) {
            const int c = CompareMultiKey(db, digest, k.key, a, b);
            if (c != 0) {
                return k.ascending ? c < 0 : c > 0;
            }
        }
        return a < b;
    });
}

}  // namespace kavo

// Feeds arbitrary bytes to the database loaders. Input layout: u32 length of kavo.frs, u32
// length of kavo.nrs, then the two files, then kavo.hid (the rest). Lengths beyond the input
// are cut. Every record of a database that loads is then walked through the operations that
// follow parents and names.
//   out/fuzz/bin/db_load_fuzz -max_len=65536 -max_total_time=300 CORPUS_DIR
// Good seeds are small valid databases (kavo-dbbench over a few paths) put in that layout.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "database/database_files.h"
#include "database/loaded_database.h"
#include "database/record_store.h"

using namespace kavo;

namespace {

constexpr size_t kMaxInput = 1 << 20;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void Walk(const LoadedDatabase& db) {
    std::array<int32_t, kMaxChainDepth> chain;
    const int32_t n = db.RecordCount();
    for (int32_t r = 0; r < n; ++r) {
        const std::u16string path = db.PathOfRecord(r, true);
        db.LowerPathOfRecord(r);
        db.NameOfRecord(r);
        db.ExtensionOfRecord(r);
        db.RootOfRecord(r);
        db.AncestorChain(r, chain);
        db.FolderSize(r);
        db.FolderFileCount(r);
        db.CompareFolderPaths(r, n - 1 - r);
        if (r < 64) {
            db.RecordOfPath(path, true);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8 || size > kMaxInput) {
        return 0;
    }
    size_t frs_len = Le32(data), nrs_len = Le32(data + 4);
    const uint8_t* p = data + 8;
    size_t left = size - 8;
    frs_len = frs_len < left ? frs_len : left;
    std::vector<uint8_t> frs(p, p + frs_len);
    p += frs_len;
    left -= frs_len;
    nrs_len = nrs_len < left ? nrs_len : left;
    std::vector<uint8_t> nrs(p, p + nrs_len);
    p += nrs_len;
    left -= nrs_len;
    std::vector<uint8_t> hid(p, p + left);

    DbStatus st;
    auto db = LoadedDatabase::LoadFromBytes(&frs, &nrs, &hid, &st);
    Walk(*db);
    if (db->RecordCount() > 0) {
        db->SetHidden(0, kHiddenByUser);
        db->Unhide(0);
    }
    RecordStore store;
    LoadRecordStoreFromBytes(store, &frs, &nrs);
    return 0;
}

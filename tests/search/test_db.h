// Small databases for the search tests, written through the record store and loaded back
// as a LoadedDatabase, as the programs do.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/database_files.h"
#include "database/loaded_database.h"
#include "database/record_store.h"

namespace kavo::test {

struct Item {
    std::u16string path;  // "C:\dir\file.txt"; a trailing "\" marks a folder; "C:" a root
    int32_t size = 0;
    uint32_t time = 0;
};

// Adds every item (parents first; missing parent folders are added on the way) to a store
// in `folder`, saves it and loads it. Keys: record numbers from 1,024 in order, drive index
// from the letter. `keys_out` receives the key of every path (without trailing "\").
inline std::unique_ptr<LoadedDatabase> MakeDatabase(
    const std::u16string& folder,
    const std::vector<Item>& items,
    std::map<std::u16string, RecordKey>* keys_out = nullptr) {
    RecordStore store;
    LoadRecordStore(folder, store);
    std::map<std::u16string, RecordKey> keys;
    uint32_t next = 1024;
    auto add = [&](const std::u16string& path, bool is_folder, int32_t size, uint32_t time,
                   auto& self) -> RecordKey {
        if (auto it = keys.find(path); it != keys.end()) {
            return it->second;
        }
        const size_t slash = path.rfind(u'\\');
        RecordKey parent = 0;
        std::u16string name = path;
        if (slash != std::u16string::npos) {
            parent = self(path.substr(0, slash), true, 0, 0, self);
            name = path.substr(slash + 1);
        }
        const uint32_t drive = static_cast<uint32_t>((path[0] | 0x20) - u'a');
        const RecordKey key = MakeRecordKey(next++, drive);
        ScanEntry e;
        e.key = key;
        e.parent_key = parent;
        e.time = time;
        e.size = is_folder ? 0 : size;
        e.is_folder = is_folder ? 1 : 0;
        e.name = name;
        store.AddRecord(e);
        keys[path] = key;
        return key;
    };
    for (const Item& it : items) {
        std::u16string p = it.path;
        const bool is_folder = (!p.empty() && p.back() == u'\\') || p.size() == 2;
        if (!p.empty() && p.back() == u'\\') {
            p.pop_back();
        }
        add(p, is_folder, it.size, it.time, add);
    }
    SaveRecordStoreAt(store, false, 0);
    if (keys_out) {
        *keys_out = keys;
    }
    return LoadedDatabase::Load(folder);
}

}  // namespace kavo::test

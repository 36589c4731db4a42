// Small builders shared by the database tests.
#pragma once

#include <string>
#include <vector>

#include "database/database_files.h"
#include "database/loaded_database.h"
#include "database/record_store.h"
#include "platform/file.h"

namespace kavo::test {

inline ScanEntry Entry(RecordKey key,
                       RecordKey parent,
                       std::u16string_view name,
                       bool folder,
                       SizeCode size = 0,
                       PackedTime time = 0) {
    ScanEntry e;
    e.key = key;
    e.parent_key = parent;
    e.name = name;
    e.is_folder = folder ? 1 : 0;
    e.size = size;
    e.time = time;
    return e;
}

// Key of record `n` on drive `letter`.
inline RecordKey K(uint32_t n, char16_t letter = u'C', uint32_t volume = 0) {
    return MakeRecordKey(n, static_cast<uint32_t>(letter - u'A'), volume);
}

inline std::vector<uint8_t> ReadBytes(const std::u16string& path) {
    auto b = platform::ReadWholeFile(path);
    return b ? *b : std::vector<uint8_t>();
}

inline void WriteBytes(const std::u16string& path, const std::vector<uint8_t>& b) {
    platform::WriteWholeFile(path, b.data(), b.size());
}

// Every path of a loaded database, record order.
inline std::vector<std::u16string> AllPaths(const LoadedDatabase& db) {
    std::vector<std::u16string> out;
    for (int32_t r = 0; r < db.RecordCount(); ++r) {
        out.push_back(db.PathOfRecord(r));
    }
    return out;
}

}  // namespace kavo::test

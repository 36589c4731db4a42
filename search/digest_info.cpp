#include "search/digest_info.h"

#include <map>
#include <memory>
#include <unordered_map>

#include "digestor/hash_file.h"

namespace kavo {

void DigestInformation::Load(std::span<const RecordKey> keys, const std::u16string& hash_path) {
    Free();
    if (keys.empty()) {
        return;
    }
    digest_keys_.assign(keys.size(), 0);
    duplicate_counts_.assign(keys.size(), 0);
    const HashFile file = ReadHashFile(hash_path);
    const size_t n = file.entries.size();
    if (n == 0) {
        return;
    }
    std::unordered_map<RecordKey, int32_t> record_of_key;
    record_of_key.reserve(keys.size());
    for (size_t r = 0; r < keys.size(); ++r) {
        record_of_key.emplace(keys[r], static_cast<int32_t>(r));
    }
    struct Group {
        uint32_t number = 0;
        std::vector<int32_t> members;
    };
    std::map<Md5Digest, Group> groups;
    std::vector<uint8_t> single(keys.size(), 0);
    uint32_t next_group = 1;
    for (size_t i = 0; i < n; ++i) {
        const HashEntry& e = file.entries[i];
        const auto it = record_of_key.find(e.key);
        if (it == record_of_key.end()) {
            continue;
        }
        const size_t r = static_cast<size_t>(it->second);
        if (e.partial == 0) {
            digest_keys_[r] = 0;
            continue;
        }
        if (!e.HasFullDigest()) {
            digest_keys_[r] = static_cast<uint32_t>(i);
            continue;
        }
        auto [g, added] = groups.try_emplace(e.full);
        if (added) {
            g->second.number = next_group++;
            single[r] = 1;
        } else if (g->second.members.size() == 1) {
            single[static_cast<size_t>(g->second.members[0])] = 0;
        }
        g->second.members.push_back(static_cast<int32_t>(r));
        digest_keys_[r] = kSharedDigestBase + g->second.number;
    }
    for (size_t r = 0; r < keys.size(); ++r) {
        if (single[r]) {
            digest_keys_[r] = static_cast<uint32_t>(r + n);
        }
    }
    for (const auto& [digest, g] : groups) {
        if (g.members.size() >= 2) {
            const uint16_t count =
                static_cast<uint16_t>(g.members.size() > 0xFFFF ? 0xFFFF : g.members.size());
            for (const int32_t r : g.members) {
                duplicate_counts_[static_cast<size_t>(r)] = count;
            }
        }
    }
}

void DigestInformation::Free() {
    std::vector<uint32_t>().swap(digest_keys_);
    std::vector<uint16_t>().swap(duplicate_counts_);
}

namespace {

std::unique_ptr<DigestInformation>& Slot() {
    static std::unique_ptr<DigestInformation> info;
    return info;
}

}  // namespace

DigestInformation* CurrentDigestInformation() {
    return Slot().get();
}

void LoadDigestInformation(std::span<const RecordKey> keys, const std::u16string& database_folder) {
    if (!Slot()) {
        Slot() = std::make_unique<DigestInformation>();
    }
    Slot()->Load(keys, database_folder + kHashFileName);
}

void ReloadDigestInformation(std::span<const RecordKey> keys,
                             const std::u16string& database_folder) {
    if (Slot()) {
        Slot()->Load(keys, database_folder + kHashFileName);
    }
}

void FreeDigestInformation() {
    if (Slot()) {
        Slot()->Free();
    }
}

}  // namespace kavo

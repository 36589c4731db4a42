#include "digestor/hash_file.h"

#include <xxhash.h>

#include <algorithm>
#include <cstring>

#include "platform/file.h"

namespace kavo {

namespace {

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void Put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void EncodeEntry(const HashEntry& e, uint8_t* p) {
    Put32(p, static_cast<uint32_t>(e.key));
    Put32(p + 4, static_cast<uint32_t>(e.key >> 32));
    Put32(p + 8, e.time);
    Put32(p + 12, static_cast<uint32_t>(e.size));
    Put32(p + 16, e.partial);
    std::memcpy(p + 20, e.full.data(), 16);
}

HashEntry DecodeEntry(const uint8_t* p) {
    HashEntry e;
    e.key = Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32;
    e.time = Get32(p + 8);
    e.size = static_cast<int32_t>(Get32(p + 12));
    e.partial = Get32(p + 16);
    std::memcpy(e.full.data(), p + 20, 16);
    return e;
}

}  // namespace

bool HashEntry::HasFullDigest() const {
    return std::any_of(full.begin(), full.end(), [](uint8_t b) { return b != 0; });
}

HashFile ReadHashFile(const std::u16string& path) {
    HashFile file;
    const auto bytes = platform::ReadWholeFile(path);
    if (!bytes || bytes->empty()) {
        return file;
    }
    const std::vector<uint8_t>& b = *bytes;
    if (b.size() >= 4) {
        file.version = Get32(b.data());
    }
    if (b.size() < kHashCountOffset + 4) {
        return file;
    }
    const uint64_t count = Get32(b.data() + kHashCountOffset);
    const uint64_t present = (b.size() - kHashCountOffset - 4) / kHashEntryBytes;
    const uint64_t n = std::min(count, present);
    file.entries.reserve(static_cast<size_t>(n));
    const uint8_t* p = b.data() + kHashCountOffset + 4;
    for (uint64_t i = 0; i < n; ++i, p += kHashEntryBytes) {
        file.entries.push_back(DecodeEntry(p));
    }
    return file;
}

bool WriteHashFile(const std::u16string& path,
                   const std::vector<HashEntry>& old_kept,
                   const std::vector<HashEntry>& new_entries) {
    platform::FileWriter w;
    if (!w.Open(path)) {
        return false;
    }
    std::vector<uint8_t> head(kHashCountOffset + 4, 0);
    Put32(head.data(), kHashFileVersion);
    const uint64_t total = old_kept.size() + new_entries.size();
    if (total > 0xFFFFFFFFu) {
        return false;
    }
    // The count is known before the entries, so it is written in place at once rather
    // than patched afterwards.
    Put32(head.data() + kHashCountOffset, static_cast<uint32_t>(total));
    if (!w.Write(head.data(), head.size())) {
        return false;
    }
    std::vector<uint8_t> chunk;
    chunk.reserve(kHashWriteChunkEntries * kHashEntryBytes);
    auto add = [&](const HashEntry& e) {
        const size_t at = chunk.size();
        chunk.resize(at + kHashEntryBytes);
        EncodeEntry(e, chunk.data() + at);
        if (chunk.size() == kHashWriteChunkEntries * kHashEntryBytes) {
            const bool ok = w.Write(chunk.data(), chunk.size());
            chunk.clear();
            return ok;
        }
        return true;
    };
    for (auto it = old_kept.rbegin(); it != old_kept.rend(); ++it) {
        if (!add(*it)) {
            return false;
        }
    }
    for (const HashEntry& e : new_entries) {
        if (!add(e)) {
            return false;
        }
    }
    if (!chunk.empty() && !w.Write(chunk.data(), chunk.size())) {
        return false;
    }
    return w.Commit();
}

std::unordered_map<uint64_t, Md5Digest> ReadMd5sFile(const std::u16string& path) {
    std::unordered_map<uint64_t, Md5Digest> table;
    const auto bytes = platform::ReadWholeFile(path);
    if (!bytes || bytes->size() < 4) {
        return table;
    }
    const std::vector<uint8_t>& b = *bytes;
    const uint64_t count = Get32(b.data());
    const uint64_t n = std::min<uint64_t>(count, (b.size() - 4) / 24);
    const uint8_t* p = b.data() + 4;
    for (uint64_t i = 0; i < n; ++i, p += 24) {
        const uint64_t key = Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32;
        Md5Digest d;
        std::memcpy(d.data(), p + 8, 16);
        table[key] = d;
    }
    return table;
}

std::array<uint8_t, 8192> PartialDigestSample(uint64_t size, const ReadAt& read) {
    std::array<uint8_t, 8192> sample{};
    if (size < 8192) {
        read(0, sample.data(), static_cast<size_t>(size));
        return sample;
    }
    const uint32_t s = static_cast<uint32_t>(size);
    read(0, sample.data(), 2730);
    // The middle piece is placed by the low 32 bits of the size in 32-bit arithmetic, so that
    // files of 4 GiB and more sample where the digest program always sampled them.
    read(2730 + static_cast<uint32_t>(s - 8192u) / 2, sample.data() + 2730, 2730);
    read(size - 2732, sample.data() + 5460, 2732);
    return sample;
}

uint32_t PartialDigest(uint64_t size, const ReadAt& read) {
    if (size == 0) {
        return 0;
    }
    const uint32_t low = static_cast<uint32_t>(size);
    uint8_t input[8196];
    const std::array<uint8_t, 8192> sample = PartialDigestSample(size, read);
    std::memcpy(input, sample.data(), sample.size());
    Put32(input + 8192, low);
    return XXH32(input, sizeof input, low);
}

uint32_t PartialDigestOfBytes(const uint8_t* data, size_t size) {
    return PartialDigest(size, [&](uint64_t offset, uint8_t* buffer, size_t count) -> size_t {
        if (offset >= size) {
            return 0;
        }
        const size_t n = std::min<size_t>(count, size - static_cast<size_t>(offset));
        std::memcpy(buffer, data + offset, n);
        return n;
    });
}

}  // namespace kavo

#include "scan/usn_record.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "scan/mft_record.h"

namespace kavo::ntfs {

namespace {

constexpr uint32_t kJournalPage = 4096;
constexpr uint32_t kMaxRecordLength = 65536;

}  // namespace

std::u16string UsnRecord::Name() const {
    std::u16string s(name_units, u'\0');
    for (uint32_t i = 0; i < name_units; ++i)
        s[i] = static_cast<char16_t>(Get16(name + 2 * i));
    return s;
}

bool DecodeUsnRecord(const uint8_t* bytes, size_t available, UsnRecord* out) {
    if (available < kUsnHeaderSize)
        return false;
    out->record_length = Get32(bytes);
    if (out->record_length < kUsnHeaderSize || out->record_length > available)
        return false;
    out->major_version = Get16(bytes + 4);
    out->minor_version = Get16(bytes + 6);
    out->file_reference = Get64(bytes + 8);
    out->parent_reference = Get64(bytes + 16);
    out->usn = static_cast<int64_t>(Get64(bytes + 24));
    out->time_stamp = static_cast<int64_t>(Get64(bytes + 32));
    out->reason = Get32(bytes + 40);
    out->source_info = Get32(bytes + 44);
    out->security_id = Get32(bytes + 48);
    out->file_attributes = Get32(bytes + 52);
    uint32_t name_length = Get16(bytes + 56);
    uint32_t name_offset = Get16(bytes + 58);
    if ((name_length & 1) != 0 || name_length / 2 > kUsnMaxNameUnits)
        return false;
    if (name_offset < kUsnHeaderSize || name_offset + name_length > out->record_length)
        return false;
    out->name = bytes + name_offset;
    out->name_units = static_cast<uint16_t>(name_length / 2);
    return true;
}

bool FillJournalOutput(const JournalReader& read,
                       uint64_t start,
                       uint64_t end,
                       uint32_t reason_mask,
                       uint8_t* out,
                       size_t capacity,
                       size_t* got) {
    *got = 0;
    if (capacity < 8)
        return false;
    auto* bytes = out;
    size_t used = 8;
    uint64_t pos = start;
    // Read page by page; a record does not cross a page, and the rest of a page after its
    // last record is zero.
    std::vector<uint8_t> page(kJournalPage);
    uint64_t page_start = UINT64_MAX;
    std::vector<uint8_t> record;
    while (pos + 8 <= end) {
        uint64_t ps = pos & ~uint64_t{kJournalPage - 1};
        if (ps != page_start) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(kJournalPage, end - ps));
            std::fill(page.begin(), page.end(), 0);
            if (!read(ps, page.data(), n))
                break;
            page_start = ps;
        }
        size_t in_page = static_cast<size_t>(pos - ps);
        uint32_t length = in_page + 8 <= kJournalPage ? Get32(page.data() + in_page) : 0;
        if (length == 0 || length < 8 || (length & 7) != 0 || length > kMaxRecordLength ||
            pos + length > end) {
            // Padding or damage: go on at the next page.
            pos = ps + kJournalPage;
            continue;
        }
        record.resize(length);
        if (in_page + length <= kJournalPage) {
            std::memcpy(record.data(), page.data() + in_page, length);
        } else if (!read(pos, record.data(), length)) {
            break;
        }
        uint16_t major = Get16(record.data() + 4);
        if (major == 2 && length >= 60) {
            uint32_t reason = Get32(record.data() + 40);
            if (reason & reason_mask) {
                if (used + length > capacity)
                    break;
                std::memcpy(bytes + used, record.data(), length);
                used += length;
            }
        }
        pos += length;
    }
    uint64_t next = std::min(pos, end);
    std::memcpy(bytes, &next, 8);
    *got = used;
    return true;
}

}  // namespace kavo::ntfs

#include "scan/mft_record.h"

namespace kavo::ntfs {

namespace {

bool IsPowerOfTwo(uint64_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

std::optional<BootSector> DecodeBootSector(const uint8_t* bytes, size_t size) {
    if (size < 512 || std::memcmp(bytes + 3, "NTFS", 4) != 0)
        return std::nullopt;
    BootSector boot;
    boot.bytes_per_sector = Get16(bytes + 11);
    uint32_t sectors_per_cluster = bytes[13];
    // Volumes with clusters above 64 KiB store the exponent in negative form.
    if (sectors_per_cluster > 0x80) {
        uint32_t shift = 256 - sectors_per_cluster;
        if (shift > 12)
            return std::nullopt;
        sectors_per_cluster = 1u << shift;
    }
    if (!IsPowerOfTwo(boot.bytes_per_sector) || boot.bytes_per_sector < 256 ||
        boot.bytes_per_sector > 4096 || !IsPowerOfTwo(sectors_per_cluster))
        return std::nullopt;
    boot.cluster_size = boot.bytes_per_sector * sectors_per_cluster;
    boot.total_sectors = Get64(bytes + 40);
    boot.mft_lcn = Get64(bytes + 48);
    boot.serial = Get64(bytes + 72);
    uint32_t per_record = Get32(bytes + 64);
    uint64_t record_size;
    if (per_record > 127) {
        // The low byte as a negative exponent: 0xF6 gives 2^10.
        uint32_t shift = 256 - (per_record & 0xFF);
        if (shift > 16)
            return std::nullopt;
        record_size = uint64_t{1} << shift;
    } else {
        record_size = uint64_t{per_record} * boot.cluster_size;
    }
    if (!IsPowerOfTwo(record_size) || record_size < 256 || record_size > 65536)
        return std::nullopt;
    boot.record_size = static_cast<uint32_t>(record_size);
    if (boot.mft_lcn == 0 || boot.mft_lcn > (uint64_t{1} << 48))
        return std::nullopt;
    boot.mft_offset = boot.mft_lcn * boot.cluster_size;
    return boot;
}

bool ApplyFixup(uint8_t* record, size_t size) {
    if (size < 48)
        return false;
    uint32_t array_offset = Get16(record + 4);
    uint32_t count = Get16(record + 6);
    if (count < 2)
        return count == 1 || count == 0;
    if (array_offset + 2u * count > size || array_offset < 42)
        return false;
    if (uint64_t{count - 1} * 512 > size)
        return false;
    for (uint32_t i = 1; i < count; ++i) {
        size_t at = 512u * i - 2;
        record[at] = record[array_offset + 2 * i];
        record[at + 1] = record[array_offset + 2 * i + 1];
    }
    return true;
}

bool DecodeRuns(const uint8_t* bytes,
                size_t size,
                uint64_t first_vcn,
                uint64_t total_clusters,
                std::vector<DataRun>* runs) {
    size_t pos = 0;
    uint64_t vcn = first_vcn;
    int64_t lcn = 0;
    while (pos < size) {
        uint8_t header = bytes[pos++];
        if (header == 0)
            return true;
        uint32_t length_bytes = header & 0x0F;
        uint32_t offset_bytes = header >> 4;
        if (length_bytes == 0 || length_bytes > 8 || offset_bytes > 8)
            return false;
        if (pos + length_bytes + offset_bytes > size)
            return false;
        uint64_t length = 0;
        for (uint32_t i = 0; i < length_bytes; ++i)
            length |= uint64_t{bytes[pos + i]} << (8 * i);
        pos += length_bytes;
        if (length == 0 || length > (uint64_t{1} << 48))
            return false;
        DataRun run;
        run.vcn = vcn;
        run.length = length;
        if (offset_bytes == 0) {
            run.sparse = true;
        } else {
            uint64_t delta = 0;
            for (uint32_t i = 0; i < offset_bytes; ++i)
                delta |= uint64_t{bytes[pos + i]} << (8 * i);
            if (offset_bytes < 8 && (bytes[pos + offset_bytes - 1] & 0x80))
                delta |= ~uint64_t{0} << (8 * offset_bytes);
            pos += offset_bytes;
            lcn = static_cast<int64_t>(static_cast<uint64_t>(lcn) + delta);
            if (lcn < 0)
                return false;
            run.lcn = static_cast<uint64_t>(lcn);
            if (total_clusters != 0 &&
                (run.lcn >= total_clusters || run.length > total_clusters - run.lcn))
                return false;
        }
        runs->push_back(run);
        vcn += length;
    }
    return false;
}

bool AttributeView::NameIs(std::u16string_view want) const {
    if (name_length != want.size())
        return false;
    for (size_t i = 0; i < want.size(); ++i)
        if (Get16(name_bytes + 2 * i) != want[i])
            return false;
    return true;
}

std::optional<RecordHeader> DecodeRecordHeader(const uint8_t* record, size_t size) {
    if (size < 48 || std::memcmp(record, "FILE", 4) != 0)
        return std::nullopt;
    RecordHeader h;
    h.sequence = Get16(record + 16);
    h.first_attribute = Get16(record + 20);
    h.flags = Get16(record + 22);
    h.bytes_in_use = Get32(record + 24);
    h.base_reference = Get64(record + 32);
    h.next_attribute_id = Get16(record + 40);
    if (h.bytes_in_use > size)
        h.bytes_in_use = static_cast<uint32_t>(size);
    if (h.first_attribute < 42 || h.first_attribute >= h.bytes_in_use)
        return std::nullopt;
    return h;
}

bool DecodeAttribute(const uint8_t* record,
                     uint32_t offset,
                     uint32_t end,
                     AttributeView* out,
                     uint32_t* length) {
    if (offset + 16 > end)
        return false;
    const uint8_t* a = record + offset;
    uint32_t len = Get32(a + 4);
    if (len < 24 || len > end - offset || (len & 7) != 0)
        return false;
    out->type = Get32(a);
    out->non_resident = a[8] != 0;
    out->name_length = a[9];
    uint32_t name_offset = Get16(a + 10);
    out->attribute_id = Get16(a + 14);
    if (out->name_length != 0) {
        if (name_offset + 2u * out->name_length > len)
            return false;
        out->name_bytes = a + name_offset;
    }
    if (!out->non_resident) {
        out->value_length = Get32(a + 16);
        uint32_t value_offset = Get16(a + 20);
        if (value_offset > len || out->value_length > len - value_offset)
            return false;
        out->value = a + value_offset;
    } else {
        if (len < 64)
            return false;
        out->start_vcn = Get64(a + 16);
        out->last_vcn = Get64(a + 24);
        uint32_t runs_offset = Get16(a + 32);
        out->data_size = Get64(a + 48);
        if (runs_offset < 64 || runs_offset > len)
            return false;
        out->runs = a + runs_offset;
        out->runs_size = len - runs_offset;
    }
    *length = len;
    return true;
}

bool DecodeFileName(const AttributeView& attribute, FileNameView* out) {
    if (attribute.non_resident || attribute.value_length < 66)
        return false;
    const uint8_t* v = attribute.value;
    out->parent = Get64(v);
    out->data_size = Get64(v + 48);
    out->flags = Get32(v + 56);
    out->name_length = v[64];
    out->name_space = v[65];
    if (66u + 2u * out->name_length > attribute.value_length)
        return false;
    out->name = v + 66;
    return true;
}

}  // namespace kavo::ntfs

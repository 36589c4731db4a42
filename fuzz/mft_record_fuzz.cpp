// Random bytes as file records: through the fixups, the record decoder and a whole-table
// parse with extension records, and as a boot sector and run list. Input capped at 64 KiB.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "scan/mft_parser.h"
#include "scan/mft_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kavo::ntfs;
    if (size > 65536)
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    auto boot = DecodeBootSector(bytes.data(), bytes.size());
    (void)boot;
    std::vector<DataRun> runs;
    DecodeRuns(bytes.data(), bytes.size(), 0, 1u << 20, &runs);
    for (uint32_t record_size : {1024u, 4096u}) {
        std::vector<uint8_t> copy = bytes;
        if (copy.size() >= record_size) {
            MftEntry entry;
            uint64_t base = 0;
            std::vector<uint8_t> one(copy.begin(), copy.begin() + record_size);
            if (ApplyFixup(one.data(), one.size()))
                DecodeRecord(one.data(), one.size(), &entry, &base);
        }
        MftParser parser;
        parser.ParseBuffer(copy.data(), copy.size(), record_size);
        for (const MftEntry& e : parser.Entries()) {
            volatile char16_t sink = 0;
            for (char16_t c : e.Name())
                sink = sink ^ c;
        }
    }
    return 0;
}

// kavo-mftbench IMAGE [--offset BYTES] [--rounds N]
// Parse rate of the MFT reader over an NTFS image from the page cache: reads and decodes the
// whole MFT (MftParser) and runs the full scan into a listener that only counts, on one
// core, and prints records per second for both. Compare with `time fls -r IMAGE`.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/text.h"
#include "scan/mft_parser.h"
#include "scan/ntfs_decoded_volume.h"
#include "scan/ntfs_scan.h"

namespace {

using namespace kavo;

class CountingListener final : public IKvListener {
  public:
    void OnDriveBuilt(char16_t) override {}
    void OnIgnoredFolder(std::u16string_view) override {}
    void OnRemoveVolume(char16_t, uint32_t) override {}
    void OnFileAdded(const ScanEntry& e) override {
        ++count;
        units += e.name.size();
    }
    void OnFileChanged(const ScanEntry&, std::optional<std::u16string_view>) override {}
    void OnFileRemoved(const ScanEntry&) override {}
    uint64_t count = 0, units = 0;
};

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kavo-mftbench IMAGE [--offset BYTES] [--rounds N]\n");
        return 2;
    }
    uint64_t offset = 0;
    int rounds = 5;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--offset") == 0)
            offset = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
    }
    uint32_t error = 0;
    auto volume = OpenImageVolume(Utf8ToUtf16(argv[1]), offset, &error);
    if (!volume) {
        std::fprintf(stderr, "cannot open %s (error %u)\n", argv[1], error);
        return 1;
    }
    double best_parse = 1e9, best_scan = 1e9, best_parse_cpu = 1e9;
    uint32_t records = 0;
    uint64_t emitted = 0;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        double c0 = CpuSeconds();
        ntfs::MftParser parser;
        if (parser.Load(*volume) == 0) {
            std::fprintf(stderr, "not an NTFS volume\n");
            return 1;
        }
        records = parser.Parse(*volume);
        double parse = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best_parse = std::min(best_parse, parse);
        best_parse_cpu = std::min(best_parse_cpu, CpuSeconds() - c0);

        CountingListener listener;
        NoIgnoreRules rules;
        NtfsVolumeTarget target;
        auto t1 = std::chrono::steady_clock::now();
        FullMftScan(*volume, target, listener, rules);
        double scan = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
        best_scan = std::min(best_scan, scan);
        emitted = listener.count;
    }
    std::printf("records %u, entries emitted %llu\n", records,
                static_cast<unsigned long long>(emitted));
    std::printf("parse MFT: %.3f s wall (%.3f s cpu), %.2f million records/s\n", best_parse,
                best_parse_cpu, records / best_parse / 1e6);
    std::printf("full scan: %.3f s wall, %.2f million records/s\n", best_scan,
                records / best_scan / 1e6);
    return 0;
}

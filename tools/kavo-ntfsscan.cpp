// kavo-ntfsscan IMAGE [--offset BYTES] [--from-usn N]
// Scans the NTFS volume in an image file as a build scans drive C: in full from its MFT, or
// from its change journal starting at USN N, and prints one line per listener call.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "base/text.h"
#include "scan/ntfs_decoded_volume.h"
#include "scan/ntfs_scan.h"

namespace {

using namespace kavo;

class PrintingListener final : public IKvListener {
  public:
    void OnDriveBuilt(char16_t letter) override {
        std::printf("built\t%c\n", static_cast<char>(letter));
    }
    void OnIgnoredFolder(std::u16string_view path) override {
        std::printf("ignored\t%s\n", Utf16ToUtf8(path).c_str());
    }
    void OnRemoveVolume(char16_t letter, uint32_t number) override {
        std::printf("removevolume\t%c\t%u\n", static_cast<char>(letter), number);
    }
    void OnFileAdded(const ScanEntry& e) override { Print("add", e, std::nullopt); }
    void OnFileChanged(const ScanEntry& e, std::optional<std::u16string_view> old) override {
        Print("change", e, old);
    }
    void OnFileRemoved(const ScanEntry& e) override { Print("remove", e, std::nullopt); }

  private:
    static void Print(const char* what,
                      const ScanEntry& e,
                      std::optional<std::u16string_view> old) {
        std::printf("%s\t%016" PRIx64 "\t%016" PRIx64 "\t%u\t%d\t%u\t%s", what, e.key, e.parent_key,
                    e.is_folder, e.size, e.time, Utf16ToUtf8(e.name).c_str());
        if (old)
            std::printf("\t%s", Utf16ToUtf8(*old).c_str());
        std::putchar('\n');
    }
};

int Usage() {
    std::fprintf(stderr, "usage: kavo-ntfsscan IMAGE [--offset BYTES] [--from-usn N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const char* image = nullptr;
    uint64_t offset = 0;
    std::optional<int64_t> from_usn;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--offset") == 0 && i + 1 < argc) {
            offset = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--from-usn") == 0 && i + 1 < argc) {
            from_usn = std::strtoll(argv[++i], nullptr, 10);
        } else if (!image && argv[i][0] != '-') {
            image = argv[i];
        } else {
            return Usage();
        }
    }
    if (!image)
        return Usage();
    uint32_t error = 0;
    auto volume = OpenImageVolume(Utf8ToUtf16(image), offset, &error);
    if (!volume) {
        std::fprintf(stderr, "kavo-ntfsscan: cannot open %s (error %u)\n", image, error);
        return 1;
    }
    PrintingListener listener;
    NoIgnoreRules rules;
    NtfsVolumeTarget target;
    target.drive_letter = u'C';
    if (from_usn) {
        platform::UsnJournalData journal;
        if (uint32_t e = volume->QueryJournal(&journal); e != platform::kRawOk) {
            std::fprintf(stderr, "kavo-ntfsscan: no change journal (error %u)\n", e);
            return 1;
        }
        int64_t next = *from_usn;
        ReadJournalChanges(*volume, target, listener, rules, journal.journal_id, &next);
    } else {
        JournalState state;
        NtfsScanResult r = ScanNtfsVolume(*volume, target, listener, rules, &state);
        if (r != NtfsScanResult::kFullScan) {
            std::fprintf(stderr, "kavo-ntfsscan: %s is not a readable NTFS volume\n", image);
            return 1;
        }
    }
    listener.OnDriveBuilt(target.drive_letter);
    return 0;
}

// Random bytes as a change-journal stream: through the page walker of the image seam, the
// record decoder, and the change scan itself. Input capped at 64 KiB.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/raw_volume_file.h"
#include "scan/ntfs_scan.h"
#include "scan/usn_record.h"

namespace {

using namespace kavo;

class NullListener final : public IKvListener {
  public:
    void OnDriveBuilt(char16_t) override {}
    void OnIgnoredFolder(std::u16string_view) override {}
    void OnRemoveVolume(char16_t, uint32_t) override {}
    void OnFileAdded(const ScanEntry& e) override { Touch(e); }
    void OnFileChanged(const ScanEntry& e, std::optional<std::u16string_view> o) override {
        Touch(e);
        if (o)
            sink_ ^= o->size();
    }
    void OnFileRemoved(const ScanEntry& e) override { Touch(e); }

  private:
    void Touch(const ScanEntry& e) {
        for (char16_t c : e.name)
            sink_ ^= c;
    }
    size_t sink_ = 0;
};

// Serves the bytes as the journal, through the same walker as the image seam.
class JournalOnly final : public platform::UnsupportedRequests {
  public:
    explicit JournalOnly(std::vector<uint8_t> j) : j_(std::move(j)) {}
    uint32_t ReadAt(uint64_t, void*, size_t, size_t* got) override {
        *got = 0;
        return platform::kRawErrorNotSupported;
    }
    uint32_t ReadJournal(const platform::ReadJournalRequest& r,
                         void* out,
                         size_t capacity,
                         size_t* got) override {
        if (r.start_usn < 0)
            return platform::kRawErrorInvalidParameter;
        auto read = [this](uint64_t offset, uint8_t* to, size_t size) {
            if (offset > j_.size())
                return false;
            size_t n = std::min<size_t>(size, j_.size() - static_cast<size_t>(offset));
            std::memcpy(to, j_.data() + offset, n);
            std::memset(to + n, 0, size - n);
            return true;
        };
        ntfs::FillJournalOutput(read, static_cast<uint64_t>(r.start_usn), j_.size(), r.reason_mask,
                                static_cast<uint8_t*>(out), capacity, got);
        return platform::kRawOk;
    }

  private:
    std::vector<uint8_t> j_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536)
        return 0;
    ntfs::UsnRecord r;
    for (size_t pos = 0; pos + 8 <= size; pos += 8)
        if (ntfs::DecodeUsnRecord(data + pos, size - pos, &r))
            (void)r.Name();
    JournalOnly volume(std::vector<uint8_t>(data, data + size));
    NullListener listener;
    NoIgnoreRules rules;
    NtfsVolumeTarget target;
    int64_t next = 0;
    ReadJournalChanges(volume, target, listener, rules, 0, &next);
    return 0;
}

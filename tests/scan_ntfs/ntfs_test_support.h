// Shared pieces of the NTFS scanner tests: a listener that records every call, the
// independent listings (The Sleuth Kit's fls) as an oracle, in-memory volumes and a journal
// served from raw change-record bytes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/raw_volume.h"
#include "platform/raw_volume_file.h"
#include "scan/kv_listener.h"
#include "scan/ntfs_scan.h"

namespace kavo::test {

struct Call {
    std::string what;  // add, change, remove, removevolume, ignored, built
    ScanEntry entry;   // entry.name points into `name`
    std::u16string name;
    std::optional<std::u16string> old_name;
    std::u16string text;  // ignored folder path
    uint32_t number = 0;
};

class RecordingListener : public IKvListener {
  public:
    void OnDriveBuilt(char16_t letter) override;
    void OnIgnoredFolder(std::u16string_view path) override;
    void OnRemoveVolume(char16_t letter, uint32_t number) override;
    void OnFileAdded(const ScanEntry& e) override;
    void OnFileChanged(const ScanEntry& e, std::optional<std::u16string_view> old) override;
    void OnFileRemoved(const ScanEntry& e) override;

    std::vector<Call> calls;
    std::vector<const Call*> Of(const std::string& what) const;
};

// One item as an independent reader lists it.
struct ListedItem {
    std::string path;  // "/"-separated from the root, UTF-8
    bool folder = false;
    uint64_t size = 0;
};
// fls -r -p -l output: allocated names only, named streams left out; by record number.
std::map<uint64_t, std::vector<ListedItem>> ReadFlsListing(const std::string& host_path);

// What a scan found, by record number: parent record, folder flag, size code, name.
struct FoundItem {
    uint64_t parent = 0;
    bool folder = false;
    int32_t size = 0;
    std::u16string name;
};
std::map<uint64_t, FoundItem> FoundByRecord(const RecordingListener& listener);

// Compares a scan with a listing record by record, apart from the file system's own records
// (0-15 and everything below $Extend) and the listing's orphan folder. Each mismatch is one
// line of the result; empty when they agree.
std::vector<std::string> CompareWithListing(
    const std::map<uint64_t, FoundItem>& found,
    const std::map<uint64_t, std::vector<ListedItem>>& listed);

// A volume held in memory.
class MemoryVolume : public platform::UnsupportedRequests {
  public:
    explicit MemoryVolume(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}
    uint32_t ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) override;
    std::vector<uint8_t> bytes;
};

// Delegates to `inner` (may be null: then only the journal answers) but serves the journal
// requests from raw `$J` bytes with the given id, as the image seam does.
class JournalVolume : public platform::IRawVolume {
  public:
    JournalVolume(platform::IRawVolume* inner, std::vector<uint8_t> j, uint64_t id)
        : inner_(inner), j_(std::move(j)), id_(id) {}
    uint32_t ReadAt(uint64_t o, void* b, size_t s, size_t* g) override;
    uint32_t GetVolumeData(platform::NtfsVolumeData* out) override;
    uint32_t GetFileRecord(uint64_t r, void* b, size_t c, size_t* s, uint64_t* n) override;
    uint32_t QueryJournal(platform::UsnJournalData* out) override;
    uint32_t CreateJournal(uint64_t, uint64_t) override { return platform::kRawErrorNotSupported; }
    uint32_t ReadJournal(const platform::ReadJournalRequest& request,
                         void* out,
                         size_t capacity,
                         size_t* got) override;
    uint32_t FileSizeById(uint64_t r, uint64_t* s) override;
    std::optional<uint32_t> PathAttributes(const std::u16string& p) override;
    bool FileExistsAt(const std::u16string& p) override;
    std::optional<uint64_t> FolderFileIndex(const std::u16string& p) override;

  private:
    platform::IRawVolume* inner_;
    std::vector<uint8_t> j_;
    uint64_t id_;
};

// Ignore rules for the tests: hidden items, and names by exact text, "*suffix" or
// "prefix*", for folders (`folder_patterns`) and files.
class TestIgnoreRules : public IIgnoreRules {
  public:
    bool exclude_hidden = false;
    std::vector<std::u16string> folder_patterns, file_patterns;
    bool ExcludeHidden() const override { return exclude_hidden; }
    bool IsNameExcluded(std::u16string_view name, bool is_folder) const override;
};

// Appends one version-2 change record to `j` (8-byte aligned).
void AppendUsnRecord(std::vector<uint8_t>* j,
                     uint64_t file,
                     uint64_t parent,
                     uint32_t reason,
                     uint32_t attributes,
                     std::u16string_view name);

std::vector<uint8_t> ReadHostFile(const std::string& host_path);

// Concatenates texts by appending (the mingw -O3 build warns falsely on literal + string).
template <typename... Parts>
std::string Cat(const Parts&... parts) {
    std::string out;
    (out.append(parts), ...);
    return out;
}

}  // namespace kavo::test

// A scan listener that keeps every call, for checking what a scanner reported.
#pragma once

#include <string>
#include <vector>

#include "scan/kv_listener.h"

namespace kavo::test {

struct RecordedEntry {
    uint64_t key = 0;
    uint64_t parent_key = 0;
    uint32_t time = 0;
    int32_t size = 0;
    bool is_folder = false;
    std::u16string name;
};

class RecordingListener : public IKvListener {
  public:
    void OnDriveBuilt(char16_t letter) override { built.push_back(letter); }
    void OnIgnoredFolder(std::u16string_view path) override { ignored.emplace_back(path); }
    void OnRemoveVolume(char16_t letter, uint32_t volume) override {
        removed_volumes.push_back({letter, volume});
    }
    void OnFileAdded(const ScanEntry& e) override {
        added.push_back(
            {e.key, e.parent_key, e.time, e.size, e.is_folder != 0, std::u16string(e.name)});
    }
    void OnFileChanged(const ScanEntry&, std::optional<std::u16string_view>) override { ++changed; }
    void OnFileRemoved(const ScanEntry&) override { ++removed; }

    const RecordedEntry* Find(std::u16string_view name) const {
        for (const RecordedEntry& e : added) {
            if (e.name == name) {
                return &e;
            }
        }
        return nullptr;
    }

    std::vector<char16_t> built;
    std::vector<std::u16string> ignored;
    std::vector<std::pair<char16_t, uint32_t>> removed_volumes;
    std::vector<RecordedEntry> added;
    int changed = 0;
    int removed = 0;
};

}  // namespace kavo::test

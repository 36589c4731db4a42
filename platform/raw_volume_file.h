// A volume image file read as a raw volume: ReadAt reads the file from `offset` on; every
// control request answers kRawErrorNotSupported and the path questions find nothing.
#pragma once

#include <memory>
#include <string>

#include "platform/raw_volume.h"

namespace kavo::platform {

std::unique_ptr<IRawVolume> OpenRawImageFile(const std::u16string& path,
                                             uint64_t offset,
                                             uint32_t* error);

// The part shared by the implementations: everything but ReadAt says "not supported".
class UnsupportedRequests : public IRawVolume {
  public:
    uint32_t GetVolumeData(NtfsVolumeData*) override { return kRawErrorNotSupported; }
    uint32_t GetFileRecord(uint64_t, void*, size_t, size_t*, uint64_t*) override {
        return kRawErrorNotSupported;
    }
    uint32_t QueryJournal(UsnJournalData*) override { return kRawErrorNotSupported; }
    uint32_t CreateJournal(uint64_t, uint64_t) override { return kRawErrorNotSupported; }
    uint32_t ReadJournal(const ReadJournalRequest&, void*, size_t, size_t*) override {
        return kRawErrorNotSupported;
    }
    uint32_t FileSizeById(uint64_t, uint64_t*) override { return kRawErrorNotSupported; }
    std::optional<uint32_t> PathAttributes(const std::u16string&) override { return std::nullopt; }
    bool FileExistsAt(const std::u16string&) override { return false; }
    std::optional<uint64_t> FolderFileIndex(const std::u16string&) override { return std::nullopt; }
};

}  // namespace kavo::platform

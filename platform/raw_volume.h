// The one way the scanners reach a raw NTFS volume: reads at byte offsets, the NTFS control
// requests (volume data, file record, query / create / read journal), the size of a file
// opened by its id, and the path questions that the change scan asks of the live file
// system. The Win32 implementation (OpenRawVolume) calls CreateFileW, DeviceIoControl and
// the file API; an NTFS image file serves the same requests through scan/image_volume.h.
//
// Every request reports a Win32 error code: 0 for success, otherwise the code the system
// gave (the constants below name those the callers act on). Implementations never throw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kavo::platform {

inline constexpr uint32_t kRawOk = 0;
inline constexpr uint32_t kRawErrorInvalidFunction = 1;
inline constexpr uint32_t kRawErrorFileNotFound = 2;
inline constexpr uint32_t kRawErrorHandleEof = 38;
inline constexpr uint32_t kRawErrorNotSupported = 50;
inline constexpr uint32_t kRawErrorInvalidParameter = 87;
inline constexpr uint32_t kRawErrorDiskFull = 112;
inline constexpr uint32_t kRawErrorInsufficientBuffer = 122;
inline constexpr uint32_t kRawErrorJournalDeleteInProgress = 1178;
inline constexpr uint32_t kRawErrorJournalNotActive = 1179;
inline constexpr uint32_t kRawErrorJournalEntryDeleted = 1181;

// NTFS_VOLUME_DATA_BUFFER, the fields the scanners use.
struct NtfsVolumeData {
    uint64_t volume_serial = 0;
    uint64_t total_clusters = 0;
    uint32_t bytes_per_sector = 0;
    uint32_t bytes_per_cluster = 0;
    uint32_t bytes_per_file_record_segment = 0;
    uint64_t mft_valid_data_length = 0;
    uint64_t mft_start_lcn = 0;
};

// USN_JOURNAL_DATA (version 0).
struct UsnJournalData {
    uint64_t journal_id = 0;
    int64_t first_usn = 0;
    int64_t next_usn = 0;
    int64_t lowest_valid_usn = 0;
    int64_t max_usn = 0;
    uint64_t maximum_size = 0;
    uint64_t allocation_delta = 0;
};

// READ_USN_JOURNAL_DATA (version 0): the output holds only version-2 change records.
struct ReadJournalRequest {
    int64_t start_usn = 0;
    uint32_t reason_mask = 0;
    uint32_t return_only_on_close = 0;
    uint64_t timeout = 0;
    uint64_t bytes_to_wait_for = 0;
    uint64_t journal_id = 0;
};

class IRawVolume {
  public:
    virtual ~IRawVolume() = default;

    // Reads up to `size` bytes at byte `offset` of the volume; `*got` receives the count read
    // (fewer at the end of the volume). A read past the end is not an error: it reads 0.
    virtual uint32_t ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got) = 0;

    // FSCTL_GET_NTFS_VOLUME_DATA.
    virtual uint32_t GetVolumeData(NtfsVolumeData* out) = 0;

    // FSCTL_GET_NTFS_FILE_RECORD for the record number in the low 48 bits of `reference`:
    // the file record with its update-sequence fixups applied, `record_size` bytes, into
    // `buffer` (capacity `capacity`); `*record_number` receives the number of the record
    // returned (the volume may return the nearest lower record in use).
    virtual uint32_t GetFileRecord(uint64_t reference,
                                   void* buffer,
                                   size_t capacity,
                                   size_t* record_size,
                                   uint64_t* record_number) = 0;

    // FSCTL_QUERY_USN_JOURNAL / FSCTL_CREATE_USN_JOURNAL.
    virtual uint32_t QueryJournal(UsnJournalData* out) = 0;
    virtual uint32_t CreateJournal(uint64_t maximum_size, uint64_t allocation_delta) = 0;

    // FSCTL_READ_USN_JOURNAL: `*got` bytes of output, the first 8 the USN to continue from,
    // then whole version-2 change records.
    virtual uint32_t ReadJournal(const ReadJournalRequest& request,
                                 void* out,
                                 size_t capacity,
                                 size_t* got) = 0;

    // Opens the file by its reference (record number and sequence) and returns its size.
    virtual uint32_t FileSizeById(uint64_t reference, uint64_t* size) = 0;

    // The path questions. Paths are full Windows paths on the volume's drive or mount folder
    // ("C:\data\sub"). Attributes as GetFileAttributesW gives them; FileExistsAt is true
    // when GetFileAttributesW on the path succeeds; the file index is what
    // GetFileInformationByHandle returns for the folder opened with backup semantics
    // (nFileIndexHigh in the high 32 bits).
    virtual std::optional<uint32_t> PathAttributes(const std::u16string& path) = 0;
    virtual bool FileExistsAt(const std::u16string& path) = 0;
    virtual std::optional<uint64_t> FolderFileIndex(const std::u16string& path) = 0;
};

// Opens a raw volume ("\\.\X:" or "\\?\Volume{GUID}") for scanning: GENERIC_READ and
// GENERIC_WRITE, share read and write, OPEN_EXISTING. Null with `*error` set on failure.
// Natively the path names a volume image file (read-only); its control requests all answer
// kRawErrorNotSupported, like a volume under Wine, and path questions go to the host.
std::unique_ptr<IRawVolume> OpenRawVolume(const std::u16string& path, uint32_t* error);

}  // namespace kavo::platform

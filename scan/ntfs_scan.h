// Scanning an NTFS volume: a full scan from its master file table, or the changes written to
// its change journal since the stored position. Everything found goes to an IKvListener.
// The volume is reached only through platform::IRawVolume, so the same code runs on a live
// volume, on a raw volume under Wine and on an image file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/raw_volume.h"
#include "scan/kv_listener.h"

namespace kavo {

// The name-based ignore decisions of a build (ExcludeHidden, ExcludeByName and
// ExcludeNames). The NTFS scanners apply them together with the `_kavoignore` markers,
// which they find themselves.
class IIgnoreRules {
  public:
    virtual ~IIgnoreRules() = default;
    // True when items with FILE_ATTRIBUTE_HIDDEN, and everything below hidden folders, are
    // left out.
    virtual bool ExcludeHidden() const = 0;
    // True when exclude-by-name is on and `name`, an item's own name, matches a folder
    // pattern (`is_folder`) or a file pattern (otherwise).
    virtual bool IsNameExcluded(std::u16string_view name, bool is_folder) const = 0;
};

// Ignores nothing by name or attribute (markers still apply).
class NoIgnoreRules : public IIgnoreRules {
  public:
    bool ExcludeHidden() const override { return false; }
    bool IsNameExcluded(std::u16string_view, bool) const override { return false; }
};

// Which volume is scanned and where its records hang.
struct NtfsVolumeTarget {
    char16_t drive_letter = u'C';  // the drive, or the drive that holds the mount folder
    uint32_t volume_number = 0;    // 0 = the drive's own volume, 1..255 = mounted in a folder
    uint64_t mount_key = 0;        // mounted volumes: RecordKey of the mount folder
    std::u16string mount_folder;   // mounted volumes: "C:\mnt\vol", no trailing backslash

    bool IsMounted() const { return volume_number != 0; }
    // Drive index + 256 x volume number: the bits 32-47 of every key of this volume.
    uint32_t VolumeTag() const {
        return static_cast<uint32_t>(drive_letter - u'A') + 256u * volume_number;
    }
};

// The journal state stored per drive slot or volume slot. next_usn 0: no position known
// (forces a full scan); -1: no full scan needed, read the journal from its start.
struct JournalState {
    uint64_t journal_id = 0;
    int64_t next_usn = 0;
};

enum class NtfsScanResult {
    kFullScan,     // removed the volume's records and scanned the MFT (then read changes)
    kChangesOnly,  // the stored position was valid: only change records were applied
    kOpenFailed,   // the raw volume could not be opened; nothing was touched
    kNotNtfs,      // the raw volume does not read as NTFS; nothing was touched
    kQueryFailed,  // the journal could not be queried; nothing was touched
    kMftFailed,    // the volume's records were removed but its MFT could not be read
};

// Opens a raw volume ("\\.\X:" or "\\?\Volume{GUID}") for scanning. Control requests that
// the volume does not support (Wine answers them all with ERROR_NOT_SUPPORTED) and, in
// that case, the path questions are answered by decoding the raw volume itself, the same
// way an image file is read. Null with `*error` set when the volume cannot be opened.
std::unique_ptr<platform::IRawVolume> OpenNtfsVolume(const std::u16string& device_path,
                                                     uint32_t* error);

// Scans one volume as a build does: opens it (writing "Failed to obtain a file handle for the
// root drive(err=%u)" on failure), queries or creates its journal, decides between a full
// scan and reading changes, and updates `state`. A volume without a usable journal is
// scanned in full each time. Mount points are not collected here (the volume inventory
// lists them). Returns what was done; on kOpenFailed, kNotNtfs and kQueryFailed the
// listener was not called and `state` is unchanged.
NtfsScanResult ScanNtfsVolume(const std::u16string& device_path,
                              const NtfsVolumeTarget& target,
                              IKvListener& listener,
                              const IIgnoreRules& rules,
                              JournalState* state);
// The same on a volume already open (image files, tests).
NtfsScanResult ScanNtfsVolume(platform::IRawVolume& volume,
                              const NtfsVolumeTarget& target,
                              IKvListener& listener,
                              const IIgnoreRules& rules,
                              JournalState* state);

// True when the stored state lets the build read changes instead of a full scan: the journal
// is usable (maximum size not 0), its id equals the stored one, the stored position is not 0
// and is either negative or at least both the lowest valid and the first USN.
bool IsJournalStateValid(const platform::UsnJournalData& journal, const JournalState& state);

// Full scan of the volume's MFT into the listener (no OnRemoveVolume here; ScanNtfsVolume
// calls it). Returns the number of records parsed, or -1 when the volume is not NTFS or its
// MFT cannot be loaded. Stops early when the process's interrupt flag is set.
int64_t FullMftScan(platform::IRawVolume& volume,
                    const NtfsVolumeTarget& target,
                    IKvListener& listener,
                    const IIgnoreRules& rules);

// Applies the change records from `*next_usn` on (journal `journal_id`) to the listener and
// advances `*next_usn` past the last record read. Returns the number of records read.
int64_t ReadJournalChanges(platform::IRawVolume& volume,
                           const NtfsVolumeTarget& target,
                           IKvListener& listener,
                           const IIgnoreRules& rules,
                           uint64_t journal_id,
                           int64_t* next_usn);

}  // namespace kavo

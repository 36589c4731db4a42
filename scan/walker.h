// The directory walker: scans a volume that is not read through its master file table by
// listing its folders level by level. Every item found is reported to the listener with a
// walker record number (the drive root is 1,024, then 1,025, 1,026, ... in scan order).
// The walker applies no ignore rules. Folders that are reparse points (junctions, symbolic
// links, mount folders) are recorded but not listed, so that a link loop cannot make a walk
// endless and no item is reported twice.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "scan/kv_listener.h"
#include "scan/walker_list.h"

namespace kavo::scan {

inline constexpr uint32_t kWalkerRootRecord = 1024;

struct WalkStats {
    uint32_t folders = 0;  // folders recorded, the root not counted
    uint32_t files = 0;
    uint32_t unlisted = 0;  // folders whose listing failed
    bool interrupted = false;
};

struct WalkOptions {
    ListingMode mode = ListingMode::kBasicLargeFetch;
    // Polled between folders; a set flag ends the walk with what was reported so far.
    const std::atomic<bool>* interrupted = nullptr;
    // Writes the walk's build log lines ("Deleting all records for drive %c", ...).
    bool log = true;
    // The folder listed as the drive's root; empty for the drive itself ("X:\"). Must end
    // with "\".
    std::u16string root;
};

// Walks drive `letter` (A..Z) from its root "X:\" (or `options.root`): first removes all records of
// the drive (volume 0) through the listener, then reports the root ("X:", folder, time 0) and every
// item below it. A folder that cannot be listed is reported on standard output ("Find files
// in %s failed..") and skipped with everything below it.
WalkStats WalkVolume(char16_t letter, IKvListener& listener, const WalkOptions& options);

}  // namespace kavo::scan

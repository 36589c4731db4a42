// The parallel walk: the units of a walker (name entries, or records) are cut into ranges
// that the threads of the machine take in turn; each range's candidates are kept apart and
// the ranges are joined in order, so the result is exactly the sequence that pulling the
// walker one candidate at a time would give.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "search/find_result.h"

namespace kavo {

// Appends the kept candidates of `walker` to `out`. `should_stop` is asked between ranges
// (from any of the threads); once it says yes no further range is started, and the ranges
// already done are appended in order up to the first one not done. Returns false when
// stopped. `threads` 0 means one per processor.
// Buffers kept between walks, so that a repeated search writes into memory it already has.
struct CollectWorkspace {
    std::vector<std::vector<int32_t>> parts;
};

bool CollectParallel(const IKavoFindResult& walker,
                     const CandidateFilter& filter,
                     const std::function<bool()>& should_stop,
                     std::vector<int32_t>& out,
                     CollectWorkspace* workspace = nullptr,
                     unsigned threads = 0);

// The threads used when none are given: one per processor, at most 8.
unsigned SearchThreadCount();

}  // namespace kavo

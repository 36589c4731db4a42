#include "search/parallel_collect.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace kavo {

unsigned SearchThreadCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n, 1u, 8u);
}

bool CollectParallel(const IKavoFindResult& walker,
                     const CandidateFilter& filter,
                     const std::function<bool()>& should_stop,
                     std::vector<int32_t>& out,
                     CollectWorkspace* workspace,
                     unsigned threads) {
    const int32_t units = walker.UnitCount();
    if (units <= 0) {
        return true;
    }
    if (threads == 0) {
        threads = SearchThreadCount();
    }
    // Small ranges balance the uneven work (a few names carry many records) and bound the
    // time between two stop checks; 64 per thread keep the per-range cost negligible.
    const int32_t ranges = std::clamp<int32_t>(static_cast<int32_t>(threads) * 64, 1, units);
    const int32_t per = (units + ranges - 1) / ranges;
    const int32_t count = (units + per - 1) / per;
    CollectWorkspace local;
    std::vector<std::vector<int32_t>>& parts = (workspace ? workspace : &local)->parts;
    if (parts.size() < static_cast<size_t>(count)) {
        parts.resize(static_cast<size_t>(count));
    }
    for (int32_t k = 0; k < count; ++k) {
        parts[static_cast<size_t>(k)].clear();
    }
    std::vector<uint8_t> done(static_cast<size_t>(count), 0);
    std::atomic<int32_t> next{0};
    std::atomic<bool> stopped{false};

    auto work = [&] {
        for (;;) {
            if (stopped.load(std::memory_order_relaxed)) {
                return;
            }
            if (should_stop && should_stop()) {
                stopped.store(true);
                return;
            }
            const int32_t k = next.fetch_add(1);
            if (k >= count) {
                return;
            }
            const int32_t begin = k * per;
            const int32_t end = std::min(units, begin + per);
            walker.CollectUnits(begin, end, filter, parts[static_cast<size_t>(k)]);
            done[static_cast<size_t>(k)] = 1;
        }
    };
    const unsigned helpers = std::min<unsigned>(threads, static_cast<unsigned>(count)) - 1;
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (unsigned i = 0; i < helpers; ++i) {
        pool.emplace_back(work);
    }
    work();
    for (std::thread& t : pool) {
        t.join();
    }

    size_t total = 0;
    int32_t complete = 0;
    while (complete < count && done[static_cast<size_t>(complete)]) {
        total += parts[static_cast<size_t>(complete)].size();
        ++complete;
    }
    const size_t base = out.size();
    out.resize(base + total);
    size_t at = base;
    for (int32_t k = 0; k < complete; ++k) {
        const std::vector<int32_t>& p = parts[static_cast<size_t>(k)];
        if (!p.empty()) {
            std::memcpy(out.data() + at, p.data(), p.size() * sizeof(int32_t));
        }
        at += p.size();
    }
    return complete == count;
}

}  // namespace kavo

#include "search/search_index.h"

#include <algorithm>
#include <thread>

#include "search/parallel_collect.h"
#include "search/query.h"

namespace kavo {

std::shared_ptr<const SearchIndex> SearchIndex::Build(const LoadedDatabase& db) {
    auto index = std::make_shared<SearchIndex>();
    const size_t n = static_cast<size_t>(db.NameCount());
    index->pairs.resize(n);
    index->exact.resize(n);
    const std::span<const NameEntry> entries = db.Entries();
    const char16_t* text = db.NameText();
    auto fill = [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            const NameEntry& e = entries[i];
            const std::u16string_view name(text + e.text + 1, e.length);
            index->pairs[i] = PairMask(name);
            index->exact[i] = PatternBits(name);
        }
    };
    const unsigned threads = SearchThreadCount();
    std::vector<std::thread> pool;
    const size_t per = (n + threads - 1) / threads;
    for (unsigned t = 1; t < threads; ++t) {
        const size_t b = std::min(n, t * per);
        const size_t e = std::min(n, b + per);
        pool.emplace_back(fill, b, e);
    }
    fill(0, std::min(n, per));
    for (std::thread& t : pool) {
        t.join();
    }
    return index;
}

}  // namespace kavo

// kavo-searchbench --build CORPUS DBDIR: writes a database of the paths of CORPUS (one a
// line, relative, "/"-separated, as make-corpus writes them) under C:\, with sizes and
// times derived from each path, so that size and date conditions have something to find.
//
// kavo-searchbench DBDIR QUERYFILE [RUNS] [--plain]: loads the database of DBDIR and runs
// each query of QUERYFILE (one a line, UTF-8; an empty line is the empty query) RUNS times
// (default 15) through the search engine, inline. Prints per query: median milliseconds,
// slowest milliseconds, result count, the query. With --plain the engine uses the plain
// one-candidate-at-a-time walk and direct-comparison sorts.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/text.h"
#include "database/database_files.h"
#include "database/loaded_database.h"
#include "database/record_store.h"
#include "search/search_engine.h"

using namespace kavo;

namespace {

std::u16string DbFolder(const char* arg) {
    std::u16string folder = Utf8ToUtf16(arg);
    ReplaceAll(folder, u'/', u'\\');
    if (folder.empty() || folder.back() != u'\\') {
        folder += u'\\';
    }
    return folder;
}

uint64_t Mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
}

int Build(const char* corpus, const char* dbdir) {
    const std::u16string folder = DbFolder(dbdir);
    RecordStore store;
    LoadRecordStore(folder, store);
    store.Clear();
    std::unordered_map<std::string, RecordKey> folders;
    uint32_t next = 1024;
    auto add = [&](const std::string& name, RecordKey parent, bool is_folder, uint64_t h) {
        const RecordKey key = MakeRecordKey(next++, 2);
        const std::u16string wide = Utf8ToUtf16(name);
        ScanEntry e;
        e.key = key;
        e.parent_key = parent;
        e.is_folder = is_folder ? 1 : 0;
        // Sizes spread over many magnitudes (a few files above 2 GiB), times over 20 years.
        const uint64_t m = Mix(h);
        const int shift = static_cast<int>(m % 34);
        e.size = is_folder ? 0 : SizeToCode((m >> 8) & ((uint64_t{1} << shift) - 1));
        e.time = static_cast<uint32_t>(1100000000u + (m >> 20) % 630000000u);
        e.name = wide;
        store.AddRecord(e);
        return key;
    };
    const RecordKey root = add("C:", 0, true, 1);
    std::ifstream in(corpus);
    std::string line;
    size_t count = 0;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        RecordKey parent = root;
        size_t start = 0;
        for (;;) {
            const size_t slash = line.find('/', start);
            if (slash == std::string::npos) {
                break;
            }
            const std::string dir = line.substr(0, slash);
            auto it = folders.find(dir);
            if (it == folders.end()) {
                const RecordKey k = add(line.substr(start, slash - start), parent, true,
                                        std::hash<std::string>()(dir));
                it = folders.emplace(dir, k).first;
            }
            parent = it->second;
            start = slash + 1;
        }
        if (start < line.size()) {
            add(line.substr(start), parent, false, std::hash<std::string>()(line));
        }
        ++count;
    }
    std::printf("%zu paths, %d records; saving\n", count, store.RecordCount());
    return SaveRecordStoreAt(store, false, 0) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--build") {
        return Build(argv[2], argv[3]);
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: kavo-searchbench DBDIR QUERYFILE [RUNS] [--plain]\n");
        return 2;
    }
    const std::u16string folder = DbFolder(argv[1]);
    int runs = 15;
    bool plain = false;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--plain") {
            plain = true;
        } else {
            runs = std::max(1, std::atoi(a.c_str()));
        }
    }
    std::vector<std::string> queries;
    {
        std::ifstream in(argv[2]);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            queries.push_back(line);
        }
    }
    const auto t0 = std::chrono::steady_clock::now();
    DbStatus status;
    std::unique_ptr<LoadedDatabase> db = LoadedDatabase::Load(folder, &status);
    const auto t1 = std::chrono::steady_clock::now();
    std::printf("loaded %d records, %d names in %.0f ms\n", db->RecordCount(), db->NameCount(),
                std::chrono::duration<double, std::milli>(t1 - t0).count());
    if (db->RecordCount() == 0) {
        std::fprintf(stderr, "no database in %s\n", argv[1]);
        return 1;
    }
    NopFileListSourceChangeListener nop;
    SearchEngine engine(db.get(), &nop);
    engine.Initialize();
    engine.SetFastPath(!plain);
    engine.SetNamedSearchLookup([](const std::u16string&) { return std::u16string(); });
    // Warm the lazily built tables (folder totals, path order) once, outside the timing.
    engine.StartSearch(u"/size:1- /sort:path", false);
    for (const std::string& q : queries) {
        const std::u16string text = Utf8ToUtf16(q);
        std::vector<double> ms;
        std::vector<double> cpu;
        int32_t count = 0;
        for (int i = 0; i < runs; ++i) {
            timespec c0;
            timespec c1;
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
            const auto a = std::chrono::steady_clock::now();
            engine.StartSearch(text, false);
            const auto b = std::chrono::steady_clock::now();
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
            count = engine.ResultCount();
            ms.push_back(std::chrono::duration<double, std::milli>(b - a).count());
            cpu.push_back((c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        std::sort(cpu.begin(), cpu.end());
        // Median and slowest wall-clock milliseconds, result count, query; then the median
        // processor milliseconds summed over the threads (a view that load on the machine
        // from other programs disturbs less).
        std::printf("%8.1f %8.1f %9d  %-28s cpu %.1f\n", ms[ms.size() / 2], ms.back(), count,
                    q.empty() ? "(empty)" : q.c_str(), cpu[cpu.size() / 2]);
        std::fflush(stdout);
    }
    engine.Shutdown();
    return 0;
}

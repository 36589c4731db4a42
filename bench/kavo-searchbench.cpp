// kavo-searchbench DBDIR QUERYFILE [RUNS] [--plain]: loads the database of DBDIR and runs
// each query of QUERYFILE (one a line, UTF-8; an empty line is the empty query) RUNS times
// (default 15) through the search engine, inline. Prints per query: median milliseconds,
// slowest milliseconds, result count, the query. With --plain the engine uses the plain
// one-candidate-at-a-time walk and direct-comparison sorts.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "database/loaded_database.h"
#include "search/search_engine.h"

using namespace kavo;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kavo-searchbench DBDIR QUERYFILE [RUNS] [--plain]\n");
        return 2;
    }
    std::u16string folder = Utf8ToUtf16(argv[1]);
    ReplaceAll(folder, u'/', u'\\');
    if (folder.empty() || folder.back() != u'\\') {
        folder += u'\\';
    }
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
        int32_t count = 0;
        for (int i = 0; i < runs; ++i) {
            const auto a = std::chrono::steady_clock::now();
            engine.StartSearch(text, false);
            const auto b = std::chrono::steady_clock::now();
            count = engine.ResultCount();
            ms.push_back(std::chrono::duration<double, std::milli>(b - a).count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%8.1f %8.1f %9d  %s\n", ms[ms.size() / 2], ms.back(), count,
                    q.empty() ? "(empty)" : q.c_str());
        std::fflush(stdout);
    }
    engine.Shutdown();
    return 0;
}

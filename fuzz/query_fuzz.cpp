// Random query text through the parse, the matcher build and a search over a small
// database, with named searches that refer to themselves and to each other.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/text.h"
#include "database/database_files.h"
#include "database/loaded_database.h"
#include "database/record_store.h"
#include "platform/file.h"
#include "search/query.h"
#include "search/search_engine.h"

namespace {

using namespace kavo;

std::unique_ptr<LoadedDatabase> MakeDb() {
    char tmpl[] = "/tmp/kavo_query_fuzz_XXXXXX";
    const char* dir = mkdtemp(tmpl);
    std::u16string folder = Utf8ToUtf16(dir ? dir : "/tmp") + u"\\";
    ReplaceAll(folder, u'/', u'\\');
    RecordStore store;
    LoadRecordStore(folder, store);
    const char16_t* names[] = {u"C:",   u"Windows",  u"notepad.exe", u"Report 2015.doc",
                               u"a",    u"abc",      u"x.tat.txt",   u"readme",
                               u"_1.c", u"\u00fcber"};
    RecordKey parent = 0;
    uint32_t n = 1024;
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        ScanEntry e;
        e.key = MakeRecordKey(n++, 2);
        e.parent_key = parent;
        e.is_folder = i < 3 ? 1 : 0;
        e.size = static_cast<int32_t>(i * 100000) - 300000;
        e.time = static_cast<uint32_t>(i * 1000000000u);
        e.name = names[i];
        store.AddRecord(e);
        if (i < 2) {
            parent = e.key;
        }
    }
    SaveRecordStoreAt(store, false, 0);
    auto db = LoadedDatabase::Load(folder);
    platform::RemoveFile(folder + u"kavo.frs");
    platform::RemoveFile(folder + u"kavo.nrs");
    return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<LoadedDatabase> db = MakeDb();
    if (size > 512) {
        return 0;
    }
    const std::u16string text =
        Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<std::u16string> terms;
    std::vector<std::u16string> paths;
    GroupTokens(text, terms, paths);
    ParseSortText(text);
    NopFileListSourceChangeListener nop;
    for (const bool fast : {false, true}) {
        SearchEngine engine(db.get(), &nop);
        engine.Initialize();
        engine.SetFastPath(fast);
        engine.SetNamedSearchLookup([](const std::u16string& name) -> std::u16string {
            if (name == u"me")
                return u"@me";
            if (name == u"a")
                return u"x <@b> y";
            if (name == u"b")
                return u"!<@a>|@me";
            return u"";
        });
        engine.StartSearch(text, false);
        for (int32_t i = 0; i < engine.ResultCount(); ++i) {
            engine.ItemTexts(i, true);
        }
        engine.Shutdown();
    }
    return 0;
}

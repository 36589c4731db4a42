// kavo find WORDS...: the same parse and walk as the search engine, without the engine,
// printing full paths to standard output.

#include <chrono>

#include "base/case_map.h"
#include "base/format.h"
#include "main/process.h"
#include "main/subcommands.h"
#include "platform/logical_drives.h"
#include "platform/system.h"
#include "search/find_command.h"
#include "search/find_result.h"
#include "search/named_searches.h"

namespace kavo {

std::u16string JoinFindArguments(const Args& args) {
    std::u16string query;
    for (size_t i = 2; i < args.size(); ++i) {
        if (i > 2) {
            query += u' ';
        }
        if (args[i].find(u' ') != std::u16string::npos) {
            query += u'"' + args[i] + u'"';
        } else {
            query += args[i];
        }
    }
    return query;
}

int32_t FindAndPrint(const LoadedDatabase& db,
                     const std::u16string& query,
                     const MatchContext& ctx,
                     const std::function<void(const std::u16string&)>& print,
                     const std::function<bool()>& interrupted) {
    const ParsedQuery q = ParseQuery(query);
    int32_t folder = -1;
    int32_t root = -1;
    if (q.folder.size() >= 2 && q.folder[1] == u':') {
        folder = db.RecordOfPath(Lower(q.folder));
        if (folder >= 0) {
            root = db.RootOfRecord(folder);
        }
    }
    CandidateFilter filter;
    filter.db = &db;
    filter.apply_hidden = false;
    if (folder < 0 && !q.folder.empty() && q.folder.find(u'\\') != std::u16string::npos) {
        filter.mode = CandidateFilter::Folder::kOwnPathHas;
        filter.fragment = FolderFragment(q.folder);
    } else if (folder >= 0) {
        filter.mode = CandidateFilter::Folder::kInsideFolder;
        filter.folder = folder;
        filter.is_drive_root = folder == root;
        filter.drive = db.DriveIndex(root);
    }
    FindResultPtr walker = ChooseFindResult(q, ctx);
    int32_t printed = 0;
    int64_t candidates = 0;
    for (;;) {
        if (candidates % 10 == 9 && interrupted()) {
            break;
        }
        if (!walker->Next()) {
            break;
        }
        ++candidates;
        const int32_t r = walker->Current();
        if (filter.Keep(r)) {
            print(db.PathOfRecord(r, true));
            ++printed;
        }
    }
    walker->Release();
    return printed;
}

void RunFind(const Args& args) {
    const std::u16string query = JoinFindArguments(args);
    const std::u16string settings = Process().settings_path;
    if (query.find(u'@') != std::u16string::npos) {
        EnsureNamedSearches(settings);
    }
    std::unique_ptr<LoadedDatabase> db = LoadedDatabase::Load(Process().database_folder);
    MatchContext ctx;
    ctx.db = db.get();
    ctx.named_search = [settings](const std::u16string& name) {
        return FindNamedSearchIn(settings, name);
    };
    ctx.logical_drives = [] { return platform::LogicalDrivesMask(); };
    const auto start = std::chrono::steady_clock::now();
    const int32_t found = FindAndPrint(
        *db, query, ctx,
        [](const std::u16string& path) {
            platform::StdoutWrite(path + u"\n");
            platform::StdoutFlush();
        },
        [] { return Process().interrupted.load(); });
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    platform::ConsoleWriteDirect(
        Format(u"\nFound %d items (%d ms)\n", found, static_cast<int64_t>(ms)) + u"\n");
    db.reset();
}

}  // namespace kavo

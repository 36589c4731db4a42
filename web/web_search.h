// The web search service's request handler: the search page at "/", the JSON results at
// "/query.json", the indexed files under "/X:/...", thumbnails at "/thumb.png" (declined
// until the thumbnail renderer exists) and a fixed reply for anything else.
//
// Every request is handled under Lock(), which the owner of the database also takes while it
// replaces the database. The database is loaded from the database folder on first use.
//
// Files are sent only when their path is a record of the loaded database that is not
// hidden, and never from inside the database folder (which holds kavo.ini with the web
// password); anything else is answered 404.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/loaded_database.h"
#include "search/search_engine.h"
#include "web/http_server_core.h"

namespace kavo::web {

// At most this many results go out per request.
constexpr int32_t kResultWindow = 50;

struct WebItem {
    bool is_folder = false;
    std::u16string name;
    std::u16string folder_path;  // backslashes, no trailing one; empty for a drive root
    std::u16string size_text;    // "1,234 KB" for files when sizes are shown
};

struct WebSearchResult {
    std::u16string query;
    bool show_size = false;
    int32_t found = 0;
    int32_t first = 0;  // index of items[0]
    int32_t last = -1;  // last index delivered (first - 1 when none)
    std::vector<WebItem> items;
    int64_t milliseconds = 0;
};

// "1,234 KB": bytes / 1024 rounded up, groups of three digits.
std::u16string WebSizeText(int64_t bytes);
// The JSON array of the results ("C:/Windows/", "C:/Windows/notepad.exe|213 KB").
std::string ResultsJson(const WebSearchResult& r);
// The whole search page.
std::string SearchPage(const WebSearchResult& r);

class WebSearchService {
  public:
    // `database_folder` ends with a backslash; `settings_path` is its kavo.ini.
    WebSearchService(std::u16string database_folder, std::u16string settings_path);
    ~WebSearchService();
    WebSearchService(const WebSearchService&) = delete;
    WebSearchService& operator=(const WebSearchService&) = delete;

    // The request handler of the server core.
    int Handle(HttpRequest& request, HttpEvent event);

    // Held for every request; the database's owner takes it to replace the database.
    std::mutex& Lock() { return lock_; }
    // Drops the database (under Lock()); the next request loads it again.
    void UnloadDatabase();

    // The search step: parameters q, from, to, showSize from the request.
    WebSearchResult Search(const HttpRequest& request);

  private:
    void EnsureDatabase();
    void SendDriveFile(HttpRequest& request);
    void SendPage(HttpRequest& request);
    void SendJson(HttpRequest& request);

    std::u16string database_folder_;
    std::u16string settings_path_;
    std::mutex lock_;
    std::unique_ptr<LoadedDatabase> db_;
    // One engine per loaded database, reused by every request (requests are serialised by
    // the lock): a fresh engine per request would rebuild its name index each time.
    NopFileListSourceChangeListener nop_;
    std::unique_ptr<SearchEngine> engine_;
};

}  // namespace kavo::web

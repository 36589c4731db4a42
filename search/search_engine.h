// The search engine: runs queries over the loaded database, on a search thread of its own
// or inline, and keeps the result (record indices in result order) for the result list,
// the web service and the export.
//
// Threads: StartSearch may be called from any thread. While a search runs, a newer query
// handed in replaces the pending text; the running search notices within 100 candidates,
// stops and runs the newest text, and the listener hears OnSearchFinished once, after the
// last run. The results array is written only by a run; read it only while no search runs
// (after OnSearchFinished). The database and the digest information must not be replaced
// while a search runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/event.h"
#include "database/loaded_database.h"
#include "search/digest_info.h"
#include "search/find_result.h"
#include "search/matchers.h"
#include "search/parallel_collect.h"
#include "search/query.h"
#include "search/search_index.h"

namespace kavo {

class IFileListSourceChangeListener {
  public:
    virtual ~IFileListSourceChangeListener() = default;
    virtual void OnSearchStarted(int reserved) = 0;
    virtual void OnResultsCounted(int reserved) = 0;
    // `cut_short`: a newer query was handed in when the search thread ended.
    virtual void OnSearchFinished(bool cut_short) = 0;
    virtual int OnSourceChanged() = 0;
};

class NopFileListSourceChangeListener : public IFileListSourceChangeListener {
  public:
    void OnSearchStarted(int) override {}
    void OnResultsCounted(int) override {}
    void OnSearchFinished(bool) override {}
    int OnSourceChanged() override { return 0; }
};

// One result position, as the list and the export show it.
struct ItemInfo {
    bool is_folder = false;
    std::u16string name;
    std::u16string folder_path;  // the full path up to the last backslash; empty for roots
    std::u16string size_text;    // ItemTexts only
    std::u16string date_text;    // ItemTexts only
};

class SearchEngine {
  public:
    // `db` and `listener` must outlive the engine; `digest` may be null.
    SearchEngine(const LoadedDatabase* db,
                 IFileListSourceChangeListener* listener,
                 const DigestInformation* digest = nullptr);
    ~SearchEngine();
    SearchEngine(const SearchEngine&) = delete;
    SearchEngine& operator=(const SearchEngine&) = delete;

    void Initialize();
    // Waits for a running search thread to end, then drops the results.
    void Shutdown();

    void StartSearch(const std::u16string& query, bool on_own_thread);
    void SetResults(const int32_t* records, int32_t n);

    int32_t ResultCount();
    // -1 when i is not a valid position.
    int32_t RecordAt(int32_t i) const;
    const std::vector<int32_t>& Results() const { return results_; }

    std::optional<ItemInfo> GetItemInfo(int32_t i) const;
    std::optional<ItemInfo> ItemTexts(int32_t i, bool show_folder_size) const;

    void SortByKeys(const std::vector<SortKey>& keys);
    void SortSingle(uint32_t key, bool ascending);
    bool NeedsSort() const;
    const std::vector<SortKey>& SortKeys() const { return sort_keys_; }

    void ApplyHiddenRule();
    // Writes the results as a text list, or as CSV when the path ends with ".csv" (any
    // case); UTF-8 with a byte-order mark. False when the file could not be written.
    bool Export(const std::u16string& path, bool show_folder_size) const;

    std::u16string CurrentFolder() const { return current_folder_; }
    bool IsRunning();
    // Waits until no search thread of this engine is alive.
    void WaitIdle();

    void SetShowAllForEmpty(bool v) { show_all_for_empty_ = v; }
    // Whether the SIZE order uses folder totals (the ShowFolderSize setting).
    void SetShowFolderSize(bool v) { show_folder_size_ = v; }
    // Off: every walk pulls one candidate at a time and every sort compares records
    // directly (the plain reference algorithms); on (the default): the parallel walk and the
    // precomputed-key sorts, which give the same results in the same order.
    void SetFastPath(bool v) { fast_path_ = v; }
    // How named searches are found (the settings file's by default).
    void SetNamedSearchLookup(std::function<std::u16string(const std::u16string&)> f);
    void SetLogicalDrives(std::function<uint32_t()> f);
    // The name filters of the fast path for this engine's database. Without one the engine
    // builds its own on its first fast search; an owner that makes engines often (the web
    // service) builds one with SearchIndex::Build and hands it to each.
    void SetSearchIndex(std::shared_ptr<const SearchIndex> index) { index_ = std::move(index); }

  private:
    void ThreadProcedure();
    void RunQuery(const std::u16string& text);
    void RunQuerySafely(const std::u16string& text);
    void ListChildren(int32_t folder);
    void FragmentSearch(const ParsedQuery& q, const std::u16string& text);
    void Walk(IKavoFindResult& walker,
              const CandidateFilter& filter,
              const std::u16string& text,
              bool fragment_rule);
    bool CheckNewQuery(const std::u16string& text);
    void Publish();
    void SortMulti(const std::vector<SortKey>& keys);

    const LoadedDatabase* db_;
    IFileListSourceChangeListener* listener_;
    MatchContext ctx_;

    bool show_all_for_empty_ = true;
    bool show_folder_size_ = false;
    bool fast_path_ = true;
    bool initialized_ = false;

    std::mutex lock_;
    bool running_ = false;          // guarded by lock_
    std::u16string pending_query_;  // guarded by lock_
    int32_t published_count_ = 0;   // guarded by lock_
    bool list_children_ = false;
    ManualResetEvent new_query_;
    ManualResetEvent idle_;
    std::atomic<int> live_threads_{0};

    std::vector<int32_t> results_;
    std::u16string current_folder_;
    std::vector<SortKey> sort_keys_;
    std::shared_ptr<const SearchIndex> index_;
    CollectWorkspace workspace_;
};

// The one-key and multi-key orders over a list of records, exposed so that the reference
// (direct comparisons) and the fast (precomputed keys) forms can be checked against each
// other. Equal records are ordered by record index (ascending order; reversed with it).
void SortRecords(const LoadedDatabase& db,
                 const DigestInformation* digest,
                 std::vector<int32_t>& records,
                 const std::vector<SortKey>& keys,
                 bool show_folder_size,
                 bool fast);

// Date text of a PackedTime in local time: "2015-02-28 17:11".
std::u16string DateText(uint32_t stamp);

}  // namespace kavo

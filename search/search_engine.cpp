#include "search/search_engine.h"

#include <algorithm>
#include <new>
#include <thread>

#include "base/case_map.h"
#include "base/format.h"
#include "base/text.h"
#include "platform/file.h"
#include "platform/local_time.h"
#include "platform/logical_drives.h"
#include "search/civil_time.h"
#include "search/named_searches.h"
#include "search/parallel_collect.h"

namespace kavo {

namespace {

std::u16string Trim(const std::u16string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && s[b] == u' ') {
        ++b;
    }
    while (e > b && s[e - 1] == u' ') {
        --e;
    }
    return s.substr(b, e - b);
}

}  // namespace

SearchEngine::SearchEngine(const LoadedDatabase* db,
                           IFileListSourceChangeListener* listener,
                           const DigestInformation* digest)
    : db_(db), listener_(listener) {
    ctx_.db = db;
    ctx_.digest = digest;
    ctx_.named_search = [](const std::u16string& name) { return FindNamedSearch(name); };
    ctx_.logical_drives = [] { return platform::LogicalDrivesMask(); };
    idle_.Set();
}

SearchEngine::~SearchEngine() {
    WaitIdle();
}

void SearchEngine::SetNamedSearchLookup(std::function<std::u16string(const std::u16string&)> f) {
    ctx_.named_search = std::move(f);
}

void SearchEngine::SetLogicalDrives(std::function<uint32_t()> f) {
    ctx_.logical_drives = std::move(f);
}

void SearchEngine::Initialize() {
    new_query_.Reset();
    idle_.Set();
    initialized_ = true;
}

void SearchEngine::Shutdown() {
    // A detached search thread still uses this object: let it end first.
    new_query_.Set();
    WaitIdle();
    new_query_.Reset();
    std::vector<int32_t>().swap(results_);
    {
        std::lock_guard<std::mutex> g(lock_);
        published_count_ = 0;
    }
    initialized_ = false;
}

void SearchEngine::WaitIdle() {
    while (live_threads_.load() != 0) {
        idle_.Wait(std::chrono::milliseconds(10));
    }
}

bool SearchEngine::IsRunning() {
    std::lock_guard<std::mutex> g(lock_);
    return running_;
}

void SearchEngine::StartSearch(const std::u16string& query, bool on_own_thread) {
    const bool children = !query.empty() && query.back() == u'\\';
    const std::u16string text = Trim(query);
    {
        std::lock_guard<std::mutex> g(lock_);
        pending_query_ = text;
        list_children_ = children;
        if (running_) {
            new_query_.Set();
            return;
        }
        running_ = true;
        live_threads_.fetch_add(1);
    }
    if (on_own_thread) {
        std::thread([this] { ThreadProcedure(); }).detach();
    } else {
        ThreadProcedure();
    }
}

void SearchEngine::ThreadProcedure() {
    for (;;) {
        idle_.Reset();
        std::u16string text;
        {
            std::lock_guard<std::mutex> g(lock_);
            text = pending_query_;
        }
        RunQuerySafely(text);
        bool cut_short = false;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (pending_query_ != text) {
                continue;
            }
            running_ = false;
            cut_short = new_query_.IsSet();
        }
        listener_->OnSearchFinished(cut_short);
        new_query_.Reset();
        live_threads_.fetch_sub(1);
        idle_.Set();
        return;
    }
}

void SearchEngine::RunQuerySafely(const std::u16string& text) {
    // A failure inside a run (out of memory) ends the run with what it has; the caller then
    // finishes the thread normally, so running, idle and the listener stay consistent.
    try {
        RunQuery(text);
    } catch (const std::exception&) {
        try {
            Publish();
            listener_->OnResultsCounted(0);
        } catch (const std::exception&) {
            std::lock_guard<std::mutex> g(lock_);
            published_count_ = 0;
        }
    }
}

void SearchEngine::Publish() {
    std::lock_guard<std::mutex> g(lock_);
    published_count_ = static_cast<int32_t>(results_.size());
}

bool SearchEngine::CheckNewQuery(const std::u16string& text) {
    if (!new_query_.IsSet()) {
        return false;
    }
    new_query_.Reset();
    std::lock_guard<std::mutex> g(lock_);
    return pending_query_ != text;
}

void SearchEngine::RunQuery(const std::u16string& text) {
    const ParsedQuery q = ParseQuery(text);
    current_folder_ = q.folder;
    listener_->OnSearchStarted(0);
    results_.clear();
    bool children = false;
    {
        std::lock_guard<std::mutex> g(lock_);
        children = list_children_;
    }

    int32_t folder = -1;
    int32_t root = -1;
    if (q.folder.size() >= 2 && q.folder[1] == u':') {
        folder = db_->RecordOfPath(Lower(q.folder));
        if (folder >= 0) {
            root = db_->RootOfRecord(folder);
        }
    }
    if (text == u"\\") {
        ListChildren(-1);
        return;
    }
    if (folder < 0 && !q.folder.empty() && q.folder.find(u'\\') != std::u16string::npos) {
        FragmentSearch(q, text);
        return;
    }
    if (folder >= 0 && children) {
        ListChildren(folder);
        return;
    }

    FindResultPtr walker =
        (!show_all_for_empty_ && text.empty()) ? MakeEmptyResult() : ChooseFindResult(q, ctx_);
    CandidateFilter filter;
    filter.db = db_;
    filter.apply_hidden = text.find(u"/hidden") == std::u16string::npos;
    if (folder >= 0) {
        filter.mode = CandidateFilter::Folder::kInsideFolder;
        filter.folder = folder;
        filter.is_drive_root = folder == root;
        filter.drive = db_->DriveIndex(root);
    }
    Walk(*walker, filter, text, false);
    walker->Release();
    Publish();
    if (!q.sortText.empty()) {
        sort_keys_ = ParseSortText(q.sortText);
        SortByKeys(sort_keys_);
    } else {
        sort_keys_.clear();
    }
    listener_->OnResultsCounted(0);
}

void SearchEngine::Walk(IKavoFindResult& walker,
                        const CandidateFilter& filter,
                        const std::u16string& text,
                        bool fragment_rule) {
    if (fast_path_) {
        if (!index_ || index_->size() != static_cast<size_t>(db_->NameCount())) {
            index_ = SearchIndex::Build(*db_);
        }
        walker.UseIndex(index_.get());
        if (fragment_rule) {
            CollectParallel(
                walker, filter, [this] { return new_query_.IsSet(); }, results_);
        } else {
            CollectParallel(
                walker, filter, [this, &text] { return CheckNewQuery(text); }, results_);
        }
        return;
    }
    int64_t pulled = 0;
    while (walker.Next()) {
        const int32_t r = walker.Current();
        if (filter.Keep(r)) {
            results_.push_back(r);
        }
        if (++pulled % 100 == 0) {
            if (fragment_rule ? new_query_.IsSet() : CheckNewQuery(text)) {
                break;
            }
        }
    }
}

void SearchEngine::ListChildren(int32_t folder) {
    results_.clear();
    const int32_t n = db_->RecordCount();
    const std::span<const int32_t> parents = db_->Parents();
    for (int32_t r = 0; r < n; ++r) {
        if (parents[static_cast<size_t>(r)] == folder && db_->HiddenMark(r) == 0) {
            results_.push_back(r);
        }
        if ((r + 1) % 1000 == 0 && new_query_.IsSet()) {
            break;
        }
    }
    Publish();
    listener_->OnResultsCounted(0);
}

void SearchEngine::FragmentSearch(const ParsedQuery& q, const std::u16string& text) {
    results_.clear();
    FindResultPtr walker = ChooseFindResult(q, ctx_);
    CandidateFilter filter;
    filter.db = db_;
    filter.apply_hidden = text.find(u"/hidden") == std::u16string::npos;
    filter.mode = CandidateFilter::Folder::kParentPathHas;
    filter.fragment = FolderFragment(q.folder);
    Walk(*walker, filter, text, true);
    walker->Release();
    Publish();
    listener_->OnResultsCounted(0);
}

void SearchEngine::SetResults(const int32_t* records, int32_t n) {
    results_.assign(records, records + std::max(n, 0));
    bool cut_short = false;
    {
        std::lock_guard<std::mutex> g(lock_);
        published_count_ = static_cast<int32_t>(results_.size());
        running_ = false;
        cut_short = new_query_.IsSet();
    }
    listener_->OnSearchFinished(cut_short);
    idle_.Set();
    new_query_.Reset();
}

int32_t SearchEngine::ResultCount() {
    std::lock_guard<std::mutex> g(lock_);
    return published_count_;
}

int32_t SearchEngine::RecordAt(int32_t i) const {
    if (i < 0 || static_cast<size_t>(i) >= results_.size() || i >= published_count_) {
        return -1;
    }
    return results_[static_cast<size_t>(i)];
}

void SearchEngine::SortByKeys(const std::vector<SortKey>& keys) {
    if (keys.empty()) {
        return;
    }
    std::vector<int32_t> part(
        results_.begin(),
        results_.begin() +
            std::min<ptrdiff_t>(published_count_, static_cast<ptrdiff_t>(results_.size())));
    SortRecords(*db_, ctx_.digest, part, keys, show_folder_size_, fast_path_);
    std::copy(part.begin(), part.end(), results_.begin());
}

void SearchEngine::SortSingle(uint32_t key, bool ascending) {
    SortKey k;
    k.key = key;
    k.ascending = ascending;
    SortByKeys({k});
}

bool SearchEngine::NeedsSort() const {
    if (sort_keys_.empty()) {
        return false;
    }
    return !(sort_keys_.size() == 1 && sort_keys_[0].key == kSortName && sort_keys_[0].ascending);
}

void SearchEngine::ApplyHiddenRule() {
    std::u16string pending;
    {
        std::lock_guard<std::mutex> g(lock_);
        pending = pending_query_;
    }
    const bool show_hidden = pending.find(u"/hidden") != std::u16string::npos;
    const size_t n = std::min(results_.size(), static_cast<size_t>(std::max(published_count_, 0)));
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        const int32_t r = results_[i];
        const bool marked = db_->HiddenMark(r) != 0;
        if (marked == show_hidden) {
            results_[kept++] = r;
        }
    }
    results_.resize(kept);
    std::lock_guard<std::mutex> g(lock_);
    published_count_ = static_cast<int32_t>(kept);
}

std::optional<ItemInfo> SearchEngine::GetItemInfo(int32_t i) const {
    const int32_t r = RecordAt(i);
    if (r < 0) {
        return std::nullopt;
    }
    ItemInfo info;
    std::u16string path = db_->PathOfRecord(r, true);
    if (!path.empty() && path.back() == u'\\') {
        info.is_folder = true;
        path.pop_back();
    }
    const size_t slash = path.rfind(u'\\');
    if (slash == std::u16string::npos) {
        info.name = std::move(path);
    } else {
        info.name = path.substr(slash + 1);
        info.folder_path = path.substr(0, slash);
    }
    return info;
}

std::u16string DateText(uint32_t stamp) {
    const uint64_t local = platform::UtcFileTimeToLocal(FileTimeFromPackedTime(stamp));
    const CivilTime t = CivilFromFileTime(local);
    return Format(u"%02d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
}

std::optional<ItemInfo> SearchEngine::ItemTexts(int32_t i, bool show_folder_size) const {
    std::optional<ItemInfo> info = GetItemInfo(i);
    if (!info) {
        return info;
    }
    const int32_t r = results_[static_cast<size_t>(i)];
    if (!db_->IsFolder(r)) {
        const int64_t bytes = SizeCodeToBytes(db_->Size(r));
        info->size_text = Format(u"%lld", static_cast<long long>(bytes / 1024));
    } else if (show_folder_size) {
        const int64_t total = db_->FolderSize(r);
        if (total != -1) {
            info->size_text = Format(u"%lld", static_cast<long long>(total / 1024));
        }
    }
    info->date_text = DateText(db_->Time(r));
    return info;
}

bool SearchEngine::Export(const std::u16string& path, bool show_folder_size) const {
    platform::FileWriter w;
    if (!w.Open(path)) {
        return false;
    }
    std::string out = "\xEF\xBB\xBF";
    const size_t dot = path.rfind(u'.');
    const bool csv = dot != std::u16string::npos && EqualsIgnoreCase(path.substr(dot), u".csv");
    const int32_t n = std::min(published_count_, static_cast<int32_t>(results_.size()));
    if (csv) {
        out += "\"Name\",\"Path\",\"Size(KB)\",\"Date modified\"\r\n";
    }
    for (int32_t i = 0; i < n; ++i) {
        if (csv) {
            const std::optional<ItemInfo> t = ItemTexts(i, show_folder_size);
            out += Utf16ToUtf8(Format(u"\"%s\",\"%s\",\"%s\",\"%s\"\r\n", t->name, t->folder_path,
                                      t->size_text, t->date_text));
        } else {
            out += Utf16ToUtf8(db_->PathOfRecord(results_[static_cast<size_t>(i)], true));
            out += "\r\n";
        }
        if (out.size() >= (1u << 20)) {
            if (!w.Write(out.data(), out.size())) {
                return false;
            }
            out.clear();
        }
    }
    if (!w.Write(out.data(), out.size())) {
        return false;
    }
    return w.Commit();
}

}  // namespace kavo

#include "search/find_result.h"

#include <algorithm>

#include "base/case_map.h"
#include "base/text.h"

namespace kavo {

bool CandidateFilter::KeepByFolder(int32_t r) const {
    switch (mode) {
        case Folder::kNone:
            return true;
        case Folder::kInsideFolder:
            return db->DriveIndex(r) == drive && (is_drive_root || IsAncestor(*db, folder, r));
        case Folder::kParentPathHas: {
            const int32_t parent = db->Parent(r);
            return parent >= 0 &&
                   db->LowerPathOfRecord(parent).find(fragment) != std::u16string::npos;
        }
        case Folder::kOwnPathHas:
            return db->LowerPathOfRecord(r).find(fragment) != std::u16string::npos;
    }
    return false;
}

namespace {

// The substring test of the name walkers: first unit, then the rest, at each start.
inline bool HasSubstring(const char16_t* name,
                         uint32_t length,
                         const char16_t* text,
                         uint32_t tlen) {
    if (tlen > length) {
        return false;
    }
    const char16_t first = text[0];
    const uint32_t last_start = length - tlen;
    for (uint32_t i = 0; i <= last_start; ++i) {
        if (name[i] != first) {
            continue;
        }
        uint32_t k = 1;
        while (k < tlen && name[i + k] == text[k]) {
            ++k;
        }
        if (k == tlen) {
            return true;
        }
    }
    return false;
}

// State and protocol common to the walkers over name entries. A concrete walker supplies
// the entry test (Test) and, for the general walker, the record rule (RecordPasses).
template <typename Derived>
class NameWalker : public IKavoFindResult {
  public:
    explicit NameWalker(const LoadedDatabase& db) : db_(db), entries_(db.Entries()) {}

    bool Next() override {
        const Derived& self = static_cast<const Derived&>(*this);
        if (current_ >= 0) {
            const NameEntry& e = entries_[static_cast<size_t>(current_)];
            while (handed_ < e.count) {
                const int32_t r = e.first + handed_++;
                if (self.RecordPasses(r, verdict_)) {
                    record_ = r;
                    return true;
                }
            }
            current_ = -1;
        }
        while (position_ < static_cast<int32_t>(entries_.size())) {
            const int32_t n = position_++;
            const NameEntry& e = entries_[static_cast<size_t>(n)];
            Verdict v = 1;
            if (!self.Test(e, v)) {
                continue;
            }
            current_ = n;
            verdict_ = v;
            handed_ = 0;
            while (handed_ < e.count) {
                const int32_t r = e.first + handed_++;
                if (self.RecordPasses(r, verdict_)) {
                    record_ = r;
                    return true;
                }
            }
            current_ = -1;
        }
        return false;
    }

    int32_t Current() const override { return record_; }
    int32_t UnitCount() const override { return static_cast<int32_t>(entries_.size()); }

    void CollectUnits(int32_t begin,
                      int32_t end,
                      const CandidateFilter& filter,
                      std::vector<int32_t>& out) const override {
        const Derived& self = static_cast<const Derived&>(*this);
        // With a batch record rule, the records of consecutive accepted entries (which are
        // consecutive records) are judged as one run.
        const bool batch = filter.mode == CandidateFilter::Folder::kNone && self.HasBatch();
        if (batch && self.NameFree()) {
            // Every entry with records is accepted, and the entries' records are consecutive:
            // the units map onto one run of records.
            const int32_t run_begin = entries_[static_cast<size_t>(begin)].first;
            const int32_t run_stop = static_cast<size_t>(end) < entries_.size()
                                         ? entries_[static_cast<size_t>(end)].first
                                         : db_.RecordCount();
            if (run_stop > run_begin) {
                self.CollectRecords(run_begin, run_stop - run_begin, filter.apply_hidden, out);
            }
            return;
        }
        int32_t run_first = 0;
        int32_t run_end = 0;
        auto flush = [&] {
            if (run_end > run_first) {
                self.CollectRecords(run_first, run_end - run_first, filter.apply_hidden, out);
            }
            run_first = run_end = 0;
        };
        auto accept = [&](int32_t n, Verdict v) {
            const NameEntry& e = entries_[static_cast<size_t>(n)];
            if (batch) {
                if (e.first != run_end) {
                    flush();
                    run_first = e.first;
                }
                run_end = e.first + e.count;
                return;
            }
            const int32_t stop = e.first + e.count;
            for (int32_t r = e.first; r < stop; ++r) {
                if (self.RecordPasses(r, v) && filter.Keep(r)) {
                    out.push_back(r);
                }
            }
        };
        if (!index_) {
            for (int32_t n = begin; n < end; ++n) {
                Verdict v = 1;
                if (self.Test(entries_[static_cast<size_t>(n)], v)) {
                    accept(n, v);
                }
            }
            flush();
            return;
        }
        // With the index: a block's survivors of the index filters are gathered first, then
        // tested with their entries and texts fetched a few survivors ahead, so that the
        // memory reads of many survivors overlap instead of waiting one after another.
        constexpr int32_t kBlock = 1024;
        constexpr size_t kEntryAhead = 16;
        constexpr size_t kTextAhead = 8;
        int32_t survivors[kBlock];
        const char16_t* text = db_.NameText();
        for (int32_t from = begin; from < end; from += kBlock) {
            const int32_t to = std::min(end, from + kBlock);
            size_t m = 0;
            for (int32_t n = from; n < to; ++n) {
                survivors[m] = n;
                m += static_cast<size_t>(self.IndexPass(*index_, n));
            }
            for (size_t i = 0; i < m; ++i) {
                if (i + kEntryAhead < m) {
                    __builtin_prefetch(&entries_[static_cast<size_t>(survivors[i + kEntryAhead])]);
                }
                if (i + kTextAhead < m) {
                    const NameEntry& ahead =
                        entries_[static_cast<size_t>(survivors[i + kTextAhead])];
                    __builtin_prefetch(text + ahead.text);
                }
                Verdict v = 1;
                if (self.TestAfterIndex(*index_, survivors[i], v)) {
                    accept(survivors[i], v);
                }
            }
        }
        flush();
    }

    // The index filters alone: false only when the entry test would fail (default: none).
    bool IndexPass(const SearchIndex&, int32_t) const { return true; }

    // Default record rule: every record of an accepted entry.
    bool RecordPasses(int32_t, Verdict) const { return true; }
    // A batch form of the record rule over a run of records (HasBatch: there is one).
    bool HasBatch() const { return false; }
    // Whether the entry test accepts every entry with records (only with a batch rule).
    bool NameFree() const { return false; }
    bool CollectRecords(int32_t, int32_t, bool, std::vector<int32_t>&) const { return false; }

    // The entry test of an entry that IndexPass accepted.
    bool TestAfterIndex(const SearchIndex&, int32_t n, Verdict& v) const {
        return static_cast<const Derived&>(*this).Test(entries_[static_cast<size_t>(n)], v);
    }

    void UseIndex(const SearchIndex* index) override {
        index_ = index && index->size() == entries_.size() ? index : nullptr;
    }

  protected:
    const char16_t* Text(const NameEntry& e) const { return db_.NameText() + e.text + 1; }
    const NameEntry& EntryAt(int32_t n) const { return entries_[static_cast<size_t>(n)]; }

    const LoadedDatabase& db_;
    std::span<const NameEntry> entries_;
    const SearchIndex* index_ = nullptr;

  private:
    int32_t position_ = 0;
    int32_t current_ = -1;
    int32_t handed_ = 0;
    Verdict verdict_ = 1;
    int32_t record_ = -1;
};

class SingleCharResult : public NameWalker<SingleCharResult> {
  public:
    SingleCharResult(const LoadedDatabase& db, char16_t c)
        : NameWalker(db),
          c_(c),
          mask_(PatternBits(std::u16string_view(&c_, 1))),
          exact_(HasExactBit(c)) {}
    bool IndexPass(const SearchIndex& index, int32_t n) const {
        return !exact_ || index.MayContain(n, NameQuery{0, mask_});
    }
    bool TestAfterIndex(const SearchIndex&, int32_t n, Verdict& v) const {
        // For these characters the text-derived mask says exactly whether the name has it;
        // the stored mask is still checked, as the plain test does.
        if (exact_) {
            return (EntryAt(n).bits & mask_) == mask_;
        }
        return Test(EntryAt(n), v);
    }
    bool Test(const NameEntry& e, Verdict&) const {
        if ((e.bits & mask_) != mask_) {
            return false;
        }
        const char16_t* t = Text(e);
        for (uint32_t i = e.length; i-- > 0;) {
            if (t[i] == c_) {
                return true;
            }
        }
        return false;
    }

  private:
    char16_t c_;
    NameBits mask_;
    bool exact_;
};

class NameBitsResult : public NameWalker<NameBitsResult> {
  public:
    NameBitsResult(const LoadedDatabase& db, std::u16string text)
        : NameWalker(db),
          text_(std::move(text)),
          mask_(PatternBits(text_)),
          query_{PairMask(text_), mask_} {}
    bool IndexPass(const SearchIndex& index, int32_t n) const {
        return index.MayContain(n, query_);
    }
    bool Test(const NameEntry& e, Verdict&) const {
        return (e.bits & mask_) == mask_ &&
               HasSubstring(Text(e), e.length, text_.data(), static_cast<uint32_t>(text_.size()));
    }

  private:
    std::u16string text_;
    NameBits mask_;
    NameQuery query_;
};

class HeadTailNameBitsResult : public NameWalker<HeadTailNameBitsResult> {
  public:
    HeadTailNameBitsResult(const LoadedDatabase& db, std::u16string text, bool head)
        : NameWalker(db),
          text_(std::move(text)),
          head_(head),
          mask_(PatternBits(text_)),
          query_{PairMask(text_), mask_} {}
    bool IndexPass(const SearchIndex& index, int32_t n) const {
        return index.MayContain(n, query_);
    }
    bool Test(const NameEntry& e, Verdict&) const {
        const uint32_t tl = static_cast<uint32_t>(text_.size());
        if ((e.bits & mask_) != mask_ || e.length < tl) {
            return false;
        }
        const char16_t* t = Text(e) + (head_ ? 0 : e.length - tl);
        return std::u16string_view(t, tl) == text_;
    }

  private:
    std::u16string text_;
    bool head_;
    NameBits mask_;
    NameQuery query_;
};

class WildcardResult : public NameWalker<WildcardResult> {
  public:
    WildcardResult(const LoadedDatabase& db, const std::u16string& pattern) : NameWalker(db) {
        mask_ = PatternBits(pattern);
        anchored_head_ = !pattern.empty() && pattern.front() != u'*';
        anchored_tail_ = !pattern.empty() && pattern.back() != u'*';
        uint64_t pairs = 0;
        for (std::u16string& p : Split(pattern, u'*')) {
            if (!p.empty()) {
                minimum_ += static_cast<uint32_t>(p.size());
                pairs |= PairMask(p);
                pieces_.push_back(std::move(p));
            }
        }
        query_ = NameQuery{pairs, PatternBits(pattern)};
    }
    bool IndexPass(const SearchIndex& index, int32_t n) const {
        return index.MayContain(n, query_);
    }
    bool Test(const NameEntry& e, Verdict&) const {
        if ((e.bits & mask_) != mask_ || e.length < minimum_) {
            return false;
        }
        const std::u16string_view name(Text(e), e.length);
        size_t lo = 0;
        size_t hi = name.size();
        size_t first = 0;
        size_t last = pieces_.size();
        if (anchored_head_ && first < last) {
            const std::u16string& p = pieces_[first++];
            if (name.substr(0, p.size()) != p) {
                return false;
            }
            lo = p.size();
        }
        if (anchored_tail_ && first < last) {
            const std::u16string& p = pieces_[--last];
            if (hi - lo < p.size() || name.substr(hi - p.size()) != p) {
                return false;
            }
            hi -= p.size();
        }
        size_t at = lo;
        for (size_t k = first; k < last; ++k) {
            const std::u16string& p = pieces_[k];
            bool found = false;
            while (at + p.size() <= hi) {
                if (name[at] == p[0] && name.substr(at, p.size()) == p) {
                    found = true;
                    break;
                }
                ++at;
            }
            if (!found) {
                return false;
            }
            at += p.size();
        }
        return true;
    }

  private:
    std::vector<std::u16string> pieces_;
    NameQuery query_;
    NameBits mask_ = 0;
    uint32_t minimum_ = 0;
    bool anchored_head_ = false;
    bool anchored_tail_ = false;
};

class KeywordsResult : public NameWalker<KeywordsResult> {
  public:
    KeywordsResult(const LoadedDatabase& db, const std::vector<std::u16string>& terms)
        : NameWalker(db) {
        std::u16string all;
        uint64_t pairs = 0;
        for (const std::u16string& t : terms) {
            terms_.push_back(Lower(t));
            all += terms_.back();
            pairs |= PairMask(terms_.back());
        }
        mask_ = PatternBits(all);
        query_ = NameQuery{pairs, mask_};
    }
    bool IndexPass(const SearchIndex& index, int32_t n) const {
        return index.MayContain(n, query_);
    }
    bool Test(const NameEntry& e, Verdict&) const {
        if ((e.bits & mask_) != mask_) {
            return false;
        }
        const char16_t* t = Text(e);
        for (const std::u16string& k : terms_) {
            if (k.empty()) {
                continue;  // an empty term is contained in every name
            }
            if (!HasSubstring(t, e.length, k.data(), static_cast<uint32_t>(k.size()))) {
                return false;
            }
        }
        return true;
    }

  private:
    std::vector<std::u16string> terms_;
    NameBits mask_ = 0;
    NameQuery query_;
};

class LogicalResult : public NameWalker<LogicalResult> {
  public:
    LogicalResult(const LoadedDatabase& db,
                  const std::vector<std::u16string>& terms,
                  const std::vector<std::u16string>& path_terms,
                  const MatchContext& ctx)
        : NameWalker(db) {
        MatcherPtr names = BuildTermsMatcher(terms, ctx);
        if (path_terms.empty()) {
            tree_ = std::move(names);
        } else {
            auto both = std::make_unique<CAndMatcher>();
            both->Add(std::move(names));
            both->Add(BuildPathMatcher(path_terms, ctx));
            tree_ = std::move(both);
        }
        tree_->Prepare();
        has_queries_ = tree_->NameQueries(queries_);
        std::vector<int32_t> none;
        batch_ = tree_->CollectRecords(0, 0, false, none);
        name_free_ = batch_ && tree_->NameFree();
    }
    ~LogicalResult() override { Release(); }
    void Release() override {
        if (tree_) {
            tree_->Release();
            tree_.reset();
        }
    }
    bool Test(const NameEntry& e, Verdict& v) const {
        if (e.count == 0) {
            return false;
        }
        const NameView view{Text(e), e.length, e.bits, e.is_folder != 0};
        v = tree_->MatchName(view);
        return v != 0;
    }
    bool IndexPass(const SearchIndex& index, int32_t n) const {
        if (!has_queries_) {
            return true;
        }
        // Every alternative is checked, without a branch per alternative.
        const uint64_t pairs = index.pairs[static_cast<size_t>(n)];
        const uint32_t exact = index.exact[static_cast<size_t>(n)];
        bool any = false;
        for (const NameQuery& q : queries_) {
            any |= ((pairs & q.pairs) == q.pairs) & ((exact & q.exact) == q.exact);
        }
        return any;
    }
    bool TestAfterIndex(const SearchIndex& index, int32_t n, Verdict& v) const {
        const NameEntry& e = EntryAt(n);
        if (e.count == 0) {
            return false;
        }
        const NameView view{Text(e), e.length, e.bits, e.is_folder != 0,
                            index.pairs[static_cast<size_t>(n)]};
        v = tree_->MatchName(view);
        return v != 0;
    }
    bool RecordPasses(int32_t r, Verdict name_verdict) const {
        const Verdict rv = tree_->MatchRecord(r);
        return rv == 1 || (rv < 0 && name_verdict == 1);
    }
    bool HasBatch() const { return batch_; }
    bool NameFree() const { return name_free_; }
    bool CollectRecords(int32_t first,
                        int32_t count,
                        bool apply_hidden,
                        std::vector<int32_t>& out) const {
        return tree_->CollectRecords(first, count, apply_hidden, out);
    }

  private:
    MatcherPtr tree_;
    std::vector<NameQuery> queries_;
    bool has_queries_ = false;
    bool batch_ = false;
    bool name_free_ = false;
};

class AllResult : public IKavoFindResult {
  public:
    explicit AllResult(const LoadedDatabase& db) : count_(db.RecordCount()) {}
    bool Next() override {
        if (next_ >= count_) {
            return false;
        }
        current_ = next_++;
        return true;
    }
    int32_t Current() const override { return current_; }
    int32_t UnitCount() const override { return count_; }
    void CollectUnits(int32_t begin,
                      int32_t end,
                      const CandidateFilter& filter,
                      std::vector<int32_t>& out) const override {
        for (int32_t r = begin; r < end; ++r) {
            if (filter.Keep(r)) {
                out.push_back(r);
            }
        }
    }

  private:
    int32_t count_;
    int32_t next_ = 0;
    int32_t current_ = -1;
};

class EmptyResult : public IKavoFindResult {
  public:
    bool Next() override { return false; }
    int32_t Current() const override { return -1; }
    int32_t UnitCount() const override { return 0; }
    void CollectUnits(int32_t,
                      int32_t,
                      const CandidateFilter&,
                      std::vector<int32_t>&) const override {}
};

bool NeedsGeneralWalker(const std::u16string& t) {
    return (!t.empty() && t[0] == u'@') || t.find_first_of(u"*|/\\<") != std::u16string::npos;
}

}  // namespace

WalkerChoice ChooseWalker(const ParsedQuery& q) {
    WalkerChoice w;
    if (!q.terms.empty() || q.pathTerms.size() > 1) {
        bool general = !q.pathTerms.empty();
        for (const std::u16string& t : q.terms) {
            general = general || NeedsGeneralWalker(t);
        }
        w.kind = general ? WalkerKind::kLogical : WalkerKind::kKeywords;
        return w;
    }
    std::u16string s = Lower(q.simpleName);
    enum { kPlain, kHead, kTail, kGeneral } shape = kPlain;
    const size_t c = s.find(u'*');
    if (c == std::u16string::npos) {
        shape = kPlain;
    } else if (c == s.size() - 1) {
        s.pop_back();
        shape = kHead;
    } else {
        std::u16string reduced;
        for (const char16_t ch : s) {
            if (!(ch == u'*' && !reduced.empty() && reduced.back() == u'*')) {
                reduced += ch;
            }
        }
        s = std::move(reduced);
        if (c == 0) {
            if (s == u"*") {
                s.clear();
                shape = kPlain;
            } else if (s.find(u'*', 1) != std::u16string::npos) {
                shape = kGeneral;
            } else {
                s.erase(0, 1);
                shape = kTail;
            }
        } else {
            const size_t first = s.find(u'*');
            if (first == s.size() - 1) {
                s.pop_back();
                shape = kHead;
            } else {
                shape = kGeneral;
            }
        }
    }
    w.text = s;
    if (s.empty()) {
        w.kind = WalkerKind::kAll;
    } else if (shape == kHead || shape == kTail) {
        w.kind = WalkerKind::kHeadTail;
        w.head = shape == kHead;
    } else if (shape == kGeneral) {
        w.kind = WalkerKind::kWildcard;
    } else {
        w.kind = s.size() == 1 ? WalkerKind::kSingleChar : WalkerKind::kNameBits;
    }
    return w;
}

FindResultPtr ChooseFindResult(const ParsedQuery& q, const MatchContext& ctx) {
    const LoadedDatabase& db = *ctx.db;
    const WalkerChoice w = ChooseWalker(q);
    switch (w.kind) {
        case WalkerKind::kAll:
            return std::make_unique<AllResult>(db);
        case WalkerKind::kEmpty:
            return std::make_unique<EmptyResult>();
        case WalkerKind::kSingleChar:
            return std::make_unique<SingleCharResult>(db, w.text[0]);
        case WalkerKind::kNameBits:
            return std::make_unique<NameBitsResult>(db, w.text);
        case WalkerKind::kHeadTail:
            return std::make_unique<HeadTailNameBitsResult>(db, w.text, w.head);
        case WalkerKind::kWildcard:
            return std::make_unique<WildcardResult>(db, w.text);
        case WalkerKind::kKeywords:
            return std::make_unique<KeywordsResult>(db, q.terms);
        case WalkerKind::kLogical:
            return std::make_unique<LogicalResult>(db, q.terms, q.pathTerms, ctx);
    }
    return std::make_unique<EmptyResult>();
}

FindResultPtr MakeEmptyResult() {
    return std::make_unique<EmptyResult>();
}

}  // namespace kavo

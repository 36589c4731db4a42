// The condition tree of a query. Every node judges a candidate at two levels: once per
// distinct name (before any record is looked at) and per record. Judgements are three-
// valued: 1 match, 0 no match, -1 no opinion at this level.
//
// Calling order: build -> Prepare (once, on the root) -> any number of MatchName /
// MatchRecord calls, from any number of threads (they change nothing) -> Release. The
// database and the digest information must stay in place meanwhile.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/loaded_database.h"
#include "search/digest_info.h"
#include "search/search_index.h"

namespace kavo {

using Verdict = int;

// What a matcher sees of one name entry.
struct NameView {
    const char16_t* text = nullptr;  // lower-case name
    uint32_t length = 0;
    NameBits bits = 0;
    bool is_folder = false;
    // The pair mask of the name (search/search_index.h) when known; all ones otherwise.
    uint64_t pairs = ~uint64_t{0};
};

inline NameView ViewOfEntry(const LoadedDatabase& db, int32_t n) {
    const NameEntry& e = db.Entry(n);
    return {db.NameText() + e.text + 1, e.length, e.bits, e.is_folder != 0};
}

// What the tree reads at record level and how named searches are looked up.
struct MatchContext {
    const LoadedDatabase* db = nullptr;
    const DigestInformation* digest = nullptr;  // may be null: all zero
    // Named-search lookup for @name; empty result: no such search.
    std::function<std::u16string(const std::u16string&)> named_search;
    // Drive presence for /online and /offline (bit i = drive i); taken at prepare time.
    std::function<uint32_t()> logical_drives;
};

// Nesting bound for bracketed groups, negations and named-search expansions together. A
// term met deeper than this (a named search that refers to itself, or absurdly nested
// brackets) is taken as an ordinary name term, so expansion always ends.
inline constexpr int kMaxQueryNesting = 16;

class CMatcher {
  public:
    virtual ~CMatcher() = default;
    virtual void Prepare() {}
    virtual void Release() {}
    virtual Verdict MatchRecord(int32_t) const { return -1; }
    virtual Verdict MatchName(const NameView&) const { return -1; }
    // A necessary condition for a name verdict other than 0, as alternatives of index
    // queries (search/search_index.h): when a name meets none of them, MatchName says 0.
    // False when there is no such condition (the verdict may be non-zero for any name).
    virtual bool NameQueries(std::vector<NameQuery>&) const { return false; }
    // For matchers whose record verdict is always 0 or 1: appends the records first ...
    // first + count - 1 whose verdict is 1 (and, with `apply_hidden`, whose hidden mark is
    // 0), in order, and returns true. False when the matcher has no such batch form.
    virtual bool CollectRecords(int32_t, int32_t, bool, std::vector<int32_t>&) const {
        return false;
    }
    // True when MatchName says -1 for every name, so the verdict rests on records alone.
    virtual bool NameFree() const { return false; }
};

// The most alternatives a condition may have before it is given up as too loose.
inline constexpr size_t kMaxNameQueries = 32;

using MatcherPtr = std::unique_ptr<CMatcher>;

// Name-level text matchers. The texts are lower-cased by Prepare.
class CKeywordMatcher : public CMatcher {
  public:
    explicit CKeywordMatcher(std::u16string text) : text_(std::move(text)) {}
    void Prepare() override;
    Verdict MatchName(const NameView& n) const override;
    bool NameQueries(std::vector<NameQuery>& alts) const override;

  private:
    std::u16string text_;
    NameBits mask_ = 0;
    uint32_t length_ = 0;
    uint64_t pair_mask_ = 0;
};

class CWildcardMatcher : public CMatcher {
  public:
    explicit CWildcardMatcher(std::u16string pattern) : pattern_(std::move(pattern)) {}
    void Prepare() override;
    Verdict MatchName(const NameView& n) const override;
    bool NameQueries(std::vector<NameQuery>& alts) const override;

  private:
    std::u16string pattern_;
    NameBits mask_ = 0;
    uint32_t minimum_ = 0;
    uint64_t pair_mask_ = 0;
};

class CHeadMatcher : public CMatcher {
  public:
    explicit CHeadMatcher(std::u16string text) : text_(std::move(text)) {}
    void Prepare() override;
    Verdict MatchName(const NameView& n) const override;
    bool NameQueries(std::vector<NameQuery>& alts) const override;

  private:
    std::u16string text_;
    NameBits mask_ = 0;
    uint32_t length_ = 0;
    uint64_t pair_mask_ = 0;
};

class CTailMatcher : public CMatcher {
  public:
    explicit CTailMatcher(std::u16string text) : text_(std::move(text)) {}
    void Prepare() override;
    Verdict MatchName(const NameView& n) const override;
    bool NameQueries(std::vector<NameQuery>& alts) const override;

  private:
    std::u16string text_;
    NameBits mask_ = 0;
    uint32_t length_ = 0;
    uint64_t pair_mask_ = 0;
};

class CHeadTailMatcher : public CMatcher {
  public:
    CHeadTailMatcher(std::u16string head, std::u16string tail)
        : head_(std::move(head)), tail_(std::move(tail)) {}
    void Prepare() override;
    Verdict MatchName(const NameView& n) const override;
    bool NameQueries(std::vector<NameQuery>& alts) const override;

  private:
    std::u16string head_;
    std::u16string tail_;
    uint32_t total_ = 0;
    NameBits mask_ = 0;
    uint64_t pair_mask_ = 0;
};

class CFileMatcher : public CMatcher {
  public:
    Verdict MatchName(const NameView& n) const override { return n.is_folder ? 0 : 1; }
};

class CFolderMatcher : public CMatcher {
  public:
    Verdict MatchName(const NameView& n) const override { return n.is_folder ? 1 : 0; }
};

// Record-level matchers.
class FileSizeMatcher : public CMatcher {
  public:
    FileSizeMatcher(const MatchContext& ctx, uint64_t lower, uint64_t upper)
        : ctx_(ctx), lower_(lower), upper_(upper) {}
    Verdict MatchRecord(int32_t r) const override;
    bool CollectRecords(int32_t first,
                        int32_t count,
                        bool apply_hidden,
                        std::vector<int32_t>& out) const override;
    bool NameFree() const override { return true; }

  private:
    const MatchContext& ctx_;
    uint64_t lower_;
    uint64_t upper_;
};

class DateMatcher : public CMatcher {
  public:
    DateMatcher(const MatchContext& ctx, uint32_t lower, uint32_t upper, uint32_t upper_limit)
        : ctx_(ctx), lower_(lower), upper_(upper), upper_limit_(upper_limit) {}
    Verdict MatchRecord(int32_t r) const override;
    bool CollectRecords(int32_t first,
                        int32_t count,
                        bool apply_hidden,
                        std::vector<int32_t>& out) const override;
    bool NameFree() const override { return true; }

  private:
    const MatchContext& ctx_;
    uint32_t lower_;
    [[maybe_unused]] uint32_t upper_;
    uint32_t upper_limit_;
};

class DupMatcher : public CMatcher {
  public:
    DupMatcher(const MatchContext& ctx, int32_t lower, int32_t upper)
        : ctx_(ctx), lower_(lower), upper_(upper) {}
    Verdict MatchRecord(int32_t r) const override;

  private:
    const MatchContext& ctx_;
    int32_t lower_;
    int32_t upper_;
};

class HashMatcher : public CMatcher {
  public:
    HashMatcher(const MatchContext& ctx, std::u16string text) : ctx_(ctx), text_(std::move(text)) {}
    void Prepare() override;
    Verdict MatchRecord(int32_t r) const override;

  private:
    const MatchContext& ctx_;
    std::u16string text_;
    uint32_t value_ = 0;
};

class HiddenMatcher : public CMatcher {
  public:
    explicit HiddenMatcher(const MatchContext& ctx) : ctx_(ctx) {}
    Verdict MatchRecord(int32_t r) const override;

  private:
    const MatchContext& ctx_;
};

class OnlineMatcher : public CMatcher {
  public:
    OnlineMatcher(const MatchContext& ctx, bool wanted) : ctx_(ctx), wanted_(wanted) {}
    void Prepare() override;
    Verdict MatchRecord(int32_t r) const override;

  private:
    const MatchContext& ctx_;
    bool wanted_;
    std::array<bool, 26> present_{};
};

class RootDirMatcher : public CMatcher {
  public:
    RootDirMatcher(const MatchContext& ctx, std::u16string path)
        : ctx_(ctx), path_(std::move(path)) {}
    void Prepare() override;
    Verdict MatchRecord(int32_t r) const override;

  private:
    const MatchContext& ctx_;
    std::u16string path_;
    int32_t root_ = -1;
    bool is_drive_root_ = false;
    uint32_t drive_ = 0;
    int32_t folder_ = -1;
};

class PartialDirMatcher : public CMatcher {
  public:
    // `text` is the lower-cased fragment without a trailing "*\".
    PartialDirMatcher(const MatchContext& ctx, std::u16string text)
        : ctx_(ctx), text_(std::move(text)) {}
    Verdict MatchRecord(int32_t r) const override;

  private:
    const MatchContext& ctx_;
    std::u16string text_;
};

class NullMatcher : public CMatcher {
  public:
    Verdict MatchRecord(int32_t) const override { return 1; }
};

class CNotMatcher : public CMatcher {
  public:
    explicit CNotMatcher(MatcherPtr child) : child_(std::move(child)) {}
    void Prepare() override { child_->Prepare(); }
    void Release() override;
    Verdict MatchRecord(int32_t r) const override { return Negate(child_->MatchRecord(r)); }
    Verdict MatchName(const NameView& n) const override { return Negate(child_->MatchName(n)); }

  private:
    static Verdict Negate(Verdict v) { return v < 0 ? -1 : v == 1 ? 0 : 1; }
    MatcherPtr child_;
};

class CAndMatcher : public CMatcher {
  public:
    void Add(MatcherPtr child) { children_.push_back(std::move(child)); }
    size_t Size() const { return children_.size(); }
    MatcherPtr TakeOnly();  // the single child
    void Prepare() override;
    void Release() override;
    Verdict MatchRecord(int32_t r) const override;
    Verdict MatchName(const NameView& n) const override;
    bool NameQueries(std::vector<NameQuery>& alts) const override;

  private:
    std::vector<MatcherPtr> children_;
    size_t active_ = 0;
};

class COrMatcher : public CMatcher {
  public:
    void Add(MatcherPtr child) { children_.push_back(std::move(child)); }
    size_t Size() const { return children_.size(); }
    MatcherPtr TakeOnly();
    void Prepare() override;
    void Release() override;
    Verdict MatchRecord(int32_t r) const override;
    Verdict MatchName(const NameView& n) const override;
    bool NameQueries(std::vector<NameQuery>& alts) const override;

  private:
    std::vector<MatcherPtr> children_;
    size_t active_ = 0;
};

// Tree builders. The context must outlive the tree. `depth` counts the nesting of groups,
// negations and named searches (see kMaxQueryNesting).
MatcherPtr BuildTermsMatcher(const std::vector<std::u16string>& terms,
                             const MatchContext& ctx,
                             int depth = 0);
MatcherPtr BuildTermMatcher(const std::u16string& term, const MatchContext& ctx, int depth = 0);
MatcherPtr BuildPathMatcher(const std::vector<std::u16string>& path_terms, const MatchContext& ctx);

// The size in bytes used by size conditions: folders with a code of 0 count their total.
uint64_t RecordSizeBytes(const LoadedDatabase& db, int32_t r);
// Whether `folder` is a proper ancestor of `r` (following parents from r's parent).
bool IsAncestor(const LoadedDatabase& db, int32_t folder, int32_t r);

}  // namespace kavo

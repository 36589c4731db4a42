#include "search/matchers.h"

#include <algorithm>

#include "base/case_map.h"
#include "base/text.h"
#include "search/query.h"
#include "search/search_index.h"
#include "search/wildcard.h"

namespace kavo {

namespace {

bool Contains(const NameView& n, std::u16string_view text) {
    return std::u16string_view(n.text, n.length).find(text) != std::u16string_view::npos;
}

bool BeginsWith(const NameView& n, std::u16string_view text) {
    return std::u16string_view(n.text, n.length).substr(0, text.size()) == text;
}

bool EndsWithText(const NameView& n, std::u16string_view text) {
    return std::u16string_view(n.text + (n.length - text.size()), text.size()) == text;
}

bool MaskOk(const NameView& n, NameBits mask) {
    return (n.bits & mask) == mask;
}

bool PairsOk(const NameView& n, uint64_t mask) {
    return (n.pairs & mask) == mask;
}

}  // namespace

void CKeywordMatcher::Prepare() {
    LowerInPlace(text_);
    mask_ = PatternBits(text_);
    length_ = static_cast<uint32_t>(text_.size());
    pair_mask_ = PairMask(text_);
}

Verdict CKeywordMatcher::MatchName(const NameView& n) const {
    return MaskOk(n, mask_) && n.length >= length_ && PairsOk(n, pair_mask_) && Contains(n, text_)
               ? 1
               : 0;
}

void CWildcardMatcher::Prepare() {
    LowerInPlace(pattern_);
    mask_ = PatternBits(pattern_);
    minimum_ = 0;
    pair_mask_ = 0;
    for (size_t i = 0; i < pattern_.size(); ++i) {
        const char16_t c = pattern_[i];
        minimum_ += c != u'*';
        if (i > 0 && c != u'*' && c != u'?' && pattern_[i - 1] != u'*' && pattern_[i - 1] != u'?') {
            pair_mask_ |= PairBit(pattern_[i - 1], c);
        }
    }
}

Verdict CWildcardMatcher::MatchName(const NameView& n) const {
    if (!MaskOk(n, mask_) || n.length < minimum_ || !PairsOk(n, pair_mask_)) {
        return 0;
    }
    return WildcardMatch(std::u16string_view(n.text, n.length), pattern_) ? 1 : 0;
}

void CHeadMatcher::Prepare() {
    LowerInPlace(text_);
    mask_ = PatternBits(text_);
    length_ = static_cast<uint32_t>(text_.size());
    pair_mask_ = PairMask(text_);
}

Verdict CHeadMatcher::MatchName(const NameView& n) const {
    return MaskOk(n, mask_) && n.length >= length_ && PairsOk(n, pair_mask_) && BeginsWith(n, text_)
               ? 1
               : 0;
}

void CTailMatcher::Prepare() {
    LowerInPlace(text_);
    mask_ = PatternBits(text_);
    length_ = static_cast<uint32_t>(text_.size());
    pair_mask_ = PairMask(text_);
}

Verdict CTailMatcher::MatchName(const NameView& n) const {
    return MaskOk(n, mask_) && n.length >= length_ && PairsOk(n, pair_mask_) &&
                   EndsWithText(n, text_)
               ? 1
               : 0;
}

void CHeadTailMatcher::Prepare() {
    LowerInPlace(head_);
    LowerInPlace(tail_);
    mask_ = PatternBits(head_ + tail_);
    total_ = static_cast<uint32_t>(head_.size() + tail_.size());
    pair_mask_ = PairMask(head_) | PairMask(tail_);
}

Verdict CHeadTailMatcher::MatchName(const NameView& n) const {
    return MaskOk(n, mask_) && n.length >= total_ && PairsOk(n, pair_mask_) &&
                   BeginsWith(n, head_) && EndsWithText(n, tail_)
               ? 1
               : 0;
}

bool CKeywordMatcher::NameQueries(std::vector<NameQuery>& alts) const {
    alts.assign(1, NameQuery{pair_mask_, mask_});
    return true;
}

bool CWildcardMatcher::NameQueries(std::vector<NameQuery>& alts) const {
    alts.assign(1, NameQuery{pair_mask_, mask_});
    return true;
}

bool CHeadMatcher::NameQueries(std::vector<NameQuery>& alts) const {
    alts.assign(1, NameQuery{pair_mask_, mask_});
    return true;
}

bool CTailMatcher::NameQueries(std::vector<NameQuery>& alts) const {
    alts.assign(1, NameQuery{pair_mask_, mask_});
    return true;
}

bool CHeadTailMatcher::NameQueries(std::vector<NameQuery>& alts) const {
    alts.assign(1, NameQuery{pair_mask_, mask_});
    return true;
}

uint64_t RecordSizeBytes(const LoadedDatabase& db, int32_t r) {
    const SizeCode s = db.Size(r);
    if (s > 0) {
        return static_cast<uint64_t>(s);
    }
    if (s < 0) {
        return static_cast<uint64_t>(-static_cast<int64_t>(s)) * 1024;
    }
    if (db.IsFolder(r)) {
        const int64_t total = db.FolderSize(r);
        return total < 0 ? 0 : static_cast<uint64_t>(total);
    }
    return 0;
}

bool IsAncestor(const LoadedDatabase& db, int32_t folder, int32_t r) {
    // The loader rejects parent cycles; the bound only keeps a damaged chain finite.
    int32_t p = db.Parent(r);
    for (int steps = 0; p >= 0 && steps < 65536; ++steps) {
        if (p == folder) {
            return true;
        }
        p = db.Parent(p);
    }
    return false;
}

Verdict FileSizeMatcher::MatchRecord(int32_t r) const {
    const uint64_t size = RecordSizeBytes(*ctx_.db, r);
    return lower_ <= size && size <= upper_ ? 1 : 0;
}

namespace {

// Appends the records of [first, first + count) that `pass` accepts, without a branch per
// record on the (unpredictable) verdict: every record is written to a small buffer and the
// write position moves on only for the kept ones.
template <typename Pass>
void AppendPassing(const LoadedDatabase& db,
                   int32_t first,
                   int32_t count,
                   bool apply_hidden,
                   std::vector<int32_t>& out,
                   Pass pass) {
    constexpr int32_t kChunk = 2048;
    int32_t buffer[kChunk];
    const int32_t stop = first + count;
    for (int32_t from = first; from < stop; from += kChunk) {
        const int32_t to = std::min(stop, from + kChunk);
        size_t k = 0;
        if (apply_hidden) {
            for (int32_t r = from; r < to; ++r) {
                buffer[k] = r;
                k += static_cast<size_t>(pass(r) & (db.HiddenMark(r) == 0));
            }
        } else {
            for (int32_t r = from; r < to; ++r) {
                buffer[k] = r;
                k += static_cast<size_t>(pass(r));
            }
        }
        out.insert(out.end(), buffer, buffer + k);
    }
}

}  // namespace

bool FileSizeMatcher::CollectRecords(int32_t first,
                                     int32_t count,
                                     bool apply_hidden,
                                     std::vector<int32_t>& out) const {
    if (lower_ > upper_ || count <= 0) {
        return true;
    }
    const LoadedDatabase& db = *ctx_.db;
    const SizeCode* sizes = db.Sizes().data();
    const uint64_t lower = lower_;
    const uint64_t span = upper_ - lower_;
    // Bytes of a size code: positive codes are bytes, negative ones KiB.
    auto bytes = [](SizeCode c) {
        return c >= 0 ? static_cast<uint64_t>(c)
                      : static_cast<uint64_t>(-static_cast<int64_t>(c)) << 10;
    };
    // Folders (records below FolderRecordCount) with a code of 0 count their total.
    const int32_t folder_end = std::clamp(db.FolderRecordCount(), first, first + count);
    if (folder_end > first) {
        const int64_t* totals = db.FolderSizes().data();
        AppendPassing(db, first, folder_end - first, apply_hidden, out, [&](int32_t r) {
            const SizeCode c = sizes[r];
            const uint64_t size =
                c != 0 ? bytes(c) : static_cast<uint64_t>(std::max<int64_t>(totals[r], 0));
            return size - lower <= span;
        });
    }
    AppendPassing(db, folder_end, first + count - folder_end, apply_hidden, out,
                  [&](int32_t r) { return bytes(sizes[r]) - lower <= span; });
    return true;
}

bool DateMatcher::CollectRecords(int32_t first,
                                 int32_t count,
                                 bool apply_hidden,
                                 std::vector<int32_t>& out) const {
    const LoadedDatabase& db = *ctx_.db;
    const PackedTime* times = db.Times().data();
    AppendPassing(db, first, count, apply_hidden, out, [&](int32_t r) {
        const uint32_t t = times[r];
        return (lower_ <= t) & (t < upper_limit_);
    });
    return true;
}

Verdict DateMatcher::MatchRecord(int32_t r) const {
    const uint32_t t = ctx_.db->Time(r);
    return lower_ <= t && t < upper_limit_ ? 1 : 0;
}

Verdict DupMatcher::MatchRecord(int32_t r) const {
    const int32_t count = ctx_.digest ? ctx_.digest->DuplicateCount(r) : 0;
    return lower_ <= count && count <= upper_ ? 1 : 0;
}

void HashMatcher::Prepare() {
    value_ = ParseHexValue(text_);
}

Verdict HashMatcher::MatchRecord(int32_t r) const {
    const uint32_t key = ctx_.digest ? ctx_.digest->DigestKey(r) : 0;
    return value_ != 0 && value_ == key ? 1 : 0;
}

Verdict HiddenMatcher::MatchRecord(int32_t r) const {
    return ctx_.db->HiddenMark(r) == kHiddenByUser ? 1 : 0;
}

void OnlineMatcher::Prepare() {
    const uint32_t drives = ctx_.logical_drives ? ctx_.logical_drives() : 0;
    for (size_t i = 0; i < present_.size(); ++i) {
        present_[i] = (drives >> i) & 1;
    }
}

Verdict OnlineMatcher::MatchRecord(int32_t r) const {
    const uint8_t d = ctx_.db->DriveIndex(r);
    const bool present = d < present_.size() && present_[d];
    return present == wanted_ ? 1 : 0;
}

void RootDirMatcher::Prepare() {
    folder_ = -1;
    if (path_.size() >= 2 && path_[1] == u':') {
        folder_ = ctx_.db->RecordOfPath(Lower(path_));
    }
    if (folder_ >= 0) {
        root_ = ctx_.db->RootOfRecord(folder_);
        is_drive_root_ = folder_ == root_;
        drive_ = ctx_.db->DriveIndex(root_);
    }
}

Verdict RootDirMatcher::MatchRecord(int32_t r) const {
    if (folder_ < 0 || ctx_.db->DriveIndex(r) != drive_) {
        return 0;
    }
    return is_drive_root_ || IsAncestor(*ctx_.db, folder_, r) ? 1 : 0;
}

Verdict PartialDirMatcher::MatchRecord(int32_t r) const {
    const int32_t parent = ctx_.db->Parent(r);
    if (parent < 0) {
        return 0;
    }
    return ctx_.db->LowerPathOfRecord(parent).find(text_) != std::u16string::npos ? 1 : 0;
}

void CNotMatcher::Release() {
    if (child_) {
        child_->Release();
        child_.reset();
    }
}

MatcherPtr CAndMatcher::TakeOnly() {
    return std::move(children_.front());
}

void CAndMatcher::Prepare() {
    active_ = children_.size();
    for (auto& c : children_) {
        c->Prepare();
    }
}

void CAndMatcher::Release() {
    for (auto& c : children_) {
        c->Release();
    }
    children_.clear();
    active_ = 0;
}

Verdict CAndMatcher::MatchRecord(int32_t r) const {
    Verdict result = -1;
    for (size_t i = 0; i < active_; ++i) {
        const Verdict v = children_[i]->MatchRecord(r);
        if (v == 0) {
            return 0;
        }
        if (v == 1) {
            result = 1;
        }
    }
    return result;
}

Verdict CAndMatcher::MatchName(const NameView& n) const {
    Verdict result = -1;
    for (size_t i = 0; i < active_; ++i) {
        const Verdict v = children_[i]->MatchName(n);
        if (v == 0) {
            return 0;
        }
        if (v == 1) {
            result = 1;
        }
    }
    return result;
}

bool CAndMatcher::NameQueries(std::vector<NameQuery>& alts) const {
    // Every child must say non-zero: the conditions of all children hold together.
    bool any = false;
    std::vector<NameQuery> child;
    for (size_t i = 0; i < active_; ++i) {
        if (!children_[i]->NameQueries(child)) {
            continue;
        }
        if (!any) {
            alts = child;
            any = true;
            continue;
        }
        if (alts.size() * child.size() > kMaxNameQueries) {
            continue;  // dropping a condition only loosens the filter
        }
        std::vector<NameQuery> both;
        for (const NameQuery& a : alts) {
            for (const NameQuery& c : child) {
                both.push_back(a.Both(c));
            }
        }
        alts.swap(both);
    }
    return any;
}

bool COrMatcher::NameQueries(std::vector<NameQuery>& alts) const {
    // Some child must say non-zero: any one child's condition.
    alts.clear();
    std::vector<NameQuery> child;
    for (size_t i = 0; i < active_; ++i) {
        if (!children_[i]->NameQueries(child)) {
            return false;
        }
        alts.insert(alts.end(), child.begin(), child.end());
        if (alts.size() > kMaxNameQueries) {
            return false;
        }
    }
    return active_ > 0;
}

MatcherPtr COrMatcher::TakeOnly() {
    return std::move(children_.front());
}

void COrMatcher::Prepare() {
    active_ = children_.size();
    for (auto& c : children_) {
        c->Prepare();
    }
}

void COrMatcher::Release() {
    for (auto& c : children_) {
        c->Release();
    }
    children_.clear();
    active_ = 0;
}

Verdict COrMatcher::MatchRecord(int32_t r) const {
    Verdict result = 0;
    for (size_t i = 0; i < active_; ++i) {
        const Verdict v = children_[i]->MatchRecord(r);
        if (v == 1) {
            return 1;
        }
        if (v < 0) {
            result = -1;
        }
    }
    return result;
}

Verdict COrMatcher::MatchName(const NameView& n) const {
    Verdict result = 0;
    for (size_t i = 0; i < active_; ++i) {
        const Verdict v = children_[i]->MatchName(n);
        if (v == 1) {
            return 1;
        }
        if (v < 0) {
            result = -1;
        }
    }
    return result;
}

namespace {

MatcherPtr NamePattern(const std::u16string& term) {
    size_t stars = 0;
    for (const char16_t c : term) {
        stars += c == u'*';
    }
    if (stars == 0) {
        return std::make_unique<CKeywordMatcher>(term);
    }
    if (stars == 1) {
        const size_t at = term.find(u'*');
        if (at == 0) {
            return std::make_unique<CTailMatcher>(term.substr(1));
        }
        if (at == term.size() - 1) {
            return std::make_unique<CHeadMatcher>(term.substr(0, at));
        }
        return std::make_unique<CHeadTailMatcher>(term.substr(0, at), term.substr(at + 1));
    }
    return std::make_unique<CWildcardMatcher>(term);
}

// A grouped text (the inside of <...>, or a named search with spaces) as one condition.
MatcherPtr GroupMatcher(std::u16string_view inside, const MatchContext& ctx, int depth) {
    std::vector<std::u16string> terms;
    std::vector<std::u16string> paths;
    GroupTokens(inside, terms, paths);
    MatcherPtr names = BuildTermsMatcher(terms, ctx, depth);
    if (paths.empty()) {
        return names;
    }
    auto both = std::make_unique<CAndMatcher>();
    both->Add(std::move(names));
    both->Add(BuildPathMatcher(paths, ctx));
    return both;
}

}  // namespace

MatcherPtr BuildTermsMatcher(const std::vector<std::u16string>& terms,
                             const MatchContext& ctx,
                             int depth) {
    if (terms.empty()) {
        return std::make_unique<NullMatcher>();
    }
    if (terms.size() == 1) {
        return BuildTermMatcher(terms[0], ctx, depth);
    }
    auto all = std::make_unique<CAndMatcher>();
    for (size_t i = 0; i < terms.size(); ++i) {
        if (terms[i] == u"!" && i + 1 < terms.size() && !terms[i + 1].empty() &&
            terms[i + 1][0] == u'<' && depth < kMaxQueryNesting) {
            all->Add(std::make_unique<CNotMatcher>(BuildTermMatcher(terms[i + 1], ctx, depth + 1)));
            ++i;
        } else {
            all->Add(BuildTermMatcher(terms[i], ctx, depth));
        }
    }
    return all;
}

MatcherPtr BuildTermMatcher(const std::u16string& term, const MatchContext& ctx, int depth) {
    if (term.empty()) {
        return std::make_unique<CKeywordMatcher>(term);
    }
    const bool may_nest = depth < kMaxQueryNesting;
    if (may_nest && term.size() >= 2 && term[0] == u'!' && term[1] == u'<') {
        return std::make_unique<CNotMatcher>(BuildTermMatcher(term.substr(1), ctx, depth + 1));
    }
    if (may_nest && term[0] == u'<') {
        std::u16string_view inside = std::u16string_view(term).substr(1);
        if (!inside.empty() && inside.back() == u'>') {
            inside.remove_suffix(1);
        }
        return GroupMatcher(inside, ctx, depth + 1);
    }
    if (term.find(u'|') != std::u16string::npos) {
        std::vector<std::u16string> pieces;
        for (std::u16string& p : Split(term, u'|')) {
            if (!p.empty()) {
                pieces.push_back(std::move(p));
            }
        }
        if (pieces.empty()) {
            return std::make_unique<CKeywordMatcher>(u"");
        }
        if (pieces.size() == 1) {
            return BuildTermMatcher(pieces[0], ctx, depth);
        }
        auto any = std::make_unique<COrMatcher>();
        for (const std::u16string& p : pieces) {
            any->Add(BuildTermMatcher(p, ctx, depth));
        }
        return any;
    }
    if (may_nest && term[0] == u'@' && term.size() > 1 && ctx.named_search) {
        const std::u16string text = ctx.named_search(term.substr(1));
        if (!text.empty()) {
            if (text.find(u' ') != std::u16string::npos) {
                return GroupMatcher(text, ctx, depth + 1);
            }
            return BuildTermMatcher(text, ctx, depth + 1);
        }
    }
    if (term[0] == u'/') {
        std::u16string value;
        switch (ClassifySwitch(term, value)) {
            case SwitchKind::kFiles:
                return std::make_unique<CFileMatcher>();
            case SwitchKind::kFolders:
                return std::make_unique<CFolderMatcher>();
            case SwitchKind::kSize: {
                const SizeRange r = ParseSizeRange(value);
                return std::make_unique<FileSizeMatcher>(ctx, r.lower, r.upper);
            }
            case SwitchKind::kDate: {
                const DateRange r = ParseDateRange(value);
                return std::make_unique<DateMatcher>(ctx, r.lower, r.upper, r.upperLimit);
            }
            case SwitchKind::kDup: {
                const DupRange r = ParseDupRange(value);
                return std::make_unique<DupMatcher>(ctx, r.lower, r.upper);
            }
            case SwitchKind::kHash:
                return std::make_unique<HashMatcher>(ctx, value);
            case SwitchKind::kHidden:
                return std::make_unique<HiddenMatcher>(ctx);
            case SwitchKind::kOnline:
                return std::make_unique<OnlineMatcher>(ctx, true);
            case SwitchKind::kOffline:
                return std::make_unique<OnlineMatcher>(ctx, false);
            case SwitchKind::kNone:
                break;
        }
    }
    return NamePattern(term);
}

MatcherPtr BuildPathMatcher(const std::vector<std::u16string>& path_terms,
                            const MatchContext& ctx) {
    auto drives = std::make_unique<COrMatcher>();
    auto fragments = std::make_unique<CAndMatcher>();
    for (const std::u16string& t : path_terms) {
        if (t.size() >= 2 && t[1] == u':') {
            drives->Add(std::make_unique<RootDirMatcher>(ctx, t));
        } else {
            fragments->Add(std::make_unique<PartialDirMatcher>(ctx, FolderFragment(t)));
        }
    }
    MatcherPtr drive_part;
    MatcherPtr fragment_part;
    if (drives->Size() == 1) {
        drive_part = drives->TakeOnly();
    } else if (drives->Size() > 1) {
        drive_part = std::move(drives);
    }
    if (fragments->Size() == 1) {
        fragment_part = fragments->TakeOnly();
    } else if (fragments->Size() > 1) {
        fragment_part = std::move(fragments);
    }
    if (drive_part && fragment_part) {
        auto both = std::make_unique<CAndMatcher>();
        both->Add(std::move(drive_part));
        both->Add(std::move(fragment_part));
        return both;
    }
    if (drive_part) {
        return drive_part;
    }
    if (fragment_part) {
        return fragment_part;
    }
    return std::make_unique<NullMatcher>();
}

}  // namespace kavo

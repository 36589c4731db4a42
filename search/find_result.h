// Name-index walkers: pull iterators over the candidates of a query. The name walkers test
// each name entry with cheap checks first (the NameBits mask, the length) and compare text
// only for the survivors, then hand out the records of each accepted entry in record order,
// so candidates come in name order.
//
// Besides the one-at-a-time Next/Current protocol, every walker can collect the candidates
// of a range of its units (name entries, or records for AllResult) in one call, from any
// thread: the parallel search splits the units into ranges and concatenates the ranges'
// candidates in order, which gives exactly the sequence that Next would give.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/loaded_database.h"
#include "search/matchers.h"
#include "search/query.h"
#include "search/search_index.h"

namespace kavo {

// The per-record conditions applied by the caller on top of the walker: the hidden rule and
// the folder part of a query. Kept concrete (no virtual calls) for the inner loop.
struct CandidateFilter {
    enum class Folder : uint8_t {
        kNone,           // no folder condition
        kInsideFolder,   // on `drive` and (drive root, or below `folder`)
        kParentPathHas,  // the parent's lower-case path contains `fragment`
        kOwnPathHas,     // the record's own lower-case path contains `fragment`
    };
    const LoadedDatabase* db = nullptr;
    bool apply_hidden = false;  // leave out records whose hidden mark is not 0
    Folder mode = Folder::kNone;
    int32_t folder = -1;
    bool is_drive_root = false;
    uint8_t drive = 0;
    std::u16string fragment;

    bool Keep(int32_t r) const {
        if (apply_hidden && db->HiddenMark(r) != 0) {
            return false;
        }
        return mode == Folder::kNone || KeepByFolder(r);
    }
    bool KeepByFolder(int32_t r) const;
};

class IKavoFindResult {
  public:
    virtual ~IKavoFindResult() = default;
    virtual bool Next() = 0;
    virtual int32_t Current() const = 0;
    virtual void Release() {}
    // Lets CollectUnits reject entries by the precomputed filters first. The index must
    // belong to the walker's database and outlive the walker. Next ignores it.
    virtual void UseIndex(const SearchIndex*) {}

    // The number of units (name entries or records) this walker goes over.
    virtual int32_t UnitCount() const = 0;
    // Appends, in order, every candidate of units [begin, end) that `filter` keeps. Does not
    // change the walker; safe to call from several threads at once.
    virtual void CollectUnits(int32_t begin,
                              int32_t end,
                              const CandidateFilter& filter,
                              std::vector<int32_t>& out) const = 0;
};

using FindResultPtr = std::unique_ptr<IKavoFindResult>;

// Which walker a parsed query uses (exposed for tests).
enum class WalkerKind {
    kAll,
    kEmpty,
    kSingleChar,
    kNameBits,
    kHeadTail,
    kWildcard,
    kKeywords,
    kLogical
};

struct WalkerChoice {
    WalkerKind kind = WalkerKind::kAll;
    std::u16string text;  // the simple name as used (stars reduced), lower case
    bool head = false;    // kHeadTail: head (true) or tail
};
WalkerChoice ChooseWalker(const ParsedQuery& q);

// Builds the walker for a parsed query. `ctx` must outlive the walker (the general walker
// keeps its matcher tree, which refers to it).
FindResultPtr ChooseFindResult(const ParsedQuery& q, const MatchContext& ctx);
FindResultPtr MakeEmptyResult();

}  // namespace kavo

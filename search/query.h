// The query language: the lexical pass, the grouping of tokens into name terms and path
// terms, the parse of a whole query, the switch values (size, date, duplicate count, digest)
// and the sort text. Parsing never fails: unknown switches become name terms and unreadable
// numbers become open bounds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

std::vector<std::u16string> TokenizeQuery(std::u16string_view text);

// TokenizeQuery, then alternatives joined ("a | b" -> "a|b") and path terms moved out.
void GroupTokens(std::u16string_view text,
                 std::vector<std::u16string>& terms,
                 std::vector<std::u16string>& path_terms);

struct ParsedQuery {
    std::u16string folder;      // the single path term, when there is exactly one
    std::u16string simpleName;  // the only term, when it is one plain name term
    std::vector<std::u16string> terms;
    std::vector<std::u16string> pathTerms;
    std::u16string sortText;  // the first term beginning with "/sort"
};

ParsedQuery ParseQuery(std::u16string_view text);

// Key codes: four ASCII letters, little-endian.
inline constexpr uint32_t kSortName = 0x454D414E;
inline constexpr uint32_t kSortSize = 0x455A4953;
inline constexpr uint32_t kSortDate = 0x45544144;
inline constexpr uint32_t kSortPath = 0x48544150;
inline constexpr uint32_t kSortExt = 0x00545845;
inline constexpr uint32_t kSortHash = 0x48534148;
inline constexpr uint32_t kSortDupCount = 0x544E4344;
inline constexpr uint32_t kSortFileCount = 0x544E4346;

struct SortKey {
    int32_t column = -1;  // result-list column; -1 for keys parsed from text
    bool ascending = true;
    uint32_t key = kSortName;
    bool operator==(const SortKey&) const = default;
};

std::vector<SortKey> ParseSortText(std::u16string_view text);

// The character mask of a lower-case text: a-z bits 0-25, '.' 26, '_' 27, '0'-'3' 28-31.
// Used for patterns; a name can only contain a pattern when it has all of its bits.
uint32_t PatternBits(std::u16string_view lower_text);

// Switch values. Each takes the text after the switch word ("10m-", "0315", "3-3", "ab12").
struct SizeRange {
    uint64_t lower = 0;
    uint64_t upper = ~uint64_t{0};
};
SizeRange ParseSizeRange(std::u16string_view value);

struct DateRange {
    uint32_t lower = 0;
    uint32_t upper = 0;                  // the stamp of the upper date's midnight, 0 when open
    uint32_t upperLimit = ~uint32_t{0};  // exclusive
};
DateRange ParseDateRange(std::u16string_view value);

// A calendar date read from text ("0315", "150315", "20150315") as a PackedTime of its
// local midnight; 0 when unreadable. `today_utc_filetime` supplies the current date.
uint32_t ParseDateText(std::u16string_view text, uint64_t today_utc_filetime);

struct DupRange {
    int32_t lower = 0;
    int32_t upper = 2147483647;
};
DupRange ParseDupRange(std::u16string_view value);

// Leading hexadecimal digits as an unsigned 32-bit value (wrapping as strtoul would not:
// digits beyond 32 bits are taken modulo 2^32); 0 when there are none.
uint32_t ParseHexValue(std::u16string_view text);

// The switch words after "/", compared lower-cased.
enum class SwitchKind {
    kNone,
    kFiles,
    kFolders,
    kSize,
    kDate,
    kDup,
    kHash,
    kHidden,
    kOnline,
    kOffline
};
// Classifies a term beginning with "/"; `value` receives the text after a prefix switch.
SwitchKind ClassifySwitch(std::u16string_view term, std::u16string& value);

// Removes a trailing "*\" of a lower-cased folder fragment.
std::u16string FolderFragment(std::u16string_view folder);

}  // namespace kavo

// The ignore rules of a build: ExcludeHidden, ExcludeByName with its ExcludeNames patterns,
// and the list of folders that held a `_kavoignore` marker (section KavoIgnoreFolders of the
// settings file), merged after each build.
//
// Pattern syntax, one item of the ":"-separated ExcludeNames list:
//   "name\" or "name/"  a folder pattern (the last character is dropped); otherwise a file
//                       pattern; "\" or "/" alone is no pattern at all
//   "*text"             names ending with text
//   "text*"             names beginning with text
//   "text"              names equal to text
// Letter case is ignored; a pattern is tested against an item's own name, never its path.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "scan/ntfs_scan.h"

namespace kavo::scan {

struct NamePattern {
    enum class Kind : uint8_t { kExact, kPrefix, kSuffix };
    Kind kind = Kind::kExact;
    bool folder = false;
    std::u16string text;
};

// The items of an ExcludeNames value as patterns, in their order.
std::vector<NamePattern> ParseNamePatterns(std::u16string_view value);

// True when `name` matches one of the patterns of its kind (folder or file).
bool MatchesNamePattern(const std::vector<NamePattern>& patterns,
                        std::u16string_view name,
                        bool is_folder);

// The three options as a build reads them once from section Options.
struct IgnoreOptions {
    bool exclude_hidden = false;
    bool exclude_by_name = false;
    std::u16string exclude_names;
};

// Reads ExcludeHidden, ExcludeByName and ExcludeNames from the settings file.
IgnoreOptions ReadIgnoreOptions(const std::u16string& settings_path);

class IgnoreRules final : public IIgnoreRules {
  public:
    explicit IgnoreRules(const IgnoreOptions& options);
    bool ExcludeHidden() const override { return exclude_hidden_; }
    bool IsNameExcluded(std::u16string_view name, bool is_folder) const override;

  private:
    bool exclude_hidden_;
    bool exclude_by_name_;
    std::vector<NamePattern> patterns_;
};

// Folder paths compared without letter case, so that one folder spelled two ways is kept once.
struct FolderPathLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
};
using FolderSet = std::set<std::u16string, FolderPathLess>;

// Brings section KavoIgnoreFolders up to date after a build: an item of the stored list is
// kept when its drive was not built (`built_drives` holds upper-case letters) or when its
// folder still holds `_kavoignore`; the folders reported during the build are added. The
// list is written sorted without duplicates; when it shrank, the section is rewritten from
// scratch so that no stale items stay behind.
void MergeIgnoreList(const std::u16string& settings_path,
                     std::u16string_view built_drives,
                     const std::vector<std::u16string>& reported_folders);

}  // namespace kavo::scan

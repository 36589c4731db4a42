// Named searches: query fragments stored under a short name in the settings file (section
// "NamedSearch": "Count", "Name%d", "Search%d" numbered from 1), used in queries as @name.
// A missing "Count", or -1, means the list was never set up: the 11 built-in defaults are
// written the first time the list is needed. "Count" 0 is a valid empty list.
#pragma once

#include <string>
#include <vector>

namespace kavo {

// Writes the defaults into `settings_path` unless the list is already set up.
void EnsureNamedSearches(const std::u16string& settings_path);

// The names in order, empty names skipped (sets up the defaults first).
std::vector<std::u16string> NamedSearchNames(const std::u16string& settings_path);

// The query text of the first named search whose name equals `name` ignoring case; empty
// when there is none (sets up the defaults first).
std::u16string FindNamedSearchIn(const std::u16string& settings_path, const std::u16string& name);

// The same in this process's settings file.
std::u16string FindNamedSearch(const std::u16string& name);

}  // namespace kavo

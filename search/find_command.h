// The walk behind kavo find, separated from the console so that tests can run it.
#pragma once

#include <functional>
#include <string>

#include "database/loaded_database.h"
#include "main/subcommands.h"
#include "search/matchers.h"

namespace kavo {

// The query of `kavo find ARGS`: the arguments after "find" joined by single spaces, an
// argument holding a space wrapped in double quotes.
std::u16string JoinFindArguments(const Args& args);

// Walks the query over the database without hidden marks or sorting and calls `print` with
// the full path (case restored, folders with a trailing backslash) of every match, in walk
// order. `interrupted` is asked before every 10th candidate. Returns the number printed.
int32_t FindAndPrint(const LoadedDatabase& db,
                     const std::u16string& query,
                     const MatchContext& ctx,
                     const std::function<void(const std::u16string&)>& print,
                     const std::function<bool()>& interrupted);

}  // namespace kavo

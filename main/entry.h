// The entry routine of kavo and its subcommand dispatcher.
#pragma once

#include <string>
#include <vector>

namespace kavo {

extern const char16_t kUsageText[];
extern const char16_t kVersionText[];

// Takes the first "--dbdir FOLDER" out of `args`: "/" becomes "\", a trailing "\" is
// ensured. Returns the folder ("" when --dbdir is last or absent).
std::u16string TakeDbdir(std::vector<std::u16string>& args);

// Prepares the process and runs one subcommand. Returns the process exit code: 1 when the
// Ctrl-C handler cannot be installed, 0 otherwise.
int EntryRoutine(std::vector<std::u16string> args);

// Runs the subcommand named by args[1]. True when one ran, false when only the usage text
// was printed.
bool Dispatch(const std::vector<std::u16string>& args);

// Prints the usage text, then waits for a key when started from the desktop shell.
void PrintUsage();

}  // namespace kavo

// The subcommands of kavo. Each receives the whole argument vector (argument 0 the program,
// argument 1 the subcommand) and returns when it is done; its result is not the process's
// exit code, which is 0 once a subcommand ran.
#pragma once

#include <string>
#include <vector>

namespace kavo {

using Args = std::vector<std::u16string>;

void RunClean(const Args& args);        // main/clean.cpp
void RunBuild(const Args& args);        // build/
void RunFind(const Args& args);         // search/
void RunGui(const Args& args);          // gui/
void RunBuildServer(const Args& args);  // build/
void RunWeb(const Args& args);          // web/

// Empties one drive in the database (clean with a drive letter).
void CleanDrive(char16_t letter);

// Says that a subcommand exists but is not part of this build.
void SayNotInThisBuild(const std::u16string& subcommand);

}  // namespace kavo

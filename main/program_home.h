// Where the database lives: the per-user default folder, the --dbdir folder, and the
// redirection that the base folder's kavo.ini keeps per program path (section KavoHome).
#pragma once

#include <optional>
#include <string>

namespace kavo {

// HOMEDRIVE (or SYSTEMDRIVE) with its letter upper-cased, HOMEPATH, "\.kavo\".
std::u16string ComputeDefaultFolder(const std::optional<std::u16string>& home_drive,
                                    const std::optional<std::u16string>& system_drive,
                                    const std::optional<std::u16string>& home_path);
// The per-user default folder of this process, computed once from its environment.
std::u16string PerUserDefaultFolder();

// The --dbdir value when not empty, otherwise the per-user default folder.
std::u16string BaseFolder(const std::u16string& dbdir);

// The KavoHome key of a program path: every "=" turned into "#".
std::u16string RedirectionKey(std::u16string program_path);

// The database folder for a base folder and program path: the redirection kept in the base
// folder's kavo.ini when not empty (a backslash appended, its first letter upper-cased),
// otherwise the base folder.
std::u16string SettleDatabaseFolder(const std::u16string& base_folder,
                                    const std::u16string& program_path);
// The same for this process.
std::u16string SettleDatabaseFolder(const std::u16string& dbdir);

// Writes (or, for an empty folder, deletes) the redirection of `program_path`.
bool SaveRedirection(const std::u16string& base_folder,
                     const std::u16string& program_path,
                     const std::u16string& folder);
bool SaveRedirection(const std::u16string& dbdir, const std::u16string& folder);

// The running program's folder, up to and including the last backslash.
std::u16string ProgramFolder();

// Gives the database folder its icon (Windows 6.0 and later), unless desktop.ini already
// names an existing icon file with index 1. Failures are ignored.
void MarkDatabaseFolder(const std::u16string& folder);

}  // namespace kavo

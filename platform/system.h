// Process, environment and console services of the platform seam.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavo::platform {

// The environment variable, nullopt when it is not set.
std::optional<std::u16string> GetEnv(std::u16string_view name);
// Full path of the running program file (GetModuleFileNameW into `max_units` units).
std::u16string ProgramPath(size_t max_units = 260);
// File-name part of the parent process's program, empty when unknown.
std::u16string ParentProcessName();
// True on Windows 6.0 or later.
bool IsVistaOrLater();
// The C run-time locale set to the user default.
void SetUserLocale();
// Waits for one key press on the console (unbuffered).
void WaitForKeyPress();
// Current time as a Windows file time (100 ns units since 1601-01-01 UTC).
uint64_t NowFileTime();

// Standard output through the C run-time's wide stream (in the console's or the ANSI code
// page on Windows, text mode; UTF-8 natively).
void StdoutWrite(std::u16string_view text);
void StdoutFlush();
// Writes straight to the console (WriteConsoleW) when standard output is one; returns false
// and writes nothing otherwise. Natively: UTF-8 to a terminal.
bool ConsoleWriteDirect(std::u16string_view text);

// Installs the Ctrl-C handler: `handler` runs on a thread of its own for each Ctrl-C, and
// the process goes on. False when it cannot be installed.
bool InstallCtrlCHandler(void (*handler)());

}  // namespace kavo::platform

namespace kavo::platform {

// Writes one message to a build-output pipe: the text in the ANSI code page followed by a
// zero byte (length + 1 bytes), then flushes. `pipe` is the pipe's handle (a descriptor
// natively). False when the write fails.
bool WritePipeMessage(intptr_t pipe, std::u16string_view text);

}  // namespace kavo::platform

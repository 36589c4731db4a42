// Tells the open main windows of this program file that the database changed.
#pragma once

#include <cstdint>

namespace kavo {

constexpr uint32_t kUmDatabaseChanged = 0x4FC8;

// Posts `message` to every top-level Kavo_Main_Window of this process or of a process that
// runs the same program file (compared without case), with wParam = `own_window` and
// lParam 0. Natively there are no such windows.
void NotifyMainWindows(uint32_t message = kUmDatabaseChanged, uintptr_t own_window = 0);

}  // namespace kavo

#include <windows.h>
#include <psapi.h>

#include "base/case_map.h"
#include "main/notify.h"
#include "platform/system.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"

namespace kavo {

void NotifyMainWindows(uint32_t message, uintptr_t own_window) {
    const std::u16string self = platform::ProgramPath(260);
    const DWORD self_pid = ::GetCurrentProcessId();
    HWND w = nullptr;
    while ((w = ::FindWindowExW(nullptr, w, L"Kavo_Main_Window", nullptr)) != nullptr) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        bool keep = pid == self_pid;
        if (!keep) {
            win::KernelHandle process(
                ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
            if (process) {
                wchar_t path[MAX_PATH] = {};
                const DWORD n = ::GetModuleFileNameExW(process.Get(), nullptr, path, MAX_PATH);
                keep = n > 0 && EqualsIgnoreCase(win::U(path, n), self);
            }
        }
        if (keep) {
            ::PostMessageW(w, message, static_cast<WPARAM>(own_window), 0);
        }
    }
}

}  // namespace kavo

#include <windows.h>

#include "platform/console_input.h"

namespace kavo::platform {

bool ConsoleKeyWithin(int wait_ms) {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    const DWORD ms = static_cast<DWORD>(wait_ms < 0 ? 0 : wait_ms);
    DWORD events = 0;
    if (in != nullptr && in != INVALID_HANDLE_VALUE &&
        ::GetNumberOfConsoleInputEvents(in, &events)) {
        if (::WaitForSingleObject(in, ms) != WAIT_OBJECT_0) {
            return false;
        }
        INPUT_RECORD record;
        DWORD read = 0;
        if (!::ReadConsoleInputW(in, &record, 1, &read) || read == 0) {
            ::Sleep(ms);
            return false;
        }
        return record.EventType == KEY_EVENT;
    }
    if (in != nullptr && in != INVALID_HANDLE_VALUE && ::GetFileType(in) == FILE_TYPE_PIPE) {
        const DWORD start = ::GetTickCount();
        do {
            DWORD available = 0;
            if (!::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) {
                break;  // the writer has gone: nothing can come any more
            }
            if (available > 0) {
                char c;
                DWORD got = 0;
                return ::ReadFile(in, &c, 1, &got, nullptr) && got == 1;
            }
            ::Sleep(50);
        } while (::GetTickCount() - start < ms);
        if (::GetTickCount() - start >= ms) {
            return false;
        }
    }
    ::Sleep(ms);
    return false;
}

}  // namespace kavo::platform

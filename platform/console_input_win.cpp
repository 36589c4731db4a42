#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/console_input.h"

namespace kavo::platform {

namespace {

// Standard input that is a pipe: a reader thread blocks on it (PeekNamedPipe is not
// available on every kind of pipe) and counts the bytes that arrive.
std::atomic<int> g_pipe_bytes{0};

void StartPipeReader(HANDLE in) {
    static std::atomic<bool> started{false};
    if (started.exchange(true)) {
        return;
    }
    // Blocked in ReadFile until a byte comes or the writer goes; the process may end first.
    std::thread([in] {
        char c;
        DWORD got = 0;
        while (::ReadFile(in, &c, 1, &got, nullptr) && got == 1) {
            g_pipe_bytes.fetch_add(1);
        }
    }).detach();
}

}  // namespace

bool ConsoleKeyWithin(int wait_ms) {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    const DWORD ms = static_cast<DWORD>(wait_ms < 0 ? 0 : wait_ms);
    const bool valid = in != nullptr && in != INVALID_HANDLE_VALUE;
    DWORD events = 0;
    if (valid && ::GetNumberOfConsoleInputEvents(in, &events)) {
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
    if (valid && ::GetFileType(in) == FILE_TYPE_PIPE) {
        StartPipeReader(in);
        const DWORD start = ::GetTickCount();
        while (g_pipe_bytes.load() == 0 && ::GetTickCount() - start < ms) {
            ::Sleep(20);
        }
        if (g_pipe_bytes.load() > 0) {
            g_pipe_bytes.fetch_sub(1);
            return true;
        }
        return false;
    }
    ::Sleep(ms);
    return false;
}

}  // namespace kavo::platform

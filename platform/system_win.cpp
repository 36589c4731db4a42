#include <windows.h>
#include <conio.h>
#include <tlhelp32.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cwchar>

#include "platform/system.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"

namespace kavo::platform {

using win::U;
using win::W;

std::optional<std::u16string> GetEnv(std::u16string_view name) {
    const std::u16string n(name);
    const DWORD need = ::GetEnvironmentVariableW(W(n), nullptr, 0);
    if (need == 0) {
        return std::nullopt;
    }
    std::u16string value(need, u'\0');
    const DWORD got = ::GetEnvironmentVariableW(W(n), W(value.data()), need);
    value.resize(got < need ? got : 0);
    return value;
}

std::u16string ProgramPath(size_t max_units) {
    std::u16string buf(max_units, u'\0');
    const DWORD n = ::GetModuleFileNameW(nullptr, W(buf.data()), static_cast<DWORD>(max_units));
    buf.resize(n < max_units ? n : max_units - 1);
    return buf;
}

std::u16string ParentProcessName() {
    win::FileHandle snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snap) {
        return {};
    }
    const DWORD self = ::GetCurrentProcessId();
    DWORD parent = 0;
    PROCESSENTRY32W e;
    e.dwSize = sizeof e;
    for (BOOL ok = ::Process32FirstW(snap.Get(), &e); ok; ok = ::Process32NextW(snap.Get(), &e)) {
        if (e.th32ProcessID == self) {
            parent = e.th32ParentProcessID;
            break;
        }
    }
    if (parent == 0) {
        return {};
    }
    e.dwSize = sizeof e;
    for (BOOL ok = ::Process32FirstW(snap.Get(), &e); ok; ok = ::Process32NextW(snap.Get(), &e)) {
        if (e.th32ProcessID == parent) {
            std::u16string name(U(e.szExeFile));
            const size_t slash = name.find_last_of(u"\\/");
            return slash == std::u16string::npos ? name : name.substr(slash + 1);
        }
    }
    return {};
}

bool IsVistaOrLater() {
    OSVERSIONINFOEXW v{};
    v.dwOSVersionInfoSize = sizeof v;
    v.dwMajorVersion = 6;
    v.dwMinorVersion = 0;
    v.wServicePackMajor = 0;
    ULONGLONG mask = 0;
    mask = ::VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = ::VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return ::VerifyVersionInfoW(&v, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                                mask) != 0;
}

void SetUserLocale() {
    ::_wsetlocale(LC_ALL, L"");
}

void WaitForKeyPress() {
    ::_getwch();
}

uint64_t NowFileTime() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void StdoutWrite(std::u16string_view text) {
    // fputws stops at a zero unit; write such text in pieces.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\0', start);
        if (end == std::u16string_view::npos) {
            end = text.size();
        }
        const std::u16string piece(text.substr(start, end - start));
        std::fputws(W(piece), stdout);
        start = end + 1;
    }
}

void StdoutFlush() {
    std::fflush(stdout);
}

bool ConsoleWriteDirect(std::u16string_view text) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) {
        return false;
    }
    std::fflush(stdout);
    DWORD written = 0;
    return ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) !=
           0;
}

namespace {
std::atomic<void (*)()> g_ctrl_c_handler{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT) {
        if (auto h = g_ctrl_c_handler.load()) {
            h();
        }
    }
    return TRUE;
}
}  // namespace

bool InstallCtrlCHandler(void (*handler)()) {
    g_ctrl_c_handler.store(handler);
    return ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

}  // namespace kavo::platform

namespace kavo::platform {

bool WritePipeMessage(intptr_t pipe, std::u16string_view text) {
    const int wlen = static_cast<int>(text.size());
    const int n =
        wlen == 0 ? 0
                  : ::WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(text.data()),
                                          wlen, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(text.data()), wlen,
                              bytes.data(), n, nullptr, nullptr);
    }
    HANDLE h = reinterpret_cast<HANDLE>(pipe);
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(h, bytes.c_str(), static_cast<DWORD>(bytes.size() + 1), &written, nullptr);
    ::FlushFileBuffers(h);
    return ok != 0;
}

}  // namespace kavo::platform

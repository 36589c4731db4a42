#include <windows.h>

#include <gtest/gtest.h>

#include "main/notify.h"

namespace kavo {
namespace {

LRESULT CALLBACK DefaultProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return ::DefWindowProcW(w, m, wp, lp);
}

TEST(NotifyMainWindows, PostsToTheMainWindowsOfThisProgram) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefaultProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Kavo_Main_Window";
    ASSERT_NE(::RegisterClassW(&wc), 0);
    HWND w = ::CreateWindowExW(0, L"Kavo_Main_Window", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                               nullptr, wc.hInstance, nullptr);
    ASSERT_NE(w, nullptr);

    NotifyMainWindows(kUmDatabaseChanged, /*own_window=*/0x1234);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, w, kUmDatabaseChanged, kUmDatabaseChanged, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0x1234u);
    EXPECT_EQ(msg.lParam, 0);

    ::DestroyWindow(w);
    ::UnregisterClassW(L"Kavo_Main_Window", wc.hInstance);
}

}  // namespace
}  // namespace kavo

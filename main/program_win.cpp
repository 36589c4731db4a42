#include <windows.h>

#include <string>
#include <vector>

#include "main/entry.h"
#include "platform/wide_win.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::u16string> args;
    args.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        args.emplace_back(kavo::win::U(argv[i]));
    }
    return kavo::EntryRoutine(std::move(args));
}

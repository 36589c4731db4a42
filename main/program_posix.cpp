#include <string>
#include <vector>

#include "base/text.h"
#include "main/entry.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    args.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        args.push_back(kavo::Utf8ToUtf16(argv[i]));
    }
    return kavo::EntryRoutine(std::move(args));
}

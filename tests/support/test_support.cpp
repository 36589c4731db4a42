#include "tests/support/test_support.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "base/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kavo::test {
namespace {

std::u16string ToWindowsForm(const std::filesystem::path& p) {
#ifdef _WIN32
    std::u16string s(reinterpret_cast<const char16_t*>(p.wstring().c_str()));
#else
    std::u16string s = Utf8ToUtf16(p.string());
#endif
    ReplaceAll(s, u'/', u'\\');
    return s;
}

}  // namespace

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        const auto dir = base / ("kavo-test-" + std::to_string(rd()) + "-" +
                                 std::to_string(counter.fetch_add(1)));
        std::error_code ec;
        if (std::filesystem::create_directory(dir, ec)) {
            path_ = ToWindowsForm(dir) + u"\\";
            return;
        }
    }
}

TempFolder::~TempFolder() {
    std::error_code ec;
#ifdef _WIN32
    std::filesystem::remove_all(
        std::filesystem::path(reinterpret_cast<const wchar_t*>(path_.c_str())), ec);
#else
    std::u16string p = path_;
    ReplaceAll(p, u'\\', u'/');
    std::filesystem::remove_all(Utf16ToUtf8(p), ec);
#endif
}

std::string SharedDataHostPath(const std::string& relative) {
    std::string base = KAVO_SHARED_DIR;
#ifdef _WIN32
    // Wine maps the host's root folder to Z:.
    for (char& c : base) {
        if (c == '/')
            c = '\\';
    }
    std::string rel = relative;
    for (char& c : rel) {
        if (c == '/')
            c = '\\';
    }
    return "Z:" + base + "\\" + rel;
#else
    return base + "/" + relative;
#endif
}

std::u16string SharedDataPath(const std::u16string& relative) {
    std::u16string p = Utf8ToUtf16(SharedDataHostPath(Utf16ToUtf8(relative)));
    ReplaceAll(p, u'/', u'\\');
    return p;
}

void SetEnv(const std::u16string& name, const std::u16string* value) {
#ifdef _WIN32
    ::SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(name.c_str()),
                              value ? reinterpret_cast<const wchar_t*>(value->c_str()) : nullptr);
#else
    if (value) {
        ::setenv(Utf16ToUtf8(name).c_str(), Utf16ToUtf8(*value).c_str(), 1);
    } else {
        ::unsetenv(Utf16ToUtf8(name).c_str());
    }
#endif
}

}  // namespace kavo::test

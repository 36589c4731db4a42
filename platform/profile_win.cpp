#include <windows.h>

#include <vector>

#include "platform/file.h"
#include "platform/profile.h"
#include "platform/unique_handle_win.h"
#include "platform/wide_win.h"

namespace kavo::platform {

using win::U;
using win::W;

namespace {

// The private-profile API writes a new file in the ANSI code page, which would lose every
// name outside it. A file that starts with a UTF-16 byte-order mark is kept in UTF-16, so
// a missing file is created that way before the first write.
void EnsureUnicodeFile(const std::u16string& file) {
    win::FileHandle h(::CreateFileW(W(file), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h) {
        static const unsigned char kBom[2] = {0xFF, 0xFE};
        DWORD written = 0;
        ::WriteFile(h.Get(), kBom, sizeof kBom, &written, nullptr);
    }
}

}  // namespace

std::u16string ProfileReadString(const std::u16string& file,
                                 const std::u16string& section,
                                 const std::u16string& key,
                                 const std::u16string& fallback,
                                 size_t buffer_units) {
    if (buffer_units == 0) {
        return {};
    }
    std::vector<wchar_t> buf(buffer_units, L'\0');
    const DWORD n = ::GetPrivateProfileStringW(W(section), W(key), W(fallback), buf.data(),
                                               static_cast<DWORD>(buffer_units), W(file));
    return std::u16string(U(buf.data(), n));
}

bool ProfileWriteString(const std::u16string& file,
                        const std::u16string& section,
                        const std::u16string& key,
                        const std::optional<std::u16string>& value) {
    if (value) {
        EnsureUnicodeFile(file);
    }
    return ::WritePrivateProfileStringW(W(section), W(key), value ? W(*value) : nullptr, W(file)) !=
           0;
}

bool ProfileDeleteSection(const std::u16string& file, const std::u16string& section) {
    return ::WritePrivateProfileStructW(W(section), nullptr, nullptr, 0, W(file)) != 0;
}

std::vector<std::u16string> ProfileSectionNames(const std::u16string& file, size_t buffer_units) {
    std::vector<wchar_t> buf(buffer_units + 2, L'\0');
    const DWORD n =
        ::GetPrivateProfileSectionNamesW(buf.data(), static_cast<DWORD>(buffer_units), W(file));
    std::vector<std::u16string> names;
    size_t i = 0;
    while (i < n && buf[i] != L'\0') {
        std::u16string name(U(&buf[i]));
        i += name.size() + 1;
        names.push_back(std::move(name));
    }
    return names;
}

bool ProfileWriteStruct(const std::u16string& file,
                        const std::u16string& section,
                        const std::u16string& key,
                        const void* data,
                        size_t size) {
    EnsureUnicodeFile(file);
    return ::WritePrivateProfileStructW(W(section), W(key), const_cast<void*>(data),
                                        static_cast<UINT>(size), W(file)) != 0;
}

std::optional<std::vector<uint8_t>> ProfileReadStruct(const std::u16string& file,
                                                      const std::u16string& section,
                                                      const std::u16string& key,
                                                      size_t size) {
    std::vector<uint8_t> data(size);
    if (!::GetPrivateProfileStructW(W(section), W(key), data.data(), static_cast<UINT>(size),
                                    W(file))) {
        return std::nullopt;
    }
    return data;
}

}  // namespace kavo::platform

// Private-profile (INI) files, with the observable behaviour of the Win32 private-profile
// API: sections and keys compared without case, white space around keys and values
// dropped, one pair of surrounding quotes stripped on read, reads cut to the buffer.
// The Win32 implementation is the API itself; the POSIX one reproduces it for the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavo::platform {

// GetPrivateProfileStringW: the value, or `fallback` when the key is missing, cut to at most
// `buffer_units` - 1 units.
std::u16string ProfileReadString(const std::u16string& file,
                                 const std::u16string& section,
                                 const std::u16string& key,
                                 const std::u16string& fallback,
                                 size_t buffer_units);
// WritePrivateProfileStringW; a null value (nullopt) deletes the key.
bool ProfileWriteString(const std::u16string& file,
                        const std::u16string& section,
                        const std::u16string& key,
                        const std::optional<std::u16string>& value);
// WritePrivateProfileStructW with a null key: deletes the whole section.
bool ProfileDeleteSection(const std::u16string& file, const std::u16string& section);
// GetPrivateProfileSectionNamesW into `buffer_units` units.
std::vector<std::u16string> ProfileSectionNames(const std::u16string& file, size_t buffer_units);
// WritePrivateProfileStructW: hexadecimal bytes followed by a checksum byte.
bool ProfileWriteStruct(const std::u16string& file,
                        const std::u16string& section,
                        const std::u16string& key,
                        const void* data,
                        size_t size);
// GetPrivateProfileStructW: the bytes when exactly `size` bytes with a valid checksum are
// stored, nullopt otherwise.
std::optional<std::vector<uint8_t>> ProfileReadStruct(const std::u16string& file,
                                                      const std::u16string& section,
                                                      const std::u16string& key,
                                                      size_t size);

}  // namespace kavo::platform

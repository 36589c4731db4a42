#include "search/named_searches.h"

#include "base/case_map.h"
#include "base/format.h"
#include "base/text.h"
#include "main/process.h"
#include "platform/profile.h"

namespace kavo {

namespace {

constexpr char16_t kSection[] = u"NamedSearch";
constexpr size_t kValueUnits = 4096;

struct Default {
    const char16_t* name;
    const char16_t* search;
};

constexpr Default kDefaults[] = {
    {u"File", u"/f"},
    {u"Folder", u"/d"},
    {u"Executable", u"/f *.exe|*.bat|*.cmd|*.ps1"},
    {u"Office", u"/f *.doc|*.xls|*.ppt|*.docx|*.xlsx|*.pptx"},
    {u"Book", u"/f *.pdf|*.chm|*.epub"},
    {u"Video", u"/f *.avi|*.wmv|*.mpg|*.mkv|*.mp4|*.mov"},
    {u"Audio", u"/f *.mp3|*.wav|*.ape|*.flac|*.wma"},
    {u"Picture", u"/f *.jpg|*.png|*.gif|*.bmp|*.ico|*.wmf"},
    {u"Archive", u"/f *.rar|*.zip|*.cab|*.7z|*.gz"},
    {u"Code", u"/f *.c|*.cpp|*.h|*.java|*.jsp|*.js|*.css|*.cs|*.py|*.sql"},
    {u"Text", u"/f *.txt|*.html|*.xml|*.csv"},
};

int64_t ReadCount(const std::u16string& path) {
    const std::u16string v = platform::ProfileReadString(path, kSection, u"Count", u"", 64);
    if (v.empty()) {
        return -1;
    }
    return ParseLeadingInt64(v);
}

}  // namespace

void EnsureNamedSearches(const std::u16string& settings_path) {
    if (ReadCount(settings_path) != -1) {
        return;
    }
    int n = 0;
    for (const Default& d : kDefaults) {
        ++n;
        platform::ProfileWriteString(settings_path, kSection, Format(u"Name%d", n),
                                     std::u16string(d.name));
        platform::ProfileWriteString(settings_path, kSection, Format(u"Search%d", n),
                                     std::u16string(d.search));
    }
    platform::ProfileWriteString(settings_path, kSection, u"Count", ToDecimal(n));
}

std::vector<std::u16string> NamedSearchNames(const std::u16string& settings_path) {
    EnsureNamedSearches(settings_path);
    std::vector<std::u16string> names;
    const int64_t count = ReadCount(settings_path);
    for (int64_t i = 1; i <= count && i <= 100000; ++i) {
        std::u16string name = platform::ProfileReadString(settings_path, kSection,
                                                          Format(u"Name%d", i), u"", kValueUnits);
        if (!name.empty()) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

std::u16string FindNamedSearchIn(const std::u16string& settings_path, const std::u16string& name) {
    EnsureNamedSearches(settings_path);
    const int64_t count = ReadCount(settings_path);
    for (int64_t i = 1; i <= count && i <= 100000; ++i) {
        const std::u16string n = platform::ProfileReadString(
            settings_path, kSection, Format(u"Name%d", i), u"", kValueUnits);
        if (EqualsIgnoreCase(n, name)) {
            return platform::ProfileReadString(settings_path, kSection, Format(u"Search%d", i), u"",
                                               kValueUnits);
        }
    }
    return u"";
}

std::u16string FindNamedSearch(const std::u16string& name) {
    return FindNamedSearchIn(Process().settings_path, name);
}

}  // namespace kavo

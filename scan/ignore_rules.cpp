#include "scan/ignore_rules.h"

#include "base/case_map.h"
#include "base/format.h"
#include "base/text.h"
#include "platform/file.h"
#include "settings/settings.h"

namespace kavo::scan {

std::vector<NamePattern> ParseNamePatterns(std::u16string_view value) {
    std::vector<NamePattern> patterns;
    for (std::u16string item : Split(value, u':')) {
        if (item.empty()) {
            continue;
        }
        NamePattern p;
        if (item.back() == u'\\' || item.back() == u'/') {
            if (item.size() == 1) {
                continue;
            }
            p.folder = true;
            item.pop_back();
        }
        if (!item.empty() && item.front() == u'*') {
            p.kind = NamePattern::Kind::kSuffix;
            item.erase(0, 1);
        } else if (!item.empty() && item.back() == u'*') {
            p.kind = NamePattern::Kind::kPrefix;
            item.pop_back();
        }
        p.text = std::move(item);
        patterns.push_back(std::move(p));
    }
    return patterns;
}

bool MatchesNamePattern(const std::vector<NamePattern>& patterns,
                        std::u16string_view name,
                        bool is_folder) {
    for (const NamePattern& p : patterns) {
        if (p.folder != is_folder || p.text.size() > name.size()) {
            continue;
        }
        std::u16string_view part;
        switch (p.kind) {
            case NamePattern::Kind::kExact:
                if (p.text.size() != name.size()) {
                    continue;
                }
                part = name;
                break;
            case NamePattern::Kind::kPrefix:
                part = name.substr(0, p.text.size());
                break;
            case NamePattern::Kind::kSuffix:
                part = name.substr(name.size() - p.text.size());
                break;
        }
        if (EqualsIgnoreCase(part, p.text)) {
            return true;
        }
    }
    return false;
}

IgnoreOptions ReadIgnoreOptions(const std::u16string& settings_path) {
    const Settings s(settings_path);
    IgnoreOptions o;
    o.exclude_hidden = s.Get(settings::kExcludeHidden);
    o.exclude_by_name = s.Get(settings::kExcludeByName);
    o.exclude_names = s.Get(settings::kExcludeNames);
    return o;
}

IgnoreRules::IgnoreRules(const IgnoreOptions& options)
    : exclude_hidden_(options.exclude_hidden),
      exclude_by_name_(options.exclude_by_name),
      patterns_(ParseNamePatterns(options.exclude_names)) {}

bool IgnoreRules::IsNameExcluded(std::u16string_view name, bool is_folder) const {
    return exclude_by_name_ && MatchesNamePattern(patterns_, name, is_folder);
}

bool FolderPathLess::operator()(const std::u16string& a, const std::u16string& b) const {
    return CompareIgnoreCase(a, b) < 0;
}

void MergeIgnoreList(const std::u16string& settings_path,
                     std::u16string_view built_drives,
                     const std::vector<std::u16string>& reported_folders) {
    const Settings s(settings_path);
    const char16_t* section = settings::kKavoIgnoreFolders;
    const int64_t old_count = s.ReadInteger(section, settings::kCountKey);
    FolderSet kept;
    for (int64_t i = 1; i <= old_count; ++i) {
        std::u16string folder = s.ReadText(section, Format(u"Item_%d", i));
        if (folder.empty()) {
            continue;
        }
        const char16_t drive = UpperUnit(folder[0]);
        const bool built = built_drives.find(drive) != std::u16string_view::npos;
        std::u16string marker = folder;
        if (marker.back() != u'\\') {
            marker += u'\\';
        }
        marker += u"_kavoignore";
        if (!built || platform::FileExists(marker)) {
            kept.insert(std::move(folder));
        }
    }
    for (const std::u16string& folder : reported_folders) {
        kept.insert(folder);
    }
    if (static_cast<int64_t>(kept.size()) < old_count) {
        s.DeleteSection(section);
    }
    s.WriteInteger(section, settings::kCountKey, static_cast<int64_t>(kept.size()));
    int n = 1;
    for (const std::u16string& folder : kept) {
        s.WriteText(section, Format(u"Item_%d", n++), folder);
    }
}

}  // namespace kavo::scan

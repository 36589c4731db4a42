#include "settings/settings.h"

#include "base/case_map.h"
#include "base/text.h"
#include "main/process.h"
#include "platform/profile.h"

namespace kavo {

namespace settings {

namespace {

constexpr KeyInfo Row(const TextKey& k) {
    return {k.section, k.key, Kind::kText, 0};
}
constexpr KeyInfo Row(const ListKey& k) {
    return {k.section, k.key, Kind::kList, 0};
}
constexpr KeyInfo Row(const IntegerKey& k) {
    return {k.section, k.key, Kind::kInteger, k.default_value};
}
constexpr KeyInfo Row(const FlagKey& k) {
    return {k.section, k.key, Kind::kFlag, k.default_value ? 1 : 0};
}
constexpr KeyInfo Row(const BinaryKey& k) {
    return {k.section, k.key, Kind::kBinary, 0};
}

constexpr KeyInfo kTable[] = {
    Row(kExcludeHidden),
    Row(kExcludeByName),
    Row(kExcludeNames),
    Row(kVolumeStates),
    Row(kBuildInBackground),
    Row(kBuildOnStartup),
    Row(kAutoBuild),
    Row(kBuildEveryValue),
    Row(kBuildEveryUnit),
    Row(kLanguage),
    Row(kLanguageFile),
    Row(kCloseToTray),
    Row(kStartMinimized),
    Row(kNoMinimizeNotification),
    Row(kMultiInstance),
    Row(kCloseByEsc),
    Row(kRibbonUI),
    Row(kShowBuiltNotification),
    Row(kRememberRecentSearches),
    Row(kRememberRecentOpened),
    Row(kRememberRecentLocations),
    Row(kShowFolderSize),
    Row(kHumanReadableSize),
    Row(kExplorerStyleList),
    Row(kShowInfoTipOnCtrlDown),
    Row(kDetailedInfoTip),
    Row(kShowAllItemsForEmptySearch),
    Row(kThumbnailSize),
    Row(kAutoStretchColumns),
    Row(kAvoidWakingUpHdds),
    Row(kGlobalFilter),
    Row(kNavButtons),
    Row(kSearchButton),
    Row(kStatusBar),
    Row(kAltRowGroupColor),
    Row(kColumns),
    Row(kToolbar),
    Row(kShowTree),
    Row(kTreePaneWidth),
    Row(kThumbnailsView),
    Row(kWindowPlacement),
    Row(kLvClientWidth),
    Row(kLvColWidths),
    Row(kLvDynColWidths),
    Row(kZoomScale),
    Row(kShowingHashInfo),
    Row(kShowFilesCount),
    Row(kGotoRow),
    Row(kQueryComposerPos),
    Row(kBigToolbar),
    Row(kToolbarState),
    Row(kCustomCommandNames),
    Row(kRibbonState),
    Row(kLastUIStartTime),
    Row(kLastUIEndTime),
    Row(kLastRunVersion),
    Row(kShowTipOnStartup),
    Row(kDefaultTodIndex),
    Row(kDBVersion),
    Row(kBuildingDrive),
    Row(kWebIp),
    Row(kWebPort),
    Row(kWebUserName),
    Row(kWebPassword),
    Row(kWebRunning),
    Row(kFindStr),
    Row(kKvViewFile),
    Row(kKvViewAlwaysOnTop),
    Row(kKvViewWindowPlacement),
    Row(kKvViewListerPath),
};

}  // namespace

std::span<const KeyInfo> AllSettings() {
    return kTable;
}

const KeyInfo* FindSetting(std::u16string_view section, std::u16string_view key) {
    for (const KeyInfo& k : kTable) {
        if (EqualsIgnoreCase(k.section, section) && EqualsIgnoreCase(k.key, key)) {
            return &k;
        }
    }
    return nullptr;
}

}  // namespace settings

namespace {

constexpr size_t kTextUnits = 255;  // at most 254 characters are read
constexpr size_t kSectionNamesUnits = 4096;

std::u16string SectionOf(const char16_t* section) {
    return section ? std::u16string(section) : std::u16string(settings::kGlobal);
}

// A value that begins and ends with a double quote gets one more pair, which the read
// strips again.
std::u16string Quoted(std::u16string_view v) {
    if (!v.empty() && v.front() == u'"' && v.back() == u'"') {
        std::u16string out(v.size() + 2, u'"');
        v.copy(out.data() + 1, v.size());
        return out;
    }
    return std::u16string(v);
}

}  // namespace

std::u16string Settings::ReadText(const char16_t* section, std::u16string_view key) const {
    return platform::ProfileReadString(path_, SectionOf(section), std::u16string(key), u"",
                                       kTextUnits);
}

bool Settings::KeyExists(const char16_t* section, std::u16string_view key) const {
    // Two different fallbacks both come back only when the key is missing.
    const std::u16string s = SectionOf(section);
    const std::u16string k(key);
    return platform::ProfileReadString(path_, s, k, u"\x01", 2) != u"\x01" ||
           platform::ProfileReadString(path_, s, k, u"\x02", 2) != u"\x02";
}

int64_t Settings::ReadInteger(const char16_t* section,
                              std::u16string_view key,
                              int64_t default_value) const {
    const std::u16string v = ReadText(section, key);
    if (v.empty()) {
        return default_value;
    }
    return ParseLeadingInt64(v);
}

bool Settings::ReadFlag(const char16_t* section,
                        std::u16string_view key,
                        bool default_value) const {
    return ReadInteger(section, key, default_value ? 1 : 0) == 1;
}

int64_t Settings::Get(const settings::IntegerKey& k) const {
    int64_t v = ReadInteger(k.section, k.key, k.default_value);
    if (k.min_value <= k.max_value) {
        v = v < k.min_value ? k.min_value : (v > k.max_value ? k.max_value : v);
    }
    return v;
}

void Settings::WriteText(const char16_t* section,
                         std::u16string_view key,
                         std::u16string_view v) const {
    platform::ProfileWriteString(path_, SectionOf(section), std::u16string(key), Quoted(v));
}

void Settings::WriteInteger(const char16_t* section, std::u16string_view key, int64_t v) const {
    platform::ProfileWriteString(path_, SectionOf(section), std::u16string(key), ToDecimal(v));
}

void Settings::WriteFlag(const char16_t* section, std::u16string_view key, bool v) const {
    platform::ProfileWriteString(path_, SectionOf(section), std::u16string(key),
                                 std::u16string(v ? u"1" : u"0"));
}

void Settings::DeleteKey(const char16_t* section, std::u16string_view key) const {
    platform::ProfileWriteString(path_, SectionOf(section), std::u16string(key), std::nullopt);
}

void Settings::DeleteSection(const char16_t* section) const {
    platform::ProfileDeleteSection(path_, SectionOf(section));
}

std::vector<std::u16string> Settings::SectionNames() const {
    return platform::ProfileSectionNames(path_, kSectionNamesUnits);
}

std::optional<std::vector<uint8_t>> Settings::Get(const settings::BinaryKey& k,
                                                  size_t max_size) const {
    const int64_t size = ReadInteger(k.section, u"_cb_" + std::u16string(k.key), 0);
    if (size <= 0 || static_cast<uint64_t>(size) > max_size) {
        return std::nullopt;
    }
    return platform::ProfileReadStruct(path_, SectionOf(k.section), k.key,
                                       static_cast<size_t>(size));
}

void Settings::Set(const settings::BinaryKey& k, const void* data, size_t size) const {
    platform::ProfileWriteStruct(path_, SectionOf(k.section), k.key, data, size);
    WriteInteger(k.section, u"_cb_" + std::u16string(k.key), static_cast<int64_t>(size));
}

std::u16string RecentItemKey(size_t i) {
    const char16_t c =
        i < 10 ? static_cast<char16_t>(u'0' + i) : static_cast<char16_t>(u'A' + (i - 10));
    return std::u16string(u"Item") + c;
}

std::vector<std::u16string> Settings::ReadRecentList(const char16_t* section,
                                                     size_t capacity) const {
    std::vector<std::u16string> items;
    for (size_t i = 0; i < capacity; ++i) {
        std::u16string v = ReadText(section, RecentItemKey(i));
        if (v.empty()) {
            break;
        }
        items.push_back(std::move(v));
    }
    return items;
}

void Settings::WriteRecentList(const char16_t* section,
                               const std::vector<std::u16string>& items,
                               size_t capacity) const {
    for (size_t i = 0; i < capacity; ++i) {
        if (i < items.size() && !items[i].empty()) {
            WriteText(section, RecentItemKey(i), items[i]);
        } else {
            DeleteKey(section, RecentItemKey(i));
        }
    }
}

void Settings::CleanUpAfterIncompatibleDatabase() const {
    if (!KeyExists(settings::kGlobal, settings::kDBVersion.key)) {
        return;
    }
    DeleteKey(settings::kGlobal, settings::kDBVersion.key);
    DeleteSection(settings::kDriveLabels);
    for (const std::u16string& name : SectionNames()) {
        if (name.size() == 2 && name[0] >= u'A' && name[0] <= u'Z' && name[1] == u'_') {
            platform::ProfileDeleteSection(path_, name);
        }
    }
}

Settings AppSettings() {
    return Settings(Process().settings_path);
}

std::u16string ListToEditText(std::u16string_view list) {
    std::u16string out;
    for (char16_t c : list) {
        if (c == u':') {
            out += u"\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::u16string EditTextToList(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        if (c == u'\r') {
            continue;
        }
        out.push_back(c == u'\n' ? u':' : c);
    }
    return out;
}

std::vector<std::u16string> SplitList(std::u16string_view list) {
    std::vector<std::u16string> out;
    for (std::u16string& s : Split(list, u':')) {
        if (!s.empty()) {
            out.push_back(std::move(s));
        }
    }
    return out;
}

}  // namespace kavo

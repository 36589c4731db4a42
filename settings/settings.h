// The settings file kavo.ini (a private-profile file in the database folder). Settings are
// read at the moment of use and written at once; there is no cache, so several processes
// can share the file (each access is one private-profile call).
//
// Every key is declared once below as a typed constant (section, key, default), and
// AllSettings() lists them all. Use them with a Settings object over the process's file:
//
//     Settings s = AppSettings();                  // over Process().settings_path
//     if (s.Get(settings::kExcludeHidden)) ...     // flag with its default
//     int64_t port = s.Get(settings::kWebPort);    // integer with its default
//     s.Set(settings::kBuildingDrive, u"C");       // text, quote rule applied
//
// Value conventions:
//   text     read with an empty default into 255 units (at most 254 characters); a value
//            that begins and ends with a double quote is written inside one more pair, so
//            that reading (which strips one pair) gives it back unchanged.
//   integer  decimal text; read as a 64-bit decimal number (leading digits, as _wtoi64);
//            an empty value gives the default.
//   flag     "1"/"0"; true exactly when the value parses to 1; empty gives the default.
//   list     one text value, items separated by ":" (ListToEditText / EditTextToList
//            convert to and from the one-item-a-line form of the edit boxes).
//   binary   WritePrivateProfileStructW; the size is kept under "_cb_" + key.
//   numbered and recent lists: see the functions below.
// A null section (nullptr) means "Global".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

namespace settings {

enum class Kind { kText, kInteger, kFlag, kList, kBinary };

struct TextKey {
    const char16_t* section;
    const char16_t* key;
};
struct ListKey {
    const char16_t* section;
    const char16_t* key;
};
struct IntegerKey {
    const char16_t* section;
    const char16_t* key;
    int64_t default_value = 0;
    // Values read are clamped to [min_value, max_value] when min_value <= max_value.
    int64_t min_value = 1;
    int64_t max_value = 0;
};
struct FlagKey {
    const char16_t* section;
    const char16_t* key;
    bool default_value = false;
};
struct BinaryKey {
    const char16_t* section;
    const char16_t* key;
};

// One row of the key table.
struct KeyInfo {
    const char16_t* section;
    const char16_t* key;
    Kind kind;
    int64_t default_value;  // integers and flags
};

inline constexpr char16_t kOptions[] = u"Options";
inline constexpr char16_t kUIState[] = u"UIState";
inline constexpr char16_t kGlobal[] = u"Global";
inline constexpr char16_t kBuild[] = u"Build";
inline constexpr char16_t kWebServer[] = u"WebServer";
inline constexpr char16_t kMessage[] = u"Message";
inline constexpr char16_t kNamedSearch[] = u"NamedSearch";
inline constexpr char16_t kCustomAction[] = u"CustomAction";
inline constexpr char16_t kKeyboardShortcuts[] = u"KeyboardShortcuts";
inline constexpr char16_t kKavoIgnoreFolders[] = u"KavoIgnoreFolders";
inline constexpr char16_t kDriveLabels[] = u"DriveLabels";
inline constexpr char16_t kKvView[] = u"KvView";
// Recent lists.
inline constexpr char16_t kMRU[] = u"MRU";                              // searches
inline constexpr char16_t kMRO[] = u"MRO";                              // opened files
inline constexpr char16_t kMRL[] = u"MRL";                              // search locations
inline constexpr char16_t kRecentDbLocations[] = u"RecentDbLocations";  // database folders

// Section Options.
inline constexpr FlagKey kExcludeHidden{kOptions, u"ExcludeHidden", false};
inline constexpr FlagKey kExcludeByName{kOptions, u"ExcludeByName", false};
inline constexpr ListKey kExcludeNames{kOptions, u"ExcludeNames"};
inline constexpr TextKey kVolumeStates{kOptions, u"VolumeStates"};
inline constexpr FlagKey kBuildInBackground{kOptions, u"BuildInBackground", false};
inline constexpr FlagKey kBuildOnStartup{kOptions, u"BuildOnStartup", false};
inline constexpr FlagKey kAutoBuild{kOptions, u"AutoBuild", false};
inline constexpr TextKey kBuildEveryValue{kOptions, u"BuildEveryValue"};
inline constexpr IntegerKey kBuildEveryUnit{kOptions, u"BuildEveryUnit", 0};  // 0 min, 1 h, 2 d
inline constexpr IntegerKey kLanguage{kOptions, u"Language", 0};
inline constexpr TextKey kLanguageFile{kOptions, u"LanguageFile"};
inline constexpr FlagKey kCloseToTray{kOptions, u"CloseToTray", false};
inline constexpr FlagKey kStartMinimized{kOptions, u"StartMinimized", false};
inline constexpr FlagKey kNoMinimizeNotification{kOptions, u"NoMinimizeNotification", false};
inline constexpr FlagKey kMultiInstance{kOptions, u"MultiInstance", false};
inline constexpr FlagKey kCloseByEsc{kOptions, u"CloseByEsc", true};
inline constexpr FlagKey kRibbonUI{kOptions, u"RibbonUI", true};
inline constexpr FlagKey kShowBuiltNotification{kOptions, u"ShowBuiltNotification", true};
inline constexpr FlagKey kRememberRecentSearches{kOptions, u"RememberRecentSearches", true};
inline constexpr FlagKey kRememberRecentOpened{kOptions, u"RememberRecentOpened", true};
inline constexpr FlagKey kRememberRecentLocations{kOptions, u"RememberRecentLocations", true};
inline constexpr FlagKey kShowFolderSize{kOptions, u"ShowFolderSize", false};
inline constexpr FlagKey kHumanReadableSize{kOptions, u"HumanReadableSize", true};
inline constexpr FlagKey kExplorerStyleList{kOptions, u"ExplorerStyleList", true};
inline constexpr FlagKey kShowInfoTipOnCtrlDown{kOptions, u"ShowInfoTipOnCtrlDown", false};
inline constexpr FlagKey kDetailedInfoTip{kOptions, u"DetailedInfoTip", false};
inline constexpr FlagKey kShowAllItemsForEmptySearch{kOptions, u"ShowAllItemsForEmptySearch", true};
inline constexpr IntegerKey kThumbnailSize{kOptions, u"ThumbnailSize", 48, 32, 256};
inline constexpr FlagKey kAutoStretchColumns{kOptions, u"AutoStretchColumns", true};
inline constexpr FlagKey kAvoidWakingUpHdds{kOptions, u"AvoidWakingUpHdds", false};
inline constexpr ListKey kGlobalFilter{kOptions, u"GlobalFilter"};
inline constexpr FlagKey kNavButtons{kOptions, u"NavButtons", true};
inline constexpr FlagKey kSearchButton{kOptions, u"SearchButton", false};
inline constexpr FlagKey kStatusBar{kOptions, u"StatusBar", true};
inline constexpr FlagKey kAltRowGroupColor{kOptions, u"AltRowGroupColor", false};

// Section UIState (layout values; their meaning belongs to the window parts).
inline constexpr TextKey kColumns{kUIState, u"Columns"};
inline constexpr FlagKey kToolbar{kUIState, u"Toolbar", true};
inline constexpr FlagKey kShowTree{kUIState, u"ShowTree", false};
inline constexpr IntegerKey kTreePaneWidth{kUIState, u"TreePaneWidth", 0};
inline constexpr FlagKey kThumbnailsView{kUIState, u"ThumbnailsView", false};
inline constexpr TextKey kWindowPlacement{kUIState, u"WindowPlacement"};  // "%d,%d,%d,%d,%d"
inline constexpr TextKey kLvClientWidth{kUIState, u"Lv_ClientWidth"};     // "%d"
inline constexpr TextKey kLvColWidths{kUIState, u"Lv_ColWidths"};
inline constexpr TextKey kLvDynColWidths{kUIState, u"Lv_DynColWidths"};
inline constexpr TextKey kZoomScale{kUIState, u"ZoomScale"};
inline constexpr TextKey kShowingHashInfo{kUIState, u"ShowingHashInfo"};
inline constexpr TextKey kShowFilesCount{kUIState, u"ShowFilesCount"};
inline constexpr IntegerKey kGotoRow{kUIState, u"GotoRow", 0};
inline constexpr TextKey kQueryComposerPos{kUIState, u"QueryComposerPos"};  // "%d,%d"
inline constexpr TextKey kBigToolbar{kUIState, u"BigToolbar"};
inline constexpr TextKey kToolbarState{kUIState, u"ToolbarState"};
inline constexpr TextKey kCustomCommandNames{kUIState, u"CustomCommandNames"};
inline constexpr BinaryKey kRibbonState{kUIState, u"RibbonState"};  // size under _cb_RibbonState

// Section Global.
inline constexpr IntegerKey kLastUIStartTime{kGlobal, u"LastUIStartTime", 0};  // file times
inline constexpr IntegerKey kLastUIEndTime{kGlobal, u"LastUIEndTime", 0};
inline constexpr TextKey kLastRunVersion{kGlobal, u"LastRunVersion"};  // "4.4.0"
inline constexpr FlagKey kShowTipOnStartup{kGlobal, u"ShowTipOnStartup", false};
inline constexpr IntegerKey kDefaultTodIndex{kGlobal, u"DefaultTodIndex", 0};
inline constexpr TextKey kDBVersion{kGlobal, u"DBVersion"};  // settings of earlier versions

// Section Build.
inline constexpr TextKey kBuildingDrive{kBuild, u"BuildingDrive"};

// Section WebServer.
inline constexpr TextKey kWebIp{kWebServer, u"ip"};
inline constexpr IntegerKey kWebPort{kWebServer, u"port", 8080};
inline constexpr TextKey kWebUserName{kWebServer, u"userName"};
inline constexpr TextKey kWebPassword{kWebServer, u"password"};
inline constexpr FlagKey kWebRunning{kWebServer, u"Running", false};

// Section Message.
inline constexpr TextKey kFindStr{kMessage, u"FindStr"};

// Section KvView (the previewer's keys in the same file).
inline constexpr TextKey kKvViewFile{kKvView, u"File"};
inline constexpr FlagKey kKvViewAlwaysOnTop{kKvView, u"AlwaysOnTop", false};
inline constexpr TextKey kKvViewWindowPlacement{kKvView, u"WindowPlacement"};
inline constexpr TextKey kKvViewListerPath{kKvView, u"ListerPath"};

// Numbered lists: a Count key and keys per item, formatted with the item number.
inline constexpr char16_t kCountKey[] = u"Count";
// NamedSearch: "Name%d", "Search%d". CustomAction: "Name%d", "Command%d" (at most 24).
// KeyboardShortcuts: "Item%d" = "%d,%d,%d". KavoIgnoreFolders: "Item_%d".
constexpr int kMaxCustomActions = 24;

// Every key above with its kind and default (numbered and recent lists excluded).
std::span<const KeyInfo> AllSettings();
// The row of a key (section and key compared without case), or null.
const KeyInfo* FindSetting(std::u16string_view section, std::u16string_view key);

}  // namespace settings

class Settings {
  public:
    explicit Settings(std::u16string path) : path_(std::move(path)) {}
    const std::u16string& Path() const { return path_; }

    // Typed access with the table's defaults.
    std::u16string Get(const settings::TextKey& k) const { return ReadText(k.section, k.key); }
    std::u16string Get(const settings::ListKey& k) const { return ReadText(k.section, k.key); }
    int64_t Get(const settings::IntegerKey& k) const;  // clamped when the key has a range
    bool Get(const settings::FlagKey& k) const {
        return ReadFlag(k.section, k.key, k.default_value);
    }
    void Set(const settings::TextKey& k, std::u16string_view v) const {
        WriteText(k.section, k.key, v);
    }
    void Set(const settings::ListKey& k, std::u16string_view v) const {
        WriteText(k.section, k.key, v);
    }
    void Set(const settings::IntegerKey& k, int64_t v) const { WriteInteger(k.section, k.key, v); }
    void Set(const settings::FlagKey& k, bool v) const { WriteFlag(k.section, k.key, v); }
    // Binary values: the bytes when the stored size (under "_cb_" + key) is known and at most
    // `max_size`, and the stored data is valid; nullopt otherwise.
    std::optional<std::vector<uint8_t>> Get(const settings::BinaryKey& k, size_t max_size) const;
    void Set(const settings::BinaryKey& k, const void* data, size_t size) const;
    void Delete(const settings::TextKey& k) const { DeleteKey(k.section, k.key); }

    // Untyped access (section nullptr = "Global").
    std::u16string ReadText(const char16_t* section, std::u16string_view key) const;
    int64_t ReadInteger(const char16_t* section,
                        std::u16string_view key,
                        int64_t default_value = 0) const;
    bool ReadFlag(const char16_t* section, std::u16string_view key, bool default_value) const;
    // Section Options.
    bool ReadFlag(std::u16string_view key, bool default_value) const {
        return ReadFlag(settings::kOptions, key, default_value);
    }
    bool KeyExists(const char16_t* section, std::u16string_view key) const;
    void WriteText(const char16_t* section, std::u16string_view key, std::u16string_view v) const;
    void WriteInteger(const char16_t* section, std::u16string_view key, int64_t v) const;
    void WriteFlag(const char16_t* section, std::u16string_view key, bool v) const;
    void DeleteKey(const char16_t* section, std::u16string_view key) const;
    void DeleteSection(const char16_t* section) const;
    // GetPrivateProfileSectionNamesW into 4,096 units.
    std::vector<std::u16string> SectionNames() const;

    // Recent lists: item i under "Item" + "0".."9" for i < 10, then "A", "B", ....
    // Reading stops at the first empty item or at `capacity`.
    std::vector<std::u16string> ReadRecentList(const char16_t* section, size_t capacity) const;
    // Writes every non-empty item (text rule) and deletes the key of every empty slot up to
    // `capacity`.
    void WriteRecentList(const char16_t* section,
                         const std::vector<std::u16string>& items,
                         size_t capacity) const;

    // After the full clean of an incompatible database: when Global/DBVersion exists, deletes
    // it, section DriveLabels and every section named "A_" ... "Z_".
    void CleanUpAfterIncompatibleDatabase() const;

  private:
    std::u16string path_;
};

// The settings of this process (Process().settings_path).
Settings AppSettings();

// Key of recent-list item `i`: "Item0" ... "Item9", "ItemA", ...
std::u16string RecentItemKey(size_t i);
// "a:b" -> "a\r\nb" for an edit box, and back: carriage returns removed, line feeds -> ":".
std::u16string ListToEditText(std::u16string_view list);
std::u16string EditTextToList(std::u16string_view text);
// The items of a ":" list (empty items dropped).
std::vector<std::u16string> SplitList(std::u16string_view list);

}  // namespace kavo

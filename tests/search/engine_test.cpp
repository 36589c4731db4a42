#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "base/case_map.h"
#include "base/format.h"
#include "base/text.h"
#include "digestor/hash_file.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "search/find_command.h"
#include "search/find_result.h"
#include "search/named_searches.h"
#include "search/search_engine.h"
#include "tests/search/test_db.h"
#include "tests/support/test_support.h"

namespace kavo {
namespace {

using Paths = std::vector<std::string>;

class Recorder : public IFileListSourceChangeListener {
  public:
    void OnSearchStarted(int) override { ++started; }
    void OnResultsCounted(int) override {
        ++counted;
        if (on_counted) {
            on_counted();
        }
    }
    void OnSearchFinished(bool cut_short) override {
        ++finished;
        last_cut_short = cut_short;
    }
    int OnSourceChanged() override { return 0; }
    std::function<void()> on_started;
    std::function<void()> on_counted;
    int started = 0;
    int counted = 0;
    int finished = 0;
    bool last_cut_short = false;
};

const std::vector<test::Item>& SampleItems() {
    static const std::vector<test::Item> items = {
        {u"C:"},
        {u"C:\\Windows\\"},
        {u"C:\\Windows\\notepad.exe", 200000, 1000},
        {u"C:\\Windows\\System32\\notepad.exe", 180000, 2000},
        {u"C:\\Windows\\System32\\drivers\\"},
        {u"C:\\Users\\Ann\\report.txt", 1500, 3000},
        {u"C:\\Users\\Ann\\Report 2015.doc", 2 * 1048576, 4000},
        {u"C:\\Users\\Ann\\abba.txt", 10, 5000},
        {u"C:\\Users\\Ann\\abxba", 11, 5000},
        {u"C:\\Users\\Ann\\aba", 12, 5000},
        {u"C:\\Users\\Ann\\secret.txt", 13, 5000},
        {u"C:\\src\\readme.txt", 100, 6000},
        {u"C:\\src\\acb", 1, 6000},
        {u"C:\\src\\axbyc", 1, 6000},
        {u"C:\\src\\abc", 1, 6000},
        {u"C:\\src\\xaxbx", 1, 6000},
        {u"D:"},
        {u"D:\\src\\readme.md", 3 * 1048576, 7000},
        {u"D:\\test\\src\\x.cpp", 5, 8000},
        {u"D:\\big\\movie.mkv", -3145728, 9000},
    };
    return items;
}

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        db_ = test::MakeDatabase(dir_.Path(), SampleItems(), &keys_);
        ASSERT_GT(db_->RecordCount(), 20);
        secret_ = db_->RecordOfPath(u"c:\\users\\ann\\secret.txt", true);
        ASSERT_GE(secret_, 0);
        db_->SetHidden(secret_, kHiddenByUser);
    }

    Paths Run(const std::u16string& query, bool fast = true, bool sorted_set = true) {
        SearchEngine engine(db_.get(), &listener_, digest_);
        engine.Initialize();
        engine.SetFastPath(fast);
        engine.SetNamedSearchLookup(named_);
        engine.StartSearch(query, false);
        Paths out;
        for (int32_t i = 0; i < engine.ResultCount(); ++i) {
            out.push_back(Utf16ToUtf8(db_->PathOfRecord(engine.RecordAt(i), true)));
        }
        engine.Shutdown();
        if (sorted_set) {
            std::sort(out.begin(), out.end());
        }
        return out;
    }

    test::TempFolder dir_;
    std::unique_ptr<LoadedDatabase> db_;
    std::map<std::u16string, RecordKey> keys_;
    int32_t secret_ = -1;
    Recorder listener_;
    const DigestInformation* digest_ = nullptr;
    std::function<std::u16string(const std::u16string&)> named_ = [](const std::u16string& n) {
        if (EqualsIgnoreCase(n, u"docs")) {
            return std::u16string(u"*.txt|*.doc");
        }
        if (EqualsIgnoreCase(n, u"ann")) {
            return std::u16string(u"c:\\users\\ann /f");
        }
        if (n == u"self") {
            return std::u16string(u"@self");
        }
        if (n == u"loop") {
            return std::u16string(u"a @loop");
        }
        return std::u16string();
    };
};

TEST(ChooseWalker, Table) {
    struct Case {
        std::u16string query;
        WalkerKind kind;
        std::u16string text;
    } cases[] = {
        {u"abc", WalkerKind::kNameBits, u"abc"},
        {u"ABC", WalkerKind::kNameBits, u"abc"},
        {u"a", WalkerKind::kSingleChar, u"a"},
        {u"abc*", WalkerKind::kHeadTail, u"abc"},
        {u"*abc", WalkerKind::kHeadTail, u"abc"},
        {u"ab**", WalkerKind::kHeadTail, u"ab"},
        {u"**ab", WalkerKind::kHeadTail, u"ab"},
        {u"a*c", WalkerKind::kWildcard, u"a*c"},
        {u"*a*", WalkerKind::kWildcard, u"*a*"},
        {u"a**b***c", WalkerKind::kWildcard, u"a*b*c"},
        {u"*", WalkerKind::kAll, u""},
        {u"**", WalkerKind::kAll, u""},
        {u"", WalkerKind::kAll, u""},
        {u"c:\\x", WalkerKind::kAll, u""},
        {u"abc def", WalkerKind::kKeywords, u""},
        {u"c:\\x abc def", WalkerKind::kKeywords, u""},
        {u"abc /f", WalkerKind::kLogical, u""},
        {u"@docs", WalkerKind::kLogical, u""},
        {u"a|b", WalkerKind::kLogical, u""},
        {u"<a b>", WalkerKind::kLogical, u""},
        {u"c:\\a d:\\b", WalkerKind::kLogical, u""},
        {u"a?c", WalkerKind::kNameBits, u"a?c"},
    };
    for (const Case& c : cases) {
        const WalkerChoice w = ChooseWalker(ParseQuery(c.query));
        EXPECT_EQ(w.kind, c.kind) << Utf16ToUtf8(c.query);
        EXPECT_EQ(w.text, c.text) << Utf16ToUtf8(c.query);
    }
    EXPECT_TRUE(ChooseWalker(ParseQuery(u"abc*")).head);
    EXPECT_FALSE(ChooseWalker(ParseQuery(u"*abc")).head);
}

TEST_F(EngineTest, QueriesFindTheExpectedRecords) {
    struct Case {
        std::u16string query;
        Paths expected;
    } cases[] = {
        {u"notepad", {"C:\\Windows\\System32\\notepad.exe", "C:\\Windows\\notepad.exe"}},
        {u"c:\\windows notepad",
         {"C:\\Windows\\System32\\notepad.exe", "C:\\Windows\\notepad.exe"}},
        {u"\\system32\\ notepad", {"C:\\Windows\\System32\\notepad.exe"}},
        {u"c:\\windows",
         {"C:\\Windows\\System32\\", "C:\\Windows\\System32\\drivers\\",
          "C:\\Windows\\System32\\notepad.exe", "C:\\Windows\\notepad.exe"}},
        {u"\\", {"C:\\", "D:\\"}},
        {u"c:\\windows\\", {"C:\\Windows\\System32\\", "C:\\Windows\\notepad.exe"}},
        {u"ab*ba", {"C:\\Users\\Ann\\abxba"}},
        {u"a*b*c", {"C:\\src\\abc", "C:\\src\\axbyc"}},
        {u"*a*b*",
         {"C:\\Users\\Ann\\aba", "C:\\Users\\Ann\\abba.txt", "C:\\Users\\Ann\\abxba",
          "C:\\src\\abc", "C:\\src\\acb", "C:\\src\\axbyc", "C:\\src\\xaxbx"}},
        {u"readme*", {"C:\\src\\readme.txt", "D:\\src\\readme.md"}},
        {u"*.txt",
         {"C:\\Users\\Ann\\abba.txt", "C:\\Users\\Ann\\report.txt", "C:\\src\\readme.txt"}},
        {u"report /f", {"C:\\Users\\Ann\\Report 2015.doc", "C:\\Users\\Ann\\report.txt"}},
        {u"\"report 2015\"", {"C:\\Users\\Ann\\Report 2015.doc"}},
        {u"src /d", {"C:\\src\\", "D:\\src\\", "D:\\test\\src\\"}},
        {u"readme /size:1m-", {"D:\\src\\readme.md"}},
        {u"/size:2m-2m", {"C:\\Users\\Ann\\Report 2015.doc"}},
        {u"movie /size:3g", {"D:\\big\\movie.mkv"}},
        {u"/date:0-0 x.cpp", {"D:\\test\\src\\x.cpp"}},
        {u"a|/size:3m-",
         {"C:\\Users\\Ann\\", "D:\\", "D:\\big\\", "D:\\src\\", "C:\\Users\\Ann\\aba",
          "C:\\Users\\Ann\\abba.txt", "C:\\Users\\Ann\\abxba", "C:\\Windows\\notepad.exe",
          "C:\\Windows\\System32\\notepad.exe", "C:\\src\\abc", "C:\\src\\acb", "C:\\src\\axbyc",
          "C:\\src\\readme.txt", "C:\\src\\xaxbx", "D:\\big\\movie.mkv", "D:\\src\\readme.md"}},
        {u"readme !<d:\\src>", {"C:\\src\\readme.txt"}},
        {u"!<readme /size:1m-> readme", {}},
        {u"@docs",
         {"C:\\Users\\Ann\\Report 2015.doc", "C:\\Users\\Ann\\abba.txt",
          "C:\\Users\\Ann\\report.txt", "C:\\src\\readme.txt"}},
        {u"@DOCS readme", {"C:\\src\\readme.txt"}},
        {u"@ann rep", {"C:\\Users\\Ann\\Report 2015.doc", "C:\\Users\\Ann\\report.txt"}},
        {u"@nosuch", {}},
        {u"@self", {}},
        {u"d:\\src c:\\src readme", {"C:\\src\\readme.txt", "D:\\src\\readme.md"}},
        {u"d:\\ src", {"D:\\src\\", "D:\\test\\src\\"}},
        {u"q: readme", {"C:\\src\\readme.txt", "D:\\src\\readme.md"}},
        {u"secret", {}},
        {u"secret /hidden", {"C:\\Users\\Ann\\secret.txt"}},
        {u"/hidden", {"C:\\Users\\Ann\\secret.txt"}},
        {u"/x", {}},
        {u"/online readme", {"C:\\src\\readme.txt"}},
        {u"/offline readme", {"D:\\src\\readme.md"}},
        {u"/hash:0 readme", {}},
    };
    for (const Case& c : cases) {
        Paths expected = c.expected;
        std::sort(expected.begin(), expected.end());
        for (const bool fast : {false, true}) {
            EXPECT_EQ(Run(c.query, fast), expected) << Utf16ToUtf8(c.query) << " fast=" << fast;
        }
    }
}

TEST_F(EngineTest, UnsortedResultsComeInNameOrderAndSortTextsSort) {
    SearchEngine engine(db_.get(), &listener_);
    engine.Initialize();
    engine.StartSearch(u"a", false);
    const std::vector<int32_t> r(engine.Results().begin(),
                                 engine.Results().begin() + engine.ResultCount());
    EXPECT_TRUE(std::is_sorted(r.begin(), r.end()));
    EXPECT_FALSE(engine.NeedsSort());

    engine.StartSearch(u"/f /sort:size", false);
    ASSERT_GT(engine.ResultCount(), 3);
    EXPECT_TRUE(engine.NeedsSort());
    // Sizes never grow along a descending size order (negative codes are KiB, above bytes).
    auto rank = [&](int32_t x) {
        const SizeCode s = db_->Size(x);
        return s >= 0 ? int64_t{s} : (int64_t{1} << 31) - s;
    };
    for (int32_t i = 1; i < engine.ResultCount(); ++i) {
        EXPECT_GE(rank(engine.RecordAt(i - 1)), rank(engine.RecordAt(i)));
    }
    EXPECT_EQ(db_->PathOfRecord(engine.RecordAt(0)), u"D:\\big\\movie.mkv");
    engine.Shutdown();
}

TEST_F(EngineTest, EmptyQueryAndListenerCalls) {
    SearchEngine engine(db_.get(), &listener_);
    engine.Initialize();
    engine.SetShowAllForEmpty(false);
    engine.StartSearch(u"   ", false);
    EXPECT_EQ(engine.ResultCount(), 0);
    engine.SetShowAllForEmpty(true);
    engine.StartSearch(u"", false);
    EXPECT_EQ(engine.ResultCount(), db_->RecordCount() - 1);  // all but the hidden one
    EXPECT_EQ(listener_.started, 2);
    EXPECT_EQ(listener_.counted, 2);
    EXPECT_EQ(listener_.finished, 2);
    EXPECT_EQ(engine.RecordAt(engine.ResultCount()), -1);

    // Hiding after the search and applying the rule drops the record.
    const int32_t last = engine.RecordAt(engine.ResultCount() - 1);
    ASSERT_FALSE(db_->IsFolder(last));
    db_->SetHidden(last, kHiddenByUser);
    engine.ApplyHiddenRule();
    EXPECT_EQ(engine.ResultCount(), db_->RecordCount() - 2);
    EXPECT_NE(engine.RecordAt(engine.ResultCount() - 1), last);
    engine.Shutdown();
}

// Hands a second query to the engine when the first run starts, and notes the result
// count at the end of every run.
class SecondQueryHook : public IFileListSourceChangeListener {
  public:
    void OnSearchStarted(int) override {
        ++started;
        if (started == 1) {
            engine->StartSearch(u"file1", true);  // running: only hands the text over
        }
    }
    void OnResultsCounted(int) override {
        counts.push_back(static_cast<int32_t>(engine->Results().size()));
    }
    void OnSearchFinished(bool) override { ++finished; }
    int OnSourceChanged() override { return 0; }

    SearchEngine* engine = nullptr;
    int started = 0;
    int finished = 0;
    std::vector<int32_t> counts;
};

TEST_F(EngineTest, ASecondQueryStopsTheFirstWithinAHundredCandidates) {
    std::vector<test::Item> items = {{u"C:"}};
    for (int i = 0; i < 3000; ++i) {
        items.push_back({Format(u"C:\\many\\file%d.txt", i), i, 0});
    }
    test::TempFolder dir;
    auto db = test::MakeDatabase(dir.Path(), items);
    int expected = 0;
    for (int i = 0; i < 3000; ++i) {
        expected += ToDecimal(i).find(u'1') == 0;
    }
    for (const bool fast : {false, true}) {
        SecondQueryHook hook;
        SearchEngine engine(db.get(), &hook);
        hook.engine = &engine;
        engine.Initialize();
        engine.SetFastPath(fast);
        engine.StartSearch(u"file", false);
        ASSERT_EQ(hook.counts.size(), 2u) << fast;
        // The plain walk checks every 100 candidates; the parallel one between its ranges.
        EXPECT_LE(hook.counts[0], fast ? 200 : 100) << fast;
        EXPECT_EQ(hook.started, 2);
        EXPECT_EQ(hook.finished, 1);
        EXPECT_EQ(engine.ResultCount(), expected);
        engine.Shutdown();
    }
}

TEST_F(EngineTest, OwnThreadSearchEndsWithOneFinish) {
    SearchEngine engine(db_.get(), &listener_);
    engine.Initialize();
    engine.StartSearch(u"notepad", true);
    engine.WaitIdle();
    EXPECT_EQ(listener_.finished, 1);
    EXPECT_EQ(engine.ResultCount(), 2);
    EXPECT_FALSE(engine.IsRunning());
    engine.Shutdown();
}

TEST_F(EngineTest, ItemInfoTextsAndExport) {
    SearchEngine engine(db_.get(), &listener_);
    engine.Initialize();
    const int32_t records[] = {db_->RecordOfPath(u"d:"), db_->RecordOfPath(u"c:\\windows"),
                               db_->RecordOfPath(u"d:\\big\\movie.mkv", true)};
    engine.SetResults(records, 3);
    ASSERT_EQ(engine.ResultCount(), 3);
    EXPECT_EQ(listener_.finished, 1);
    const ItemInfo root = *engine.GetItemInfo(0);
    EXPECT_TRUE(root.is_folder);
    EXPECT_EQ(root.name, u"D:");
    EXPECT_EQ(root.folder_path, u"");
    const ItemInfo win = *engine.GetItemInfo(1);
    EXPECT_TRUE(win.is_folder);
    EXPECT_EQ(win.name, u"Windows");
    EXPECT_EQ(win.folder_path, u"C:");
    const ItemInfo movie = *engine.ItemTexts(2, false);
    EXPECT_EQ(movie.name, u"movie.mkv");
    EXPECT_EQ(movie.folder_path, u"D:\\big");
    EXPECT_EQ(movie.size_text, u"3145728");
    EXPECT_EQ(movie.date_text, DateText(9000));
    EXPECT_EQ(engine.ItemTexts(1, false)->size_text, u"");
    EXPECT_FALSE(engine.GetItemInfo(3).has_value());

    ASSERT_TRUE(engine.Export(dir_.File(u"out.CSV"), false));
    const auto csv = platform::ReadWholeFile(dir_.File(u"out.CSV"));
    const std::string text(csv->begin(), csv->end());
    const std::string expected =
        "\xEF\xBB\xBF\"Name\",\"Path\",\"Size(KB)\",\"Date modified\"\r\n"
        "\"D:\",\"\",\"\",\"" +
        Utf16ToUtf8(DateText(0)) +
        "\"\r\n"
        "\"Windows\",\"C:\",\"\",\"" +
        Utf16ToUtf8(DateText(0)) +
        "\"\r\n"
        "\"movie.mkv\",\"D:\\big\",\"3145728\",\"" +
        Utf16ToUtf8(DateText(9000)) + "\"\r\n";
    EXPECT_EQ(text, expected);

    ASSERT_TRUE(engine.Export(dir_.File(u"out.txt"), false));
    const auto list = platform::ReadWholeFile(dir_.File(u"out.txt"));
    EXPECT_EQ(std::string(list->begin(), list->end()),
              "\xEF\xBB\xBF"
              "D:\\\r\nC:\\Windows\\\r\nD:\\big\\movie.mkv\r\n");
    engine.Shutdown();
}

TEST(DateTextTest, Format) {
    const std::u16string t = DateText(0);
    ASSERT_EQ(t.size(), 16u);
    EXPECT_EQ(t[4], u'-');
    EXPECT_EQ(t[10], u' ');
    EXPECT_EQ(t[13], u':');
}

TEST_F(EngineTest, ThreeIdenticalFilesShareOneDigestKey) {
    const std::vector<std::u16string> same = {u"C:\\Users\\Ann\\abba.txt", u"C:\\src\\abc",
                                              u"D:\\test\\src\\x.cpp"};
    std::vector<HashEntry> entries;
    auto entry = [&](const std::u16string& p, uint32_t partial, uint8_t full) {
        HashEntry e;
        e.key = keys_.at(p);
        e.partial = partial;
        e.full[3] = full;
        return e;
    };
    for (const auto& p : same) {
        entries.push_back(entry(p, 77, 1));
    }
    entries.push_back(entry(u"C:\\src\\acb", 78, 2));    // fully hashed, unique
    entries.push_back(entry(u"C:\\src\\axbyc", 79, 0));  // partial only
    entries.push_back(entry(u"C:\\src\\xaxbx", 0, 0));   // never hashed
    HashEntry stranger;
    stranger.key = 0x99;
    stranger.partial = 5;
    entries.push_back(stranger);
    ASSERT_TRUE(WriteHashFile(dir_.File(kHashFileName), {}, entries));

    DigestInformation info;
    info.Load(db_->Keys(), dir_.File(kHashFileName));
    const uint32_t n = static_cast<uint32_t>(entries.size());
    int32_t first = -1;
    for (const auto& p : same) {
        const int32_t r = db_->RecordOfPath(p, true);
        EXPECT_EQ(info.DigestKey(r), kSharedDigestBase + 1);
        EXPECT_EQ(info.DuplicateCount(r), 3);
        first = r;
    }
    (void)first;
    const int32_t acb = db_->RecordOfPath(u"C:\\src\\acb", true);
    EXPECT_EQ(info.DigestKey(acb), static_cast<uint32_t>(acb) + n);
    EXPECT_EQ(info.DuplicateCount(acb), 0);
    EXPECT_EQ(info.DigestKey(db_->RecordOfPath(u"C:\\src\\axbyc", true)), 4u);
    EXPECT_EQ(info.DigestKey(db_->RecordOfPath(u"C:\\src\\xaxbx", true)), 0u);

    digest_ = &info;
    const Paths expected = {"C:\\Users\\Ann\\abba.txt", "C:\\src\\abc", "D:\\test\\src\\x.cpp"};
    EXPECT_EQ(Run(u"/dup:3-3"), expected);
    EXPECT_EQ(Run(u"/dup:2"), expected);
    EXPECT_EQ(Run(Format(u"/hash:%08X", kSharedDigestBase + 1)), expected);
    EXPECT_EQ(Run(u"/dup:4"), Paths{});

    // Sorting by duplicate count puts the three first.
    SearchEngine engine(db_.get(), &listener_, &info);
    engine.Initialize();
    engine.StartSearch(u"/f /sort:dupCount-name", false);
    std::set<int32_t> top = {engine.RecordAt(0), engine.RecordAt(1), engine.RecordAt(2)};
    for (const auto& p : same) {
        EXPECT_TRUE(top.count(db_->RecordOfPath(p, true)));
    }
    engine.Shutdown();
    digest_ = nullptr;
}

TEST_F(EngineTest, FindPrintsOwnPathFragmentsAndJoinsArguments) {
    MatchContext ctx;
    ctx.db = db_.get();
    auto find = [&](const std::u16string& q) {
        Paths out;
        FindAndPrint(
            *db_, q, ctx, [&](const std::u16string& p) { out.push_back(Utf16ToUtf8(p)); },
            [] { return false; });
        return out;
    };
    // The candidate's own path holds the fragment, so the folder itself is found too.
    EXPECT_EQ(find(u"\\src\\ src"), (Paths{"C:\\src\\", "D:\\src\\", "D:\\test\\src\\"}));
    EXPECT_EQ(find(u"secret"), (Paths{"C:\\Users\\Ann\\secret.txt"}));  // no hidden rule
    EXPECT_EQ(find(u"c:\\windows notepad").size(), 2u);
    int asked = 0;
    const int32_t n = FindAndPrint(
        *db_, u"", ctx, [](const std::u16string&) {}, [&] { return ++asked >= 2; });
    EXPECT_EQ(n, 19);  // asked before the 10th and the 20th candidate
    EXPECT_EQ(JoinFindArguments({u"kavo", u"find", u"my file", u"x"}), u"\"my file\" x");
    EXPECT_EQ(JoinFindArguments({u"kavo", u"find"}), u"");
}

TEST(NamedSearches, DefaultsOrderAndLookup) {
    test::TempFolder dir;
    const std::u16string ini = dir.File(u"kavo.ini");
    const std::vector<std::u16string> names = NamedSearchNames(ini);
    ASSERT_EQ(names.size(), 11u);
    EXPECT_EQ(names[0], u"File");
    EXPECT_EQ(names[10], u"Text");
    EXPECT_EQ(FindNamedSearchIn(ini, u"video"), u"/f *.avi|*.wmv|*.mpg|*.mkv|*.mp4|*.mov");
    EXPECT_EQ(FindNamedSearchIn(ini, u"nothing"), u"");
    EXPECT_EQ(platform::ProfileReadString(ini, u"NamedSearch", u"Count", u"", 16), u"11");

    // An empty list stays empty; -1 means "not set up".
    platform::ProfileWriteString(ini, u"NamedSearch", u"Count", std::u16string(u"0"));
    EXPECT_TRUE(NamedSearchNames(ini).empty());
    platform::ProfileWriteString(ini, u"NamedSearch", u"Count", std::u16string(u"-1"));
    EXPECT_EQ(NamedSearchNames(ini).size(), 11u);
}

// The fast path (parallel walk, precomputed sort keys) against the plain algorithms over a
// generated database: the same records in the same order.
TEST(FastPath, SameResultsInTheSameOrderAsThePlainAlgorithms) {
    std::mt19937 rng(7);
    const char16_t alphabet[] = u"abcdeilmnoprstx._0123";
    std::vector<test::Item> items = {{u"C:"}, {u"D:"}};
    std::vector<std::u16string> folders = {u"C:", u"D:"};
    for (int i = 0; i < 4000; ++i) {
        std::u16string name;
        const int len = 1 + static_cast<int>(rng() % 9);
        for (int k = 0; k < len; ++k) {
            name += alphabet[rng() % (sizeof alphabet / sizeof alphabet[0] - 1)];
        }
        if (rng() % 4 == 0) {
            name[0] = static_cast<char16_t>(name[0] - 32 * (name[0] >= u'a' && name[0] <= u'z'));
        }
        const std::u16string parent = folders[rng() % folders.size()];
        const std::u16string path = parent + u"\\" + name;
        const bool is_folder = rng() % 5 == 0;
        const int32_t size = rng() % 10 == 0 ? -static_cast<int32_t>(rng() % 5000000)
                                             : static_cast<int32_t>(rng() % 3000000);
        // Half the folders carry no size of their own and count their contents' total.
        const int32_t own_size = is_folder && rng() % 2 == 0 ? 0 : size;
        items.push_back({is_folder ? path + u"\\" : path, own_size, static_cast<uint32_t>(rng())});
        if (is_folder && folders.size() < 400) {
            folders.push_back(path);
        }
    }
    test::TempFolder dir;
    auto db = test::MakeDatabase(dir.Path(), items);
    ASSERT_GT(db->RecordCount(), 3000);
    for (int32_t r = 0; r < db->RecordCount(); r += 97) {
        db->SetHidden(r, kHiddenByUser);
    }
    NopFileListSourceChangeListener nop;
    const std::u16string queries[] = {
        u"",
        u"a",
        u"A",
        u"ab",
        u"re",
        u"a*",
        u"*.t",
        u"a*b",
        u"*a*b*",
        u"a*?",
        u"x.s",
        u"ab cd",
        u"a /f",
        u"a /d",
        u"a|b",
        u"a|/size:1m-",
        u"!<a> b",
        u"/size:1m-",
        u"/size:-100k",
        u"/d /size:2m-",
        u"/date:19800101-",
        u"c:\\ a",
        u"d:\\ a",
        u"\\a\\ b",
        u"c:\\ d:\\ e",
        u"*",
        u"/hidden",
        u"a /hidden",
        u"a*b*c",
        u"_1",
        u"0",
        u"<a b>|<c d>",
        u"e /sort:size",
        u"e /sort:date+",
        u"e /sort:name-",
        u"e /sort:path",
        u"e /sort:ext",
        u"e /sort:size-name+",
        u"/sort:filecount",
        u"/sort:hash",
        u"/sort:dupcount",
        u"/sort:path-size+",
    };
    for (const std::u16string& q : queries) {
        std::vector<int32_t> got[2];
        for (int fast = 0; fast < 2; ++fast) {
            SearchEngine engine(db.get(), &nop);
            engine.Initialize();
            engine.SetFastPath(fast == 1);
            engine.StartSearch(q, false);
            got[fast].assign(engine.Results().begin(),
                             engine.Results().begin() + engine.ResultCount());
            engine.Shutdown();
        }
        EXPECT_EQ(got[0], got[1]) << Utf16ToUtf8(q);
    }
    // Every single-key order, both directions, with and without folder totals.
    std::vector<int32_t> all(static_cast<size_t>(db->RecordCount()));
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<int32_t>(i);
    }
    std::shuffle(all.begin(), all.end(), rng);
    for (const uint32_t key : {kSortName, kSortSize, kSortDate, kSortPath, kSortExt, kSortHash,
                               kSortDupCount, kSortFileCount}) {
        for (const bool asc : {true, false}) {
            for (const bool folder_sizes : {false, true}) {
                std::vector<int32_t> a = all;
                std::vector<int32_t> b = all;
                SortRecords(*db, nullptr, a, {SortKey{-1, asc, key}}, folder_sizes, false);
                SortRecords(*db, nullptr, b, {SortKey{-1, asc, key}}, folder_sizes, true);
                EXPECT_EQ(a, b) << key << asc << folder_sizes;
            }
        }
    }
}

}  // namespace
}  // namespace kavo

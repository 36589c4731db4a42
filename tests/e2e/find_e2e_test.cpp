// kavo find under Wine, over a database written natively by the test.
#include <gtest/gtest.h>

#include "base/text.h"
#include "tests/e2e/wine_harness.h"
#include "tests/search/test_db.h"
#include "tests/support/test_support.h"

namespace kavo::e2e {
namespace {

std::string HostPath(const test::TempFolder& dir) {
    std::string p = Utf16ToUtf8(dir.Path());
    for (char& c : p) {
        if (c == '\\')
            c = '/';
    }
    return p;
}

class FindE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::vector<test::Item> items = {
            {u"C:"},
            {u"C:\\Windows\\notepad.exe", 200000, 1000},
            {u"C:\\Windows\\System32\\notepad.exe", 180000, 2000},
            {u"C:\\Users\\Ann\\Report 2015.doc", 2000, 3000},
            {u"C:\\Users\\Ann\\report.txt", 1500, 3000},
            {u"D:"},
            {u"D:\\src\\Readme.md", 10, 4000},
        };
        db_ = test::MakeDatabase(db_dir_.Path(), items);
        ASSERT_EQ(db_->RecordCount(), 12);
        dbdir_ = WinePath(HostPath(db_dir_));
    }

    RunResult Find(const std::vector<std::string>& words) {
        std::vector<std::string> args = {"--dbdir", dbdir_, "find"};
        args.insert(args.end(), words.begin(), words.end());
        return wine_.Run("kavo.exe", args);
    }

    test::TempFolder db_dir_;
    std::unique_ptr<LoadedDatabase> db_;
    std::string dbdir_;
    WinePrefix wine_;
};

TEST_F(FindE2E, PrintsTheMatchingPathsInNameOrder) {
    struct Case {
        std::vector<std::string> words;
        std::string out;
    } cases[] = {
        {{"notepad"}, "C:\\Windows\\notepad.exe\nC:\\Windows\\System32\\notepad.exe\n"},
        {{"c:\\windows\\system32", "notepad"}, "C:\\Windows\\System32\\notepad.exe\n"},
        {{"report 2015"}, "C:\\Users\\Ann\\Report 2015.doc\n"},  // one argument: quoted
        {{"report", "2015"}, "C:\\Users\\Ann\\Report 2015.doc\n"},
        {{"*.md"}, "D:\\src\\Readme.md\n"},
        {{"\\src\\"}, "D:\\src\\\nD:\\src\\Readme.md\n"},
        {{"d:", "/d"}, "D:\\\nD:\\src\\\n"},
        {{"nothing"}, ""},
    };
    for (const Case& c : cases) {
        const RunResult r = Find(c.words);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, c.out) << c.words[0];
    }
}

TEST_F(FindE2E, TheSummaryGoesToTheConsoleOnly) {
    const RunResult piped = Find({"notepad"});
    EXPECT_EQ(piped.out.find("Found"), std::string::npos);
    const RunResult term = wine_.RunInTerminal("kavo.exe", {"--dbdir", dbdir_, "find", "notepad"});
    EXPECT_NE(term.out.find("C:\\Windows\\notepad.exe"), std::string::npos) << term.out;
    EXPECT_NE(term.out.find("Found 2 items ("), std::string::npos) << term.out;
    EXPECT_NE(term.out.find(" ms)"), std::string::npos) << term.out;
}

}  // namespace
}  // namespace kavo::e2e

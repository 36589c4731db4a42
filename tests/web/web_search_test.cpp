// The web search service over the in-memory sockets and a small database: routes, the
// result window, the JSON format, the page, and which files may be sent.
#include <gtest/gtest.h>

#include <fstream>

#include "base/text.h"
#include "platform/socket_fake.h"
#include "tests/search/test_db.h"
#include "tests/support/test_support.h"
#include "web/web_search.h"

namespace kavo::web {
namespace {

class WebSearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<test::Item> items = {
            {u"C:"},
            {u"C:\\Windows\\"},
            {u"C:\\Windows\\notepad.exe", 213 * 1024 - 100, 100},
            {u"C:\\Users\\Ann\\report.txt", 1, 100},
            {u"C:\\Users\\Ann\\secret report.txt", 2, 100},
        };
        for (int i = 0; i < 70; ++i) {
            items.push_back({u"C:\\many\\item" + ToDecimal(100 + i) + u".txt", 5000, 100});
        }
        auto db = test::MakeDatabase(dir_.Path(), items);
        db->SetHidden(db->RecordOfPath(u"C:\\Users\\Ann\\secret report.txt", true), kHiddenByUser);
        ASSERT_TRUE(db->SaveHiddenList(dir_.Path()));
        service_ = std::make_unique<WebSearchService>(dir_.Path(), dir_.File(u"kavo.ini"));
        core_ = std::make_unique<HttpServerCore>(
            net_, [this](HttpRequest& r, HttpEvent e) { return service_->Handle(r, e); }, "1");
        ASSERT_EQ(core_->SetListeningAddress("0"), "");
    }

    std::string Get(const std::string& target) {
        const auto c = net_.Dial(core_->ListeningPort());
        net_.ClientSend(c, "GET " + target + " HTTP/1.1\r\n\r\n");
        std::string out;
        for (int i = 0; i < 10; ++i) {
            core_->Poll(0);
            out += net_.ClientTake(c);
        }
        net_.ClientAbort(c);
        core_->Poll(0);
        return out;
    }

    // The body of a chunked reply.
    std::string Body(const std::string& target) {
        const std::string out = Get(target);
        std::string body;
        size_t p = out.find("\r\n\r\n");
        if (p == std::string::npos)
            return "(no reply)";
        p += 4;
        while (p < out.size()) {
            const size_t eol = out.find("\r\n", p);
            const size_t n = std::stoul(out.substr(p, eol - p), nullptr, 16);
            if (n == 0)
                break;
            body += out.substr(eol + 2, n);
            p = eol + 2 + n + 2;
        }
        return body;
    }

    size_t Count(const std::string& json) {
        return json == "[]" ? 0
                            : static_cast<size_t>(std::count(json.begin(), json.end(), ',')) + 1;
    }

    test::TempFolder dir_;
    platform::FakeSockets net_;
    std::unique_ptr<WebSearchService> service_;
    std::unique_ptr<HttpServerCore> core_;
};

TEST_F(WebSearchTest, JsonFormat) {
    EXPECT_EQ(Body("/query.json?q=notepad"), "[\"C:/Windows/notepad.exe\"]");
    EXPECT_EQ(Body("/query.json?q=notepad&showSize=1"), "[\"C:/Windows/notepad.exe|213 KB\"]");
    EXPECT_EQ(Body("/query.json?q=windows"), "[\"C:/Windows/\"]");
    EXPECT_EQ(Body("/query.json?q=report"), "[\"C:/Users/Ann/report.txt\"]");  // one hidden
    EXPECT_EQ(Body("/query.json?q=zzz"), "[]");
    EXPECT_NE(Get("/query.json?q=zzz").find("\r\nContent-Type: application/json; charset=utf-8"),
              std::string::npos);
}

TEST_F(WebSearchTest, ResultWindow) {
    const struct {
        std::string query;
        size_t count;
        std::string first;
    } cases[] = {
        {"q=item", 50, "item100"},
        {"q=item&from=10", 50, "item110"},
        {"q=item&from=60", 10, "item160"},
        {"q=item&to=5", 6, "item100"},
        {"q=item&from=0&to=200", 50, "item100"},
        {"q=item&from=-5", 50, "item100"},
        {"q=item&from=80", 0, ""},
        {"q=item+" + std::string(300, 'x'), 50, ""},  // too long: the empty query
    };
    for (const auto& c : cases) {
        const std::string json = Body("/query.json?" + c.query + "");
        EXPECT_EQ(Count(json), c.count) << c.query;
        EXPECT_NE(json.find(c.first), std::string::npos) << c.query;
    }
}

TEST_F(WebSearchTest, PageAndOtherRoutes) {
    const std::string page = Body("/?q=item&showSize=1");
    EXPECT_NE(page.find("<title>Kavo file search</title>"), std::string::npos);
    EXPECT_NE(page.find("var totalFoundCount=70;"), std::string::npos);
    EXPECT_NE(page.find("var firstLoadedCount=50;"), std::string::npos);
    EXPECT_NE(page.find("Found <b>70</b> items ("), std::string::npos);
    EXPECT_NE(page.find("Showing <label id='lblShowingCount'>50</label> items."),
              std::string::npos);
    EXPECT_NE(page.find("<li><a href=\"/C:/many/item100.txt\">C:\\many\\item100.txt</a> (5 KB)"),
              std::string::npos);
    EXPECT_NE(page.find("name=\"showSize\" value=\"1\" checked"), std::string::npos);
    const std::string folders = Body("/?q=windows");
    EXPECT_NE(folders.find("<li><a href=\"/C:/Windows/\">C:\\Windows\\</a></li>"),
              std::string::npos);
    const std::string none = Body("/?q=zzz");
    EXPECT_EQ(none.find("<li><a href=\"/"), std::string::npos);
    EXPECT_EQ(none.find("showMore\""), std::string::npos);
    EXPECT_NE(Body("/?q=%22a%22zzz").find("value=\"&quot;a&quot;zzz\""), std::string::npos);
    EXPECT_EQ(Body("/anything"), "This is a reply from server instance # 1");
    EXPECT_EQ(Get("/thumb.png?file=C%3A%5Cx.png").substr(0, 22), "HTTP/1.1 404 Not Found");
}

TEST(WebSearchFormat, SizeText) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0 KB"},    {1, "1 KB"},           {1024, "1 KB"},
        {1025, "2 KB"}, {1263616, "1,234 KB"}, {int64_t{5} << 40, "5,368,709,120 KB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(Utf16ToUtf8(WebSizeText(bytes)), text) << bytes;
    }
}

}  // namespace
}  // namespace kavo::web

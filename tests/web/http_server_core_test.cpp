// The HTTP server core over the in-memory sockets: request parsing and its limits, replies,
// keep-alive, files with ranges and conditions, Digest authorisation, time-outs and bounds.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "base/text.h"
#include "platform/file.h"
#include "platform/md5.h"
#include "platform/socket_fake.h"
#include "tests/support/test_support.h"
#include "web/http_server_core.h"

namespace kavo::web {
namespace {

using platform::SocketId;

constexpr int64_t kWall = 1700000000;  // Tue, 14 Nov 2023 22:13:20 GMT

class CoreTest : public ::testing::Test {
  protected:
    void SetUp() override { Start(); }

    void Start() {
        core_ = std::make_unique<HttpServerCore>(
            net_,
            [this](HttpRequest& r, HttpEvent e) {
                events_.push_back(static_cast<int>(e));
                return e == HttpEvent::kRequest ? on_request_(r) : 0;
            },
            "1");
        core_->SetClocks([this] { return mono_; }, [] { return kWall; });
        ASSERT_EQ(core_->SetListeningAddress("127.0.0.1:0"), "");
        port_ = core_->ListeningPort();
        ASSERT_NE(port_, 0);
    }

    void Passes(int n = 4) {
        for (int i = 0; i < n; ++i) {
            core_->Poll(0);
        }
    }

    // Sends `request` on a new connection and returns everything that came back.
    std::string Exchange(std::string_view request, SocketId* client = nullptr) {
        const SocketId c = net_.Dial(port_);
        net_.ClientSend(c, request);
        Passes();
        if (client) {
            *client = c;
        }
        return net_.ClientTake(c);
    }

    platform::FakeSockets net_;
    int64_t mono_ = 1000;
    std::vector<int> events_;
    std::function<int(HttpRequest&)> on_request_ = [](HttpRequest& r) {
        r.SendHeader("X-Uri", r.Uri());
        r.SendBody("hi");
        return kHandlerDone;
    };
    std::unique_ptr<HttpServerCore> core_;
    uint16_t port_ = 0;
};

const std::string kHandlerReply =
    "HTTP/1.1 200 OK\r\nX-Uri: /\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\n\r\n";

std::string ErrorText(int code, const std::string& phrase) {
    const std::string body = std::to_string(code) + " " + phrase + "\n";
    return "HTTP/1.1 " + std::to_string(code) + " " + phrase +
           "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nContent-Type: text/plain\r\n\r\n" + body;
}

TEST_F(CoreTest, RepliesBeforeTheHandlerAndTheirClosing) {
    struct Case {
        std::string request;
        std::string reply;
    };
    const Case cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", kHandlerReply},
        {"GET / HTTP/1.1\n\n", kHandlerReply},
        {"GET / HTTP/1.0\r\n\r\n", kHandlerReply},
        {"BREW / HTTP/1.1\r\n\r\n", ErrorText(400, "Bad Request")},
        {"GET / FTP/1.1\r\n\r\n", ErrorText(400, "Bad Request")},
        {"GET\r\n\r\n", ErrorText(400, "Bad Request")},
        {"GET x HTTP/1.1\r\n\r\n", ErrorText(400, "Bad Request")},
        {"GET /a\tb HTTP/1.1\r\n\r\n", ErrorText(400, "Bad Request")},
        {"GET /%00 HTTP/1.1\r\n\r\n", ErrorText(400, "Bad Request")},
        {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", ErrorText(400, "Bad Request")},
        {"POST / HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n", ErrorText(413, "Payload Too Large")},
        {"GET / HTTP/2.0\r\n\r\n", ErrorText(505, "HTTP Version Not Supported")},
        {"CONNECT example.com:443 HTTP/1.1\r\n\r\n", ErrorText(405, "Method Not Allowed")},
        {"GET http://example.com/ HTTP/1.1\r\n\r\n", ErrorText(405, "Method Not Allowed")},
        {"OPTIONS * HTTP/1.1\r\n\r\n",
         "HTTP/1.1 200 OK\r\nAllow: GET, POST, HEAD, CONNECT, PUT, DELETE, OPTIONS, PROPFIND, "
         "MKCOL\r\nDAV: 1\r\n\r\n"},
        {std::string(17000, 'a'), ErrorText(413, "Payload Too Large")},
        {"GET /" + std::string(16400, 'a') + " HTTP/1.1\r\n\r\n",
         ErrorText(413, "Payload Too Large")},
    };
    for (const Case& c : cases) {
        SocketId client;
        EXPECT_EQ(Exchange(c.request, &client), c.reply) << c.request.substr(0, 40);
        const bool handled = c.reply == kHandlerReply;
        // Only handled 1.1 requests keep their connection.
        EXPECT_EQ(net_.ServerClosed(client), !handled || c.request.find("1.0") != std::string::npos)
            << c.request.substr(0, 40);
    }
}

TEST_F(CoreTest, HeadSplitOverSegmentsAndPipelinedRequests) {
    const SocketId c = net_.Dial(port_);
    for (const char* piece : {"GE", "T /a//b/../c?x=1 HT", "TP/1.1\r\nHost: h\r", "\n"}) {
        net_.ClientSend(c, piece);
        Passes(1);
        EXPECT_EQ(net_.ClientTake(c), "");
    }
    net_.ClientSend(c, "\r\nGET /second HTTP/1.1\r\n\r\nGET /third HTTP/1.1\r\n\r\n");
    Passes();
    const std::string out = net_.ClientTake(c);
    const size_t first = out.find("X-Uri: /a/b/c\r\n");
    const size_t second = out.find("X-Uri: /second\r\n");
    const size_t third = out.find("X-Uri: /third\r\n");
    ASSERT_NE(first, std::string::npos) << out;
    ASSERT_NE(second, std::string::npos) << out;
    ASSERT_NE(third, std::string::npos) << out;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_FALSE(net_.ServerClosed(c));
}

TEST_F(CoreTest, KeepAliveRule) {
    const struct {
        const char* request;
        bool kept;
    } cases[] = {
        {"GET / HTTP/1.1\r\n\r\n", true},
        {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n", false},
        {"GET / HTTP/1.0\r\n\r\n", false},
        {"GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", true},
        {"POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", true},
    };
    for (const auto& c : cases) {
        SocketId client;
        Exchange(c.request, &client);
        EXPECT_EQ(net_.ServerClosed(client), !c.kept) << c.request;
    }
}

TEST_F(CoreTest, RequestAccessorsBodiesAndExpectContinue) {
    std::string seen;
    on_request_ = [&](HttpRequest& r) {
        const std::string* host = r.Header("host");
        seen = r.Method() + "|" + r.Uri() + "|" + r.RawTarget() + "|" + r.Version() + "|" +
               r.QueryString().value_or("(none)") + "|" + (host ? *host : "(none)") + "|" +
               r.Body() + "|" + r.UserData();
        r.SendBody("ok");
        return kHandlerDone;
    };
    const std::string out = Exchange(
        "POST /p%20q/x.txt?a=%20b HTTP/1.1\r\nHOST: example\r\nExpect: 100-Continue\r\n"
        "Content-Length: 5\r\n\r\nhello");
    EXPECT_EQ(out.rfind("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n", 0), 0u) << out;
    EXPECT_EQ(seen, "POST|/p q/x.txt|/p%20q/x.txt?a=%20b|1.1|a=%20b|example|hello|1");

    // The body may arrive well after the head.
    const SocketId c = net_.Dial(port_);
    net_.ClientSend(c, "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nab");
    Passes();
    EXPECT_EQ(net_.ClientTake(c), "");
    net_.ClientSend(c, "c");
    Passes();
    EXPECT_NE(net_.ClientTake(c).find("ok"), std::string::npos);
    EXPECT_EQ(seen.substr(seen.find("|abc|")), "|abc|1");
}

TEST_F(CoreTest, FormVariables) {
    const std::string long_value(300, 'x');
    struct Case {
        std::string name;
        int result;
        std::string value;
    };
    const Case cases[] = {
        {"q", 7, "a b/c d"},
        {"Q", 7, "a b/c d"},
        {"from", 2, "10"},
        {"empty", 0, ""},
        {"body", 4, "only"},
        {"missing", kVariableMissing, ""},
        {"long", kVariableTooLong, std::string(259, 'x')},
        {"exact", 259, std::string(259, 'y')},
    };
    std::vector<std::pair<int, std::string>> got;
    on_request_ = [&](HttpRequest& r) {
        for (const Case& c : cases) {
            std::string v = "junk";
            const int n = r.Variable(c.name, &v);
            got.emplace_back(n, v);
        }
        return kHandlerDone;
    };
    const std::string body = "body=only&q=not+this";
    Exchange("POST /?q=a+b%2Fc%20d&from=10&empty=&long=" + long_value +
             "&exact=" + std::string(259, 'y') +
             " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_EQ(got.size(), std::size(cases));
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].first, cases[i].result) << cases[i].name;
        EXPECT_EQ(got[i].second, cases[i].value) << cases[i].name;
    }
}

TEST_F(CoreTest, DeclinedRequestsGet404AndHandlerEventsFlow) {
    on_request_ = [](HttpRequest&) { return kHandlerDeclined; };
    SocketId c;
    EXPECT_EQ(Exchange("GET /thumb.png HTTP/1.1\r\n\r\n", &c), ErrorText(404, "Not Found"));
    EXPECT_FALSE(net_.ServerClosed(c));
    net_.ClientAbort(c);
    Passes();
    // request, error reply, close
    EXPECT_EQ(events_, (std::vector<int>{103, 109, 106}));
}

TEST_F(CoreTest, HeadRequestsToTheHandlerGetNoBody) {
    const std::string out = Exchange("HEAD / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(out, "HTTP/1.1 200 OK\r\nX-Uri: /\r\nTransfer-Encoding: chunked\r\n\r\n");
}

// ---- files -------------------------------------------------------------------------------

class FileTest : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        content_.resize(1000);
        for (size_t i = 0; i < content_.size(); ++i) {
            content_[i] = static_cast<char>('a' + i % 26);
        }
        std::ofstream(Host(u"data.bin"), std::ios::binary) << content_;
        std::ofstream(Host(u"x.php"), std::ios::binary) << "<?php";
        platform::MakeDirectory(dir_.File(u"sub"));
        const auto st = platform::StatFile(dir_.File(u"data.bin"));
        ASSERT_TRUE(st);
        mtime_ = st->modified_unix;
        char tag[64];
        std::snprintf(tag, sizeof tag, "\"%lx.1000\"", static_cast<unsigned long>(mtime_));
        tag_ = tag;
        on_request_ = [this](HttpRequest& r) {
            r.SendFile(Utf16ToUtf8(dir_.Path()) + r.Uri().substr(1));
            return kHandlerFileFollows;
        };
    }
    std::string Host(const std::u16string& name) {
        std::string p = Utf16ToUtf8(dir_.File(name));
        for (char& ch : p) {
            if (ch == '\\')
                ch = '/';
        }
        return p;
    }
    std::string Get(const std::string& path,
                    const std::string& headers = "",
                    const std::string& method = "GET") {
        const SocketId c = net_.Dial(port_);
        net_.ClientSend(c, method + " " + path + " HTTP/1.1\r\n" + headers + "\r\n");
        std::string out;
        for (int i = 0; i < 20; ++i) {
            core_->Poll(0);
            out += net_.ClientTake(c);
        }
        return out;
    }
    static std::string Field(const std::string& reply, const std::string& name) {
        const size_t p = reply.find("\r\n" + name + ": ");
        if (p == std::string::npos)
            return "(none)";
        const size_t start = p + name.size() + 4;
        return reply.substr(start, reply.find("\r\n", start) - start);
    }
    static std::string Body(const std::string& reply) {
        const size_t p = reply.find("\r\n\r\n");
        return p == std::string::npos ? "" : reply.substr(p + 4);
    }

    test::TempFolder dir_;
    std::string content_;
    int64_t mtime_ = 0;
    std::string tag_;
};

TEST_F(FileTest, WholeFileHead) {
    const std::string out = Get("/data.bin");
    EXPECT_EQ(out.substr(0, out.find("\r\n")), "HTTP/1.1 200 OK");
    EXPECT_EQ(Field(out, "Date"), "Tue, 14 Nov 2023 22:13:20 GMT");
    EXPECT_EQ(Field(out, "Last-Modified"), http::HttpDate(mtime_));
    EXPECT_EQ(Field(out, "Etag"), tag_);
    EXPECT_EQ(Field(out, "Content-Type"), "text/plain");
    EXPECT_EQ(Field(out, "Content-Length"), "1000");
    EXPECT_EQ(Field(out, "Connection"), "keep-alive");
    EXPECT_EQ(Field(out, "Accept-Ranges"), "bytes");
    EXPECT_EQ(Body(out), content_);
}

TEST_F(FileTest, RangesConditionsAndHead) {
    struct Case {
        std::string headers;
        std::string status;
        std::string length;
        std::string range;
        std::string body;
    };
    const std::string full = content_;
    const Case cases[] = {
        {"Range: bytes=0-99\r\n", "206 Partial Content", "100", "bytes 0-99/1000",
         full.substr(0, 100)},
        {"Range: bytes=900-2000\r\n", "206 Partial Content", "100", "bytes 900-999/1000",
         full.substr(900)},
        {"Range: bytes=500-\r\n", "206 Partial Content", "500", "bytes 500-999/1000",
         full.substr(500)},
        {"Range: bytes=-100\r\n", "200 OK", "1000", "(none)", full},
        {"Range: bytes=50-10\r\n", "200 OK", "1000", "(none)", full},
        {"Range: bytes=1000-\r\n", "416 Requested Range Not Satisfiable", "36", "(none)",
         "416 Requested Range Not Satisfiable\n"},
        {"If-None-Match: " + tag_ + "\r\n", "304 Not Modified", "0", "(none)", ""},
        {"If-None-Match: \"0.1000\"\r\n", "200 OK", "1000", "(none)", full},
        {"If-Modified-Since: " + http::HttpDate(mtime_) + "\r\n", "304 Not Modified", "0", "(none)",
         ""},
        {"If-Modified-Since: " + http::HttpDate(mtime_ - 60) + "\r\n", "200 OK", "1000", "(none)",
         full},
        {"If-Modified-Since: 01/Jan/2099 00:00:00\r\n", "304 Not Modified", "0", "(none)", ""},
        {"If-Modified-Since: 01 Jan 2099 00:00:00\r\n", "304 Not Modified", "0", "(none)", ""},
        {"If-Modified-Since: 01-Jan-2099 00:00:00\r\n", "304 Not Modified", "0", "(none)", ""},
        {"If-Modified-Since: 01-Jan-1999 00:00:00\r\n", "200 OK", "1000", "(none)", full},
        {"If-Modified-Since: garbage\r\n", "200 OK", "1000", "(none)", full},
    };
    for (const Case& c : cases) {
        const std::string out = Get("/data.bin", c.headers);
        EXPECT_EQ(out.substr(9, out.find("\r\n") - 9), c.status) << c.headers;
        EXPECT_EQ(Field(out, "Content-Length"), c.length) << c.headers;
        EXPECT_EQ(Field(out, "Content-Range"), c.range) << c.headers;
        EXPECT_EQ(Body(out), c.body) << c.headers;
    }
    const std::string head = Get("/data.bin", "Range: bytes=0-99\r\n", "HEAD");
    EXPECT_EQ(Field(head, "Content-Length"), "100");
    EXPECT_EQ(Body(head), "");
}

TEST_F(FileTest, FoldersScriptsAndMissingFiles) {
    EXPECT_EQ(Get("/sub"),
              "HTTP/1.1 301 Moved Permanently\r\nLocation: /sub/\r\n"
              "Content-Length: 0\r\n\r\n");
    EXPECT_EQ(Get("/sub/"), ErrorText(404, "Not Found"));
    EXPECT_EQ(Get("/nothing.txt"), ErrorText(404, "Not Found"));
    EXPECT_EQ(Get("/x.php"), ErrorText(501, "Not Implemented"));
    EXPECT_EQ(Get("/%ff.txt"), ErrorText(404, "Not Found"));  // not UTF-8
}

TEST_F(FileTest, SlowReaderGetsTheFileInBoundedPieces) {
    std::string big(200000, 'z');
    std::ofstream(Host(u"big.bin"), std::ios::binary) << big;
    net_.SetSendWindow(1000);
    const SocketId c = net_.Dial(port_);
    net_.ClientSend(c, "GET /big.bin HTTP/1.1\r\n\r\nGET /data.bin HTTP/1.1\r\n\r\n");
    std::string out;
    for (int i = 0; i < 2000 && out.size() < 201500; ++i) {
        core_->Poll(0);
        out += net_.ClientTake(c);
    }
    const size_t second = out.find("HTTP/1.1 200 OK", 10);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(Body(out.substr(0, second)), big);
    EXPECT_EQ(Body(out.substr(second)), content_);
}

// ---- authorisation -----------------------------------------------------------------------

std::string DigestHeader(const std::string& user,
                         const std::string& password,
                         const std::string& method,
                         const std::string& uri,
                         const std::string& header_uri,
                         bool upper = false) {
    const std::string ha1 = platform::Md5Hex(user + ":Kavo:" + password);
    const std::string ha2 = platform::Md5Hex(method + ":" + uri);
    std::string response = platform::Md5Hex(ha1 + ":1700000000:00000001:abcdef:auth:" + ha2);
    if (upper) {
        for (char& ch : response)
            ch = static_cast<char>(std::toupper(ch));
    }
    return "Authorization: Digest username=\"" + user +
           "\", realm=\"Kavo\", nonce=\"1700000000\", "
           "uri=\"" +
           header_uri + "\", cnonce='abcdef', nc=00000001, qop=auth, response=\"" + response +
           "\"\r\n";
}

TEST_F(CoreTest, DigestAuthorisation) {
    core_->SetCredentials("ann", "s3cret");
    const std::string challenge =
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest qop=\"auth\", realm=\"Kavo\", "
        "nonce=\"1700000000\"\r\n\r\n";
    const std::string target = "/query.json?q=a%20b";
    struct Case {
        std::string header;
        bool passes;
    };
    const Case cases[] = {
        {"", false},
        {"Authorization: Basic YW5uOnMzY3JldA==\r\n", false},
        {DigestHeader("ann", "s3cret", "GET", target, target), true},
        {DigestHeader("ann", "s3cret", "GET", target, target, true), true},
        {DigestHeader("ann", "wrong", "GET", target, target), false},
        {DigestHeader("bob", "s3cret", "GET", target, target), false},
        {DigestHeader("ann", "s3cret", "POST", target, target), false},
        // A header made for another address does not open this one.
        {DigestHeader("ann", "s3cret", "GET", "/other", "/other"), false},
        {"Authorization: Digest username=\"ann\"\r\n", false},
    };
    for (const Case& c : cases) {
        SocketId client;
        const std::string out =
            Exchange("GET " + target + " HTTP/1.1\r\n" + c.header + "\r\n", &client);
        if (c.passes) {
            EXPECT_EQ(out.substr(0, 17), "HTTP/1.1 200 OK\r\n") << c.header;
        } else {
            EXPECT_EQ(out, challenge) << c.header;
            EXPECT_TRUE(net_.ServerClosed(client));
        }
    }
    core_->SetCredentials("", "");
    EXPECT_EQ(Exchange("GET / HTTP/1.1\r\n\r\n"), kHandlerReply);
}

// ---- bounds and time-outs ----------------------------------------------------------------

TEST_F(CoreTest, IdleAndHeadTimeouts) {
    const SocketId idle = net_.Dial(port_);
    const SocketId kept = net_.Dial(port_);
    Passes(1);
    net_.ClientSend(kept, "GET / HTTP/1.1\r\n\r\n");
    Passes(1);
    mono_ += 31;  // the head time-out has passed for the silent one only
    Passes(1);
    EXPECT_TRUE(net_.ServerClosed(idle));
    EXPECT_FALSE(net_.ServerClosed(kept));
    const SocketId slow = net_.Dial(port_);
    Passes(1);
    net_.ClientSend(slow, "GET / HT");
    mono_ += 20;
    Passes(1);
    net_.ClientSend(slow, "TP/1.1\r");
    mono_ += 20;
    Passes(1);
    EXPECT_TRUE(net_.ServerClosed(slow));
    mono_ += 300 - 40 + 1;  // the reply went out in the pass at +31
    Passes(1);
    EXPECT_TRUE(net_.ServerClosed(kept));
}

TEST_F(CoreTest, FullServerClosesTheLongestIdleConnection) {
    core_->SetLimits({3, 30, 300});
    std::vector<SocketId> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(net_.Dial(port_));
        Passes(1);
        mono_ += 1;
    }
    net_.ClientSend(clients[0], "GET / HTTP/1.1\r\n\r\n");  // the first is busy again
    Passes(1);
    const SocketId late = net_.Dial(port_);
    net_.ClientSend(late, "GET / HTTP/1.1\r\n\r\n");
    Passes();
    EXPECT_EQ(net_.ClientTake(late), kHandlerReply);
    EXPECT_FALSE(net_.ServerClosed(clients[0]));
    EXPECT_TRUE(net_.ServerClosed(clients[1]));
    EXPECT_FALSE(net_.ServerClosed(clients[2]));
    EXPECT_EQ(core_->ConnectionCount(), 3u);
}

TEST_F(CoreTest, ListeningAddresses) {
    const struct {
        const char* spec;
        bool ok;
    } cases[] = {
        {"8081", true},
        {"127.0.0.1:8082", true},
        {"localhost:8083", true},
        {"nohost:8084", false},
        {"65535", false},
        {"8085x", false},
        {"", false},
        {":8086", false},
        {"1.2.3:8087", false},
        {"256.1.1.1:8088", false},
    };
    for (const auto& c : cases) {
        HttpServerCore core(net_, nullptr, "1");
        EXPECT_EQ(core.SetListeningAddress(c.spec), c.ok ? "" : "Cannot bind to port") << c.spec;
    }
    HttpServerCore first(net_, nullptr, "1");
    HttpServerCore second(net_, nullptr, "1");
    EXPECT_EQ(first.SetListeningAddress("9000"), "");
    EXPECT_EQ(second.SetListeningAddress("9000"), "Cannot bind to port");
}

// ---- helpers -----------------------------------------------------------------------------

TEST(HttpHelpers, CollapseAndDecode) {
    const std::pair<const char*, const char*> collapse[] = {
        {"/a//b/../c", "/a/b/c"}, {"/../../etc", "/etc"}, {"/a\\..\\..\\b", "/a\\b"},
        {"/a/.../b", "/a/./b"},   {"/C:/x/", "/C:/x/"},   {"//", "/"},
    };
    for (const auto& [in, out] : collapse) {
        EXPECT_EQ(http::CollapsePath(in), out) << in;
    }
    EXPECT_EQ(http::UrlDecode("a%20b+c%2f%zz%4", false), "a b+c/%zz%4");
    EXPECT_EQ(http::UrlDecode("a%20b+c", true), "a b c");
}

TEST(HttpHelpers, PatternsAndContentTypes) {
    const char* kScripts = "**.cgi$|**.pl$|**.php$";
    const std::pair<const char*, bool> scripts[] = {
        {"C:/www/x.php", true}, {"C:/www/X.PHP", true}, {"a/b.cgi", true},      {"run.pl", true},
        {"x.php.txt", false},   {"x.phps", false},      {"C:/pl/readme", false}};
    for (const auto& [text, match] : scripts) {
        EXPECT_EQ(http::MatchPattern(kScripts, text), match) << text;
    }
    EXPECT_TRUE(http::MatchPattern("/a/*/c$", "/a/b/c"));
    EXPECT_FALSE(http::MatchPattern("/a/*/c$", "/a/b/x/c"));
    EXPECT_TRUE(http::MatchPattern("/a/**/c$", "/a/b/x/c"));
    EXPECT_TRUE(http::MatchPattern("a?c", "abcdef"));
    const std::pair<const char*, const char*> types[] = {
        {"index.HTML", "text/html"},
        {"a.shtml", "text/html"},
        {"s.css", "text/css"},
        {"x.js", "application/x-javascript"},
        {"p.JPEG", "image/jpeg"},
        {"d.json", "application/json"},
        {"x.ra", "audio/x-pn-realaudio"},
        {"m.mkv", "video/x-matroska"},
        {"noext", "text/plain"},
        {"a.tar.gz", "application/x-gunzip"},
    };
    for (const auto& [name, type] : types) {
        EXPECT_EQ(http::ContentType(name), type) << name;
    }
    EXPECT_EQ(http::ReasonPhrase(206), "Partial Content");
    EXPECT_EQ(http::ReasonPhrase(299), "Server Error");
}

TEST(HttpHelpers, Dates) {
    EXPECT_EQ(http::HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(http::HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    const std::pair<const char*, int64_t> dates[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777}, {"06/Nov/1994 08:49:37", 784111777},
        {"06 Nov 1994 08:49:37", 784111777},          {"06-Nov-1994 08:49:37", 784111777},
        {"29 Feb 2024 23:59:59", 1709251199},
    };
    for (const auto& [text, t] : dates) {
        EXPECT_EQ(http::ParseHttpDate(text), std::optional<int64_t>(t)) << text;
    }
    for (const char* bad : {"06 Nov 1970 08:49:37", "06 Foo 1994 08:49:37", "Sunday", ""}) {
        EXPECT_FALSE(http::ParseHttpDate(bad)) << bad;
    }
}

TEST(HttpHelpers, Md5AndConstantTimeCompare) {
    EXPECT_EQ(platform::Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(platform::Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    // The worked example of the Digest scheme's own description.
    const std::string ha1 = platform::Md5Hex("Mufasa:testrealm@host.com:Circle Of Life");
    const std::string ha2 = platform::Md5Hex("GET:/dir/index.html");
    EXPECT_EQ(
        platform::Md5Hex(ha1 + ":dcd98b7102dd2f0e8b11d0f600bfb0c093:00000001:0a4f113b:auth:" + ha2),
        "6629fae49393a05397450978507c4ef1");
    EXPECT_TRUE(http::ConstantTimeEqualsIgnoreCase("abCD", "ABcd"));
    EXPECT_FALSE(http::ConstantTimeEqualsIgnoreCase("abcd", "abce"));
    EXPECT_FALSE(http::ConstantTimeEqualsIgnoreCase("abc", "abcd"));
}

}  // namespace
}  // namespace kavo::web

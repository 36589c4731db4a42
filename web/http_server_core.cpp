#include "web/http_server_core.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "platform/md5.h"

namespace kavo::web {

using platform::kNoSocket;
using platform::SocketId;

namespace {

constexpr size_t kReceivePiece = 2048;
constexpr size_t kFilePiece = 8192;
constexpr size_t kSendHighWater = 16384;
// A client that sends requests but does not read the replies stops being served here.
constexpr size_t kSendBacklogLimit = 256 * 1024;
constexpr size_t kReceivePiecesPerPass = 32;
constexpr size_t kAcceptsPerPass = 64;
constexpr char kRealm[] = "Kavo";
constexpr char kScriptPattern[] = "**.cgi$|**.pl$|**.php$";

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int64_t SteadySeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t WallSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};

bool IsMethod(std::string_view m) {
    static constexpr std::string_view kMethods[] = {
        "GET", "POST", "HEAD", "CONNECT", "PUT", "DELETE", "OPTIONS", "PROPFIND", "MKCOL"};
    return std::find(std::begin(kMethods), std::end(kMethods), m) != std::end(kMethods);
}

// "host:port" as CONNECT names its target.
bool IsHostPort(std::string_view uri) {
    const size_t colon = uri.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == uri.size()) {
        return false;
    }
    for (size_t i = colon + 1; i < uri.size(); ++i) {
        if (uri[i] < '0' || uri[i] > '9') {
            return false;
        }
    }
    return uri.find('/') == std::string_view::npos;
}

// Percent-encodes what may not stand in a Location header.
std::string EncodeLocation(std::string_view path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || std::strchr("/:@!$&'()*+,;=-._~", c);
        if (plain && c != 0) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

// A decimal 64-bit value with optional white space and sign; advances `p`.
std::optional<int64_t> ParseDecimal(std::string_view s, size_t& p) {
    while (p < s.size() && (s[p] == ' ' || s[p] == '\t'))
        ++p;
    bool negative = false;
    if (p < s.size() && (s[p] == '-' || s[p] == '+')) {
        negative = s[p] == '-';
        ++p;
    }
    const size_t start = p;
    uint64_t v = 0;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        v = v * 10 + static_cast<uint64_t>(s[p] - '0');
        if (v > static_cast<uint64_t>(INT64_MAX)) {
            return std::nullopt;
        }
        ++p;
    }
    if (p == start) {
        return std::nullopt;
    }
    return negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
}

}  // namespace

// ---- helpers ----------------------------------------------------------------------------

namespace http {

std::string UrlDecode(std::string_view s, bool plus_is_space) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
            i += 2;
        } else if (plus_is_space && s[i] == '+') {
            out.push_back(' ');
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::string CollapsePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    size_t i = 0;
    while (i < path.size()) {
        const char c = path[i++];
        out.push_back(c);
        if (c != '/' && c != '\\') {
            continue;
        }
        while (i < path.size()) {
            if (path[i] == '/' || path[i] == '\\') {
                ++i;
            } else if (path[i] == '.' && i + 1 < path.size() && path[i + 1] == '.') {
                i += 2;
            } else {
                break;
            }
        }
    }
    return out;
}

ptrdiff_t HeadLength(std::string_view buffer) {
    for (size_t i = 0; i < buffer.size(); ++i) {
        const auto c = static_cast<unsigned char>(buffer[i]);
        if (c < 128 && c != '\r' && c != '\n' && (c < 0x20 || c == 0x7F)) {
            return -1;
        }
        if (c == '\n') {
            if (i + 1 < buffer.size() && buffer[i + 1] == '\n') {
                return static_cast<ptrdiff_t>(i + 2);
            }
            if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') {
                return static_cast<ptrdiff_t>(i + 3);
            }
        }
    }
    return 0;
}

namespace {

// Length of the prefix of `text` that `pattern` (one alternative) matches; -1 for none.
ptrdiff_t MatchOne(std::string_view pattern, std::string_view text) {
    size_t j = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char p = pattern[i];
        if (p == '$') {
            return j == text.size() ? static_cast<ptrdiff_t>(j) : -1;
        }
        if (p == '?') {
            if (j == text.size())
                return -1;
            ++j;
            continue;
        }
        if (p == '*') {
            const bool any = i + 1 < pattern.size() && pattern[i + 1] == '*';
            const std::string_view rest_pattern = pattern.substr(i + (any ? 2 : 1));
            size_t span = text.size() - j;
            if (!any) {
                const size_t slash = text.find('/', j);
                span = (slash == std::string_view::npos ? text.size() : slash) - j;
            }
            // Longest first, as a greedy star.
            for (size_t take = span + 1; take-- > 0;) {
                const ptrdiff_t r = MatchOne(rest_pattern, text.substr(j + take));
                if (r >= 0) {
                    return static_cast<ptrdiff_t>(j + take) + r;
                }
            }
            return -1;
        }
        if (j == text.size() || AsciiLower(p) != AsciiLower(text[j])) {
            return -1;
        }
        ++j;
    }
    return static_cast<ptrdiff_t>(j);
}

}  // namespace

bool MatchPattern(std::string_view pattern, std::string_view text) {
    size_t start = 0;
    while (true) {
        const size_t bar = pattern.find('|', start);
        const std::string_view alt = pattern.substr(
            start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
        if (MatchOne(alt, text) >= 0) {
            return true;
        }
        if (bar == std::string_view::npos) {
            return false;
        }
        start = bar + 1;
    }
}

std::string_view ContentType(std::string_view name) {
    struct Entry {
        std::string_view ending;
        std::string_view type;
    };
    static constexpr Entry kTypes[] = {
        {".html", "text/html"},
        {".htm", "text/html"},
        {".shtm", "text/html"},
        {".shtml", "text/html"},
        {".css", "text/css"},
        {".js", "application/x-javascript"},
        {".ico", "image/x-icon"},
        {".gif", "image/gif"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
        {".txt", "text/plain"},
        {".torrent", "application/x-bittorrent"},
        {".wav", "audio/x-wav"},
        {".mp3", "audio/x-mp3"},
        {".mid", "audio/mid"},
        {".m3u", "audio/x-mpegurl"},
        {".ogg", "application/ogg"},
        {".ram", "audio/x-pn-realaudio"},
        {".xml", "text/xml"},
        {".json", "application/json"},
        {".xslt", "application/xml"},
        {".xsl", "application/xml"},
        {".ra", "audio/x-pn-realaudio"},
        {".doc", "application/msword"},
        {".exe", "application/octet-stream"},
        {".zip", "application/x-zip-compressed"},
        {".xls", "application/excel"},
        {".tgz", "application/x-tar-gz"},
        {".tar", "application/x-tar"},
        {".gz", "application/x-gunzip"},
        {".arj", "application/x-arj-compressed"},
        {".rar", "application/x-rar-compressed"},
        {".rtf", "application/rtf"},
        {".pdf", "application/pdf"},
        {".swf", "application/x-shockwave-flash"},
        {".mpg", "video/mpeg"},
        {".webm", "video/webm"},
        {".mpeg", "video/mpeg"},
        {".mov", "video/quicktime"},
        {".mp4", "video/mp4"},
        {".m4v", "video/x-m4v"},
        {".asf", "video/x-ms-asf"},
        {".avi", "video/x-msvideo"},
        {".bmp", "image/bmp"},
        {".ttf", "application/x-font-ttf"},
        {".wmv", "video/x-ms-wmv"},
        {".mkv", "video/x-matroska"},
    };
    for (const Entry& e : kTypes) {
        if (name.size() >= e.ending.size() &&
            EqualsNoCase(name.substr(name.size() - e.ending.size()), e.ending)) {
            return e.type;
        }
    }
    return "text/plain";
}

std::string_view ReasonPhrase(int code) {
    switch (code) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Payload Too Large";
        case 416:
            return "Requested Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Server Error";
    }
}

std::string HttpDate(int64_t t) {
    int64_t days = t / 86400;
    int64_t secs = t % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    // Civil date from days (inverse of DaysFromCivil).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    const int64_t wd = ((days % 7) + 7) % 7;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02u %s %04lld %02d:%02d:%02d GMT", kWeekdays[wd], d,
                  kMonths[m - 1], static_cast<long long>(y), static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
    return buf;
}

std::optional<int64_t> ParseHttpDate(std::string_view text) {
    const std::string s(text.substr(0, 100));
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char month[4] = {};
    const bool parsed = std::sscanf(s.c_str(), "%d/%3s/%d %d:%d:%d", &day, month, &year, &hour,
                                    &minute, &second) == 6 ||
                        std::sscanf(s.c_str(), "%d %3s %d %d:%d:%d", &day, month, &year, &hour,
                                    &minute, &second) == 6 ||
                        std::sscanf(s.c_str(), "%*3s, %d %3s %d %d:%d:%d", &day, month, &year,
                                    &hour, &minute, &second) == 6 ||
                        std::sscanf(s.c_str(), "%d-%3s-%d %d:%d:%d", &day, month, &year, &hour,
                                    &minute, &second) == 6;
    if (!parsed || year <= 1970 || year > 9999 || day < 1 || day > 31) {
        return std::nullopt;
    }
    for (unsigned m = 0; m < 12; ++m) {
        if (std::strcmp(month, kMonths[m]) == 0) {
            return DaysFromCivil(year, m + 1, static_cast<unsigned>(day)) * 86400 +
                   static_cast<int64_t>(hour) * 3600 + static_cast<int64_t>(minute) * 60 + second;
        }
    }
    return std::nullopt;
}

bool ConstantTimeEqualsIgnoreCase(std::string_view a, std::string_view b) {
    unsigned diff = a.size() == b.size() ? 0 : 1;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        diff |= static_cast<unsigned char>(AsciiLower(a[i])) ^
                static_cast<unsigned char>(AsciiLower(b[i]));
    }
    return diff == 0;
}

}  // namespace http

// ---- connection and request state --------------------------------------------------------

struct RequestState {
    bool active = false;  // a head has been taken from the receive buffer
    std::string method;
    std::string uri;
    std::string raw_target;
    std::string version;
    std::optional<std::string> query;
    std::vector<std::pair<std::string, std::string>> headers;
    int status = 0;          // 0 until a status line was written
    bool head_open = false;  // status line written, empty line not yet
    bool chunked = false;
    std::string body;
    int64_t content_length = 0;
    enum class Endpoint { kNone, kFile, kHandler } endpoint = Endpoint::kNone;
    bool answered = false;  // by the handler or a file: the keep-alive rule applies
    std::unique_ptr<platform::FileStream> file;
    uint64_t file_remaining = 0;
};

struct Connection {
    SocketId socket = kNoSocket;
    std::string peer;
    std::string recv;
    std::string send;
    int64_t last_io = 0;
    // When the head (and body) of the awaited request began to be awaited; -1 for a
    // kept-alive connection that has not begun its next request.
    int64_t request_started = -1;
    bool close_now = false;
    bool close_when_sent = false;
    RequestState req;
};

// ---- the handler's view ------------------------------------------------------------------

const std::string& HttpRequest::Method() const {
    return c_.req.method;
}
const std::string& HttpRequest::Uri() const {
    return c_.req.uri;
}
const std::string& HttpRequest::RawTarget() const {
    return c_.req.raw_target;
}
const std::string& HttpRequest::Version() const {
    return c_.req.version;
}
const std::optional<std::string>& HttpRequest::QueryString() const {
    return c_.req.query;
}
const std::string* HttpRequest::Header(std::string_view name) const {
    for (const auto& [n, v] : c_.req.headers) {
        if (EqualsNoCase(n, name)) {
            return &v;
        }
    }
    return nullptr;
}
const std::string& HttpRequest::Body() const {
    return c_.req.body;
}
const std::string& HttpRequest::UserData() const {
    return core_.user_data_;
}
const std::string& HttpRequest::Peer() const {
    return c_.peer;
}

namespace {

int LookUpVariable(std::string_view data, std::string_view name, std::string* out) {
    size_t p = 0;
    while (p <= data.size()) {
        size_t amp = data.find('&', p);
        if (amp == std::string_view::npos) {
            amp = data.size();
        }
        const std::string_view pair = data.substr(p, amp - p);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos && EqualsNoCase(pair.substr(0, eq), name)) {
            std::string value = http::UrlDecode(pair.substr(eq + 1), true);
            if (value.size() >= kVariableBuffer) {
                value.resize(kVariableBuffer - 1);
                *out = std::move(value);
                return kVariableTooLong;
            }
            *out = std::move(value);
            return static_cast<int>(out->size());
        }
        p = amp + 1;
    }
    return kVariableMissing;
}

}  // namespace

int HttpRequest::Variable(std::string_view name, std::string* out) const {
    out->clear();
    if (c_.req.query) {
        const int r = LookUpVariable(*c_.req.query, name, out);
        if (r != kVariableMissing) {
            return r;
        }
    }
    return LookUpVariable(c_.req.body, name, out);
}

void HttpRequest::SendHeader(std::string_view name, std::string_view value) {
    RequestState& r = c_.req;
    if (r.status == 0) {
        r.status = 200;
        r.head_open = true;
        core_.Write(c_, "HTTP/1.1 200 OK\r\n");
    }
    if (!r.head_open) {
        return;
    }
    std::string line;
    line.append(name).append(": ").append(value).append("\r\n");
    core_.Write(c_, line);
}

void HttpRequest::SendBody(std::string_view data) {
    RequestState& r = c_.req;
    if (!r.chunked) {
        if (r.status != 0 && !r.head_open) {
            return;  // another reply was made already
        }
        SendHeader("Transfer-Encoding", "chunked");
        core_.Write(c_, "\r\n");
        r.head_open = false;
        r.chunked = true;
    }
    if (r.method == "HEAD" || data.empty()) {
        return;  // an empty chunk would end the body
    }
    char size[24];
    std::snprintf(size, sizeof size, "%llX\r\n", static_cast<unsigned long long>(data.size()));
    std::string chunk(size);
    chunk.append(data).append("\r\n");
    core_.Write(c_, chunk);
}

void HttpRequest::SendFile(std::string_view utf8_path) {
    core_.SendFile(c_, utf8_path);
}

void HttpRequest::SendError(int code) {
    core_.ErrorReply(c_, code);
}

// ---- the core ----------------------------------------------------------------------------

HttpServerCore::HttpServerCore(platform::ISocketApi& sockets,
                               RequestHandler handler,
                               std::string user_data)
    : sockets_(sockets),
      handler_(std::move(handler)),
      user_data_(std::move(user_data)),
      monotonic_(SteadySeconds),
      wall_(WallSeconds) {}

HttpServerCore::~HttpServerCore() {
    for (auto& c : connections_) {
        if (handler_) {
            HttpRequest view(*this, *c);
            handler_(view, HttpEvent::kClose);
        }
        sockets_.Close(c->socket);
    }
    connections_.clear();
    if (listener_ != kNoSocket) {
        sockets_.Close(listener_);
    }
}

std::string HttpServerCore::SetListeningAddress(std::string_view spec) {
    const std::string kError = "Cannot bind to port";
    if (listener_ != kNoSocket) {
        sockets_.Close(listener_);
        listener_ = kNoSocket;
    }
    uint32_t address = 0;
    std::string_view port_text = spec;
    const size_t colon = spec.rfind(':');
    if (colon != std::string_view::npos) {
        const std::string host(spec.substr(0, colon));
        port_text = spec.substr(colon + 1);
        unsigned a = 0, b = 0, c = 0, d = 0;
        int used = 0;
        if (std::sscanf(host.c_str(), "%u.%u.%u.%u%n", &a, &b, &c, &d, &used) == 4 &&
            used == static_cast<int>(host.size()) && a < 256 && b < 256 && c < 256 && d < 256) {
            address = (a << 24) | (b << 16) | (c << 8) | d;
        } else if (host.empty()) {
            return kError;
        } else if (const auto resolved = sockets_.ResolveHost(host)) {
            address = *resolved;
        } else {
            return kError;
        }
    }
    if (port_text.empty() || port_text.size() > 5) {
        return kError;
    }
    unsigned port = 0;
    for (const char ch : port_text) {
        if (ch < '0' || ch > '9') {
            return kError;
        }
        port = port * 10 + static_cast<unsigned>(ch - '0');
    }
    if (port >= 65535) {
        return kError;
    }
    listener_ = sockets_.Listen(address, static_cast<uint16_t>(port));
    return listener_ == kNoSocket ? kError : std::string();
}

uint16_t HttpServerCore::ListeningPort() const {
    return listener_ == kNoSocket ? 0 : sockets_.LocalPort(listener_);
}

void HttpServerCore::SetCredentials(std::string user_name, std::string password) {
    user_name_ = std::move(user_name);
    password_ = std::move(password);
}

void HttpServerCore::SetClocks(std::function<int64_t()> monotonic, std::function<int64_t()> wall) {
    monotonic_ = std::move(monotonic);
    wall_ = std::move(wall);
}

size_t HttpServerCore::ConnectionCount() const {
    return connections_.size();
}

void HttpServerCore::Write(Connection& c, std::string_view data) {
    c.send.append(data);
}

void HttpServerCore::Poll(int wait_ms) {
    const int64_t now = monotonic_();
    for (auto& c : connections_) {
        if (c->close_now) {
            continue;
        }
        PollStep(*c);
        if (now - c->last_io > limits_.idle_timeout_s ||
            (c->request_started >= 0 && now - c->request_started > limits_.head_timeout_s)) {
            c->close_now = true;
        }
    }

    poll_entries_.clear();
    poll_owners_.clear();
    if (listener_ != kNoSocket) {
        poll_entries_.push_back({listener_, true, false, false, false});
        poll_owners_.push_back(nullptr);
    }
    for (auto& c : connections_) {
        if (c->close_now || poll_entries_.size() >= platform::kMaxPollSockets) {
            continue;
        }
        platform::PollEntry e;
        e.socket = c->socket;
        // A full receive buffer waits for its request to finish before more is read.
        e.want_read = !c->close_when_sent &&
                      c->recv.size() < kMaxHead + static_cast<size_t>(kMaxBody) + kReceivePiece;
        e.want_write = !c->send.empty();
        poll_entries_.push_back(e);
        poll_owners_.push_back(c.get());
    }
    const bool must_close = std::any_of(connections_.begin(), connections_.end(),
                                        [](const auto& c) { return c->close_now; });
    if (sockets_.Poll(poll_entries_, must_close ? 0 : wait_ms) > 0) {
        for (size_t i = 0; i < poll_entries_.size(); ++i) {
            const platform::PollEntry& e = poll_entries_[i];
            Connection* c = poll_owners_[i];
            if (c == nullptr) {
                if (e.readable) {
                    AcceptWaiting();
                }
                continue;
            }
            if (e.readable && !c->close_now) {
                ReadFrom(*c);
            }
            if (e.writable && !c->close_now) {
                WriteTo(*c);
            }
        }
    }

    for (auto it = connections_.begin(); it != connections_.end();) {
        Connection& c = **it;
        if (c.close_now || (c.close_when_sent && c.send.empty())) {
            if (handler_) {
                HttpRequest view(*this, c);
                handler_(view, HttpEvent::kClose);
            }
            sockets_.Close(c.socket);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void HttpServerCore::EvictLongestIdle() {
    Connection* victim = nullptr;
    for (auto& c : connections_) {
        if (c->close_now) {
            continue;
        }
        // Connections in the middle of a reply are spared while idle ones exist.
        const bool busy = c->req.active;
        const bool victim_busy = victim && victim->req.active;
        if (!victim || (victim_busy && !busy) ||
            (victim_busy == busy && c->last_io < victim->last_io)) {
            victim = c.get();
        }
    }
    if (victim) {
        victim->close_now = true;
    }
}

void HttpServerCore::AcceptWaiting() {
    for (size_t n = 0; n < kAcceptsPerPass; ++n) {
        const size_t open = static_cast<size_t>(std::count_if(
            connections_.begin(), connections_.end(), [](const auto& c) { return !c->close_now; }));
        std::string peer;
        const SocketId s = sockets_.Accept(listener_, &peer);
        if (s == kNoSocket) {
            return;
        }
        if (open >= std::max<size_t>(1, limits_.max_connections)) {
            EvictLongestIdle();
        }
        auto c = std::make_unique<Connection>();
        c->socket = s;
        c->peer = std::move(peer);
        c->last_io = monotonic_();
        c->request_started = c->last_io;
        connections_.push_back(std::move(c));
    }
}

void HttpServerCore::ReadFrom(Connection& c) {
    char piece[kReceivePiece];
    for (size_t n = 0; n < kReceivePiecesPerPass && !c.close_now; ++n) {
        if (c.recv.size() >= kMaxHead + static_cast<size_t>(kMaxBody) + kReceivePiece) {
            return;
        }
        const platform::SocketIo io = sockets_.Receive(c.socket, piece, sizeof piece);
        if (io.would_block) {
            return;
        }
        if (io.failed || io.bytes <= 0) {
            c.close_now = true;
            return;
        }
        c.recv.append(piece, static_cast<size_t>(io.bytes));
        c.last_io = monotonic_();
        if (c.request_started < 0 && !c.req.active) {
            c.request_started = c.last_io;
        }
        ProcessReceived(c);
    }
}

void HttpServerCore::WriteTo(Connection& c) {
    const platform::SocketIo io = sockets_.Send(c.socket, c.send.data(), c.send.size());
    if (io.failed) {
        c.close_now = true;
        return;
    }
    if (io.bytes > 0) {
        c.send.erase(0, static_cast<size_t>(io.bytes));
        c.last_io = monotonic_();
    }
    // Requests held back while the replies piled up may go on now.
    if (!c.req.active && !c.recv.empty()) {
        ProcessReceived(c);
    }
}

void HttpServerCore::ProcessReceived(Connection& c) {
    while (!c.close_now && !c.close_when_sent) {
        RequestState& r = c.req;
        if (!r.active) {
            if (c.recv.empty() || c.send.size() > kSendBacklogLimit || !StartRequest(c)) {
                return;
            }
            continue;
        }
        if (r.endpoint != RequestState::Endpoint::kHandler) {
            return;  // a file is being sent
        }
        if (static_cast<int64_t>(c.recv.size()) >= r.content_length) {
            r.body = c.recv.substr(0, static_cast<size_t>(r.content_length));
            c.recv.erase(0, static_cast<size_t>(r.content_length));
            DispatchToHandler(c);
            continue;
        }
        if (!c.recv.empty() && handler_) {
            HttpRequest view(*this, c);
            const int drop = handler_(view, HttpEvent::kReceive);
            if (drop < 0) {
                c.close_now = true;
            } else if (drop > 0) {
                const size_t n = std::min(c.recv.size(), static_cast<size_t>(drop));
                c.recv.erase(0, n);
                r.content_length -= static_cast<int64_t>(n);
                continue;
            }
        }
        return;
    }
}

bool HttpServerCore::ParseHead(Connection& c, std::string_view head) {
    RequestState& r = c.req;
    size_t line_end = head.find('\n');
    std::string_view line = head.substr(0, line_end);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    // Request line: method, target and protocol separated by spaces.
    std::string_view parts[3];
    size_t p = 0;
    for (int i = 0; i < 3; ++i) {
        while (p < line.size() && line[p] == ' ')
            ++p;
        const size_t start = p;
        while (p < line.size() && line[p] != ' ')
            ++p;
        parts[i] = line.substr(start, p - start);
        if (parts[i].empty()) {
            return false;
        }
    }
    r.method = std::string(parts[0]);
    r.raw_target = std::string(parts[1]);
    if (!IsMethod(parts[0]) || parts[2].substr(0, 5) != "HTTP/") {
        return false;
    }
    r.version = std::string(parts[2].substr(5));

    // Headers: name, a run of ": ", value.
    while (line_end != std::string_view::npos && r.headers.size() < kMaxHeaders) {
        const size_t start = line_end + 1;
        line_end = head.find('\n', start);
        std::string_view h = head.substr(
            start, line_end == std::string_view::npos ? std::string_view::npos : line_end - start);
        while (!h.empty() && (h.back() == '\r' || h.back() == ' ')) {
            h.remove_suffix(1);
        }
        if (h.empty()) {
            break;
        }
        const size_t sep = h.find_first_of(": ");
        if (sep == 0 || sep == std::string_view::npos) {
            continue;
        }
        size_t value = sep;
        while (value < h.size() && (h[value] == ':' || h[value] == ' '))
            ++value;
        r.headers.emplace_back(std::string(h.substr(0, sep)), std::string(h.substr(value)));
    }

    const size_t question = r.raw_target.find('?');
    if (question != std::string::npos) {
        r.query = r.raw_target.substr(question + 1);
    }
    r.uri = http::UrlDecode(std::string_view(r.raw_target).substr(0, question), false);
    // A zero byte would cut the path short in the system's file calls.
    if (r.uri.find('\0') != std::string::npos) {
        return false;
    }
    if (!r.uri.empty() && (r.uri[0] == '/' || r.uri[0] == '.')) {
        r.uri = http::CollapsePath(r.uri);
    }
    return true;
}

bool HttpServerCore::StartRequest(Connection& c) {
    const ptrdiff_t len = http::HeadLength(c.recv);
    if (len == 0 && c.recv.size() <= kMaxHead) {
        return false;
    }
    c.req = RequestState();
    RequestState& r = c.req;
    r.active = true;
    if (len < 0) {
        c.recv.clear();
        ErrorReply(c, 400);
        FinishRequest(c);
        return true;
    }
    if (len == 0 || static_cast<size_t>(len) > kMaxHead) {
        c.recv.clear();
        ErrorReply(c, 413);
        FinishRequest(c);
        return true;
    }
    const std::string head = c.recv.substr(0, static_cast<size_t>(len));
    c.recv.erase(0, static_cast<size_t>(len));

    const bool valid = ParseHead(c, head);
    const std::string_view uri = r.uri;
    const bool absolute = StartsWithNoCase(r.raw_target, "http");
    const bool uri_ok = !uri.empty() && (uri[0] == '/' || uri == "*" || absolute ||
                                         (r.method == "CONNECT" && IsHostPort(r.raw_target)));
    if (!valid || !uri_ok) {
        ErrorReply(c, 400);
        FinishRequest(c);
        return true;
    }
    if (r.version != "1.0" && r.version != "1.1") {
        ErrorReply(c, 505);
        FinishRequest(c);
        return true;
    }
    HttpRequest view(*this, c);
    if (const std::string* cl = view.Header("Content-Length")) {
        size_t p = 0;
        const auto n = ParseDecimal(*cl, p);
        if (!n || *n < 0 || p != cl->size()) {
            ErrorReply(c, 400);
            FinishRequest(c);
            return true;
        }
        if (*n > kMaxBody) {
            ErrorReply(c, 413);
            FinishRequest(c);
            return true;
        }
        r.content_length = *n;
    }
    if (const std::string* expect = view.Header("Expect");
        expect && EqualsNoCase(*expect, "100-continue")) {
        Write(c, "HTTP/1.1 100 Continue\r\n\r\n");
    }
    if (r.method == "CONNECT" || absolute) {
        ErrorReply(c, 405);  // no proxy here
        FinishRequest(c);
        return true;
    }
    if (r.method == "OPTIONS") {
        Write(c,
              "HTTP/1.1 200 OK\r\nAllow: GET, POST, HEAD, CONNECT, PUT, DELETE, OPTIONS, "
              "PROPFIND, MKCOL\r\nDAV: 1\r\n\r\n");
        r.status = 200;
        FinishRequest(c);
        return true;
    }
    if (!Authorised(c)) {
        SendChallenge(c);
        FinishRequest(c);
        return true;
    }
    r.endpoint = RequestState::Endpoint::kHandler;
    r.answered = true;
    return true;
}

void HttpServerCore::DispatchToHandler(Connection& c) {
    RequestState& r = c.req;
    c.request_started = -1;
    int result = kHandlerDeclined;
    if (handler_) {
        HttpRequest view(*this, c);
        result = handler_(view, HttpEvent::kRequest);
    }
    if (r.endpoint == RequestState::Endpoint::kFile) {
        return;  // the poll passes send the rest
    }
    if (result == kHandlerDeclined && r.status == 0) {
        // A client must not be left waiting for a reply that never comes.
        ErrorReply(c, 404);
    }
    if (r.chunked) {
        if (r.method != "HEAD") {
            Write(c, "0\r\n\r\n");
        }
    } else if (r.head_open) {
        Write(c, "Content-Length: 0\r\n\r\n");
        r.head_open = false;
    }
    FinishRequest(c);
}

void HttpServerCore::PollStep(Connection& c) {
    RequestState& r = c.req;
    if (!r.active) {
        return;
    }
    if (r.endpoint == RequestState::Endpoint::kFile) {
        char piece[kFilePiece];
        while (r.file_remaining > 0 && c.send.size() <= kSendHighWater) {
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(kFilePiece, r.file_remaining));
            const ptrdiff_t got = r.file->Read(piece, want);
            if (got <= 0) {
                // The file shrank or failed: the client sees a short body and the
                // connection closes so that it cannot mistake what follows.
                c.close_when_sent = true;
                r.file_remaining = 0;
                break;
            }
            c.send.append(piece, static_cast<size_t>(got));
            r.file_remaining -= static_cast<uint64_t>(got);
        }
        if (r.file_remaining == 0) {
            FinishRequest(c);
            ProcessReceived(c);
        }
        return;
    }
    if (r.endpoint == RequestState::Endpoint::kHandler && handler_) {
        HttpRequest view(*this, c);
        if (handler_(view, HttpEvent::kPoll) == 1) {
            if (r.chunked && r.method != "HEAD") {
                Write(c, "0\r\n\r\n");
            }
            FinishRequest(c);
            ProcessReceived(c);
        }
    }
}

void HttpServerCore::FinishRequest(Connection& c) {
    RequestState& r = c.req;
    bool keep = false;
    // Replies made before the handler (errors, challenges, OPTIONS) always close.
    if (r.answered) {
        HttpRequest view(*this, c);
        const std::string* connection = view.Header("Connection");
        keep = connection ? EqualsNoCase(*connection, "keep-alive") : r.version == "1.1";
    }
    c.req = RequestState();
    c.request_started = c.recv.empty() ? -1 : monotonic_();
    if (!keep) {
        c.recv.clear();
        if (c.send.empty()) {
            c.close_now = true;
        } else {
            c.close_when_sent = true;
        }
    }
}

bool HttpServerCore::Authorised(Connection& c) const {
    if (user_name_.empty()) {
        return true;
    }
    const HttpRequest view(const_cast<HttpServerCore&>(*this), c);
    const std::string* auth = view.Header("Authorization");
    if (!auth || !StartsWithNoCase(*auth, "Digest ")) {
        return false;
    }
    struct Param {
        std::string_view name;
        size_t max;
        std::optional<std::string> value;
    } params[] = {{"username", 99, {}}, {"cnonce", 99, {}}, {"response", 99, {}},
                  {"uri", 16383, {}},   {"qop", 99, {}},    {"nc", 99, {}},
                  {"nonce", 99, {}}};
    const std::string_view text = std::string_view(*auth).substr(7);
    size_t p = 0;
    while (p < text.size()) {
        while (p < text.size() && (text[p] == ' ' || text[p] == ','))
            ++p;
        const size_t eq = text.find('=', p);
        if (eq == std::string_view::npos) {
            break;
        }
        const std::string_view name = text.substr(p, eq - p);
        p = eq + 1;
        std::string_view value;
        if (p < text.size() && (text[p] == '"' || text[p] == '\'')) {
            const size_t close = text.find(text[p], p + 1);
            if (close == std::string_view::npos) {
                return false;
            }
            value = text.substr(p + 1, close - p - 1);
            p = close + 1;
        } else {
            const size_t end = text.find_first_of(" ,", p);
            value =
                text.substr(p, end == std::string_view::npos ? std::string_view::npos : end - p);
            p = end == std::string_view::npos ? text.size() : end;
        }
        for (Param& param : params) {
            if (name == param.name) {
                if (value.size() > param.max) {
                    return false;
                }
                param.value = std::string(value);
            }
        }
    }
    for (const Param& param : params) {
        if (!param.value) {
            return false;
        }
    }
    const std::string& username = *params[0].value;
    const std::string& cnonce = *params[1].value;
    const std::string& response = *params[2].value;
    const std::string& uri = *params[3].value;
    const std::string& qop = *params[4].value;
    const std::string& nc = *params[5].value;
    const std::string& nonce = *params[6].value;
    // A header computed for one address must not open another.
    if (username != user_name_ || uri != c.req.raw_target) {
        return false;
    }
    const std::string ha1 = platform::Md5Hex(user_name_ + ":" + kRealm + ":" + password_);
    const std::string ha2 = platform::Md5Hex(c.req.method + ":" + uri);
    const std::string expected =
        platform::Md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
    return http::ConstantTimeEqualsIgnoreCase(expected, response);
}

void HttpServerCore::SendChallenge(Connection& c) {
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest qop=\"auth\", "
                  "realm=\"%s\", nonce=\"%lu\"\r\n\r\n",
                  kRealm, static_cast<unsigned long>(static_cast<uint32_t>(wall_())));
    Write(c, buf);
    c.req.status = 401;
}

void HttpServerCore::ErrorReply(Connection& c, int code) {
    RequestState& r = c.req;
    if (r.status != 0) {
        return;  // a reply has begun already
    }
    if (handler_) {
        HttpRequest view(*this, c);
        if (handler_(view, HttpEvent::kErrorReply) == 1) {
            if (r.status == 0) {
                r.status = code;
            }
            return;
        }
    }
    const std::string_view phrase = http::ReasonPhrase(code);
    std::string body;
    if (!(code >= 300 && code <= 399) && code != 204) {
        body = std::to_string(code) + " " + std::string(phrase) + "\n";
    }
    std::string head = "HTTP/1.1 " + std::to_string(code) + " " + std::string(phrase) +
                       "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nContent-Type: text/plain\r\n\r\n";
    Write(c, head);
    if (r.method != "HEAD") {
        Write(c, body);
    }
    r.status = code;
    r.head_open = false;
}

void HttpServerCore::SendFile(Connection& c, std::string_view utf8_path) {
    RequestState& r = c.req;
    if (r.status != 0) {
        return;
    }
    std::u16string path = Utf8ToUtf16(utf8_path);
    if (path.size() > 8192 || Utf16ToUtf8(path) != utf8_path || utf8_path.empty()) {
        ErrorReply(c, 404);
        return;
    }
    while (path.size() > 1 && (path.back() == u'/' || path.back() == u'\\') &&
           path[path.size() - 2] != u':') {
        path.pop_back();
    }
    const std::optional<platform::FileStatus> st = platform::StatFile(path);
    if (!st) {
        ErrorReply(c, 404);
        return;
    }
    if (st->is_directory) {
        if (r.uri.empty() || r.uri.back() != '/') {
            // A length, so that a kept-alive client knows the reply has ended.
            Write(c, "HTTP/1.1 301 Moved Permanently\r\nLocation: " + EncodeLocation(r.uri) +
                         "/\r\nContent-Length: 0\r\n\r\n");
            r.status = 301;
        } else {
            ErrorReply(c, 404);
        }
        return;
    }
    if (http::MatchPattern(kScriptPattern, utf8_path)) {
        ErrorReply(c, 501);
        return;
    }
    char tag[64];
    std::snprintf(tag, sizeof tag, "\"%lx.%lld\"",
                  static_cast<unsigned long>(static_cast<uint32_t>(st->modified_unix)),
                  static_cast<long long>(st->size));
    HttpRequest view(*this, c);
    const std::string* none_match = view.Header("If-None-Match");
    const std::string* modified_since = view.Header("If-Modified-Since");
    std::optional<int64_t> since;
    if (modified_since) {
        since = http::ParseHttpDate(*modified_since);
    }
    if ((none_match && EqualsNoCase(*none_match, tag)) || (since && *since >= st->modified_unix)) {
        ErrorReply(c, 304);
        return;
    }
    auto file = std::make_unique<platform::FileStream>();
    if (!file->Open(path)) {
        ErrorReply(c, 404);
        return;
    }
    const auto size = static_cast<int64_t>(st->size);
    int status = 200;
    int64_t first = 0;
    int64_t length = size;
    std::string range_line;
    if (const std::string* range = view.Header("Range"); range && range->rfind("bytes=", 0) == 0) {
        size_t p = 6;
        const std::optional<int64_t> a = ParseDecimal(*range, p);
        std::optional<int64_t> b;
        bool well_formed = a && *a >= 0 && p < range->size() && (*range)[p] == '-';
        if (well_formed) {
            ++p;
            if (p < range->size()) {
                b = ParseDecimal(*range, p);
                well_formed = !b || *b >= 0;
            }
        }
        if (well_formed && *a >= size) {
            ErrorReply(c, 416);
            return;
        }
        if (well_formed && (!b || *b >= *a)) {
            status = 206;
            first = *a;
            const int64_t last = b ? std::min(*b, size - 1) : size - 1;
            length = last - first + 1;
            char line[128];
            std::snprintf(line, sizeof line, "Content-Range: bytes %lld-%lld/%lld\r\n",
                          static_cast<long long>(first), static_cast<long long>(first + length - 1),
                          static_cast<long long>(size));
            range_line = line;
            if (!file->Seek(static_cast<uint64_t>(first))) {
                ErrorReply(c, 404);
                return;
            }
        }
    }
    const std::string* connection = view.Header("Connection");
    const bool keep = connection ? EqualsNoCase(*connection, "keep-alive") : r.version == "1.1";
    std::string head =
        "HTTP/1.1 " + std::to_string(status) + " " + std::string(http::ReasonPhrase(status)) +
        "\r\nDate: " + http::HttpDate(wall_()) +
        "\r\nLast-Modified: " + http::HttpDate(st->modified_unix) + "\r\nEtag: " + tag +
        "\r\nContent-Type: " + std::string(http::ContentType(utf8_path)) +
        "\r\nContent-Length: " + std::to_string(length) +
        "\r\nConnection: " + (keep ? "keep-alive" : "close") + "\r\nAccept-Ranges: bytes\r\n" +
        range_line + "\r\n";
    Write(c, head);
    r.status = status;
    r.head_open = false;
    if (r.method == "HEAD" || length == 0) {
        return;
    }
    r.file = std::move(file);
    r.file_remaining = static_cast<uint64_t>(length);
    r.endpoint = RequestState::Endpoint::kFile;
}

}  // namespace kavo::web

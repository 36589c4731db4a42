// A small single-threaded HTTP/1.1 server for the web search service. One thread calls
// Poll repeatedly; Poll accepts connections, reads requests, checks Digest authorisation
// (realm "Kavo"), hands each request to the one request handler and sends what the handler
// writes, including files with byte ranges and conditional requests. The server knows
// nothing of searching. Only the polling thread may touch an instance.
//
// Hostile clients are bounded: request heads of at most 16,384 bytes and 30 headers, request
// bodies of at most kMaxBody bytes, at most `max_connections` connections (the longest-idle
// one is closed to make room), a head that has not arrived within `head_timeout_s` seconds
// closes its connection, and an idle connection is closed after 300 seconds.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_stream.h"
#include "platform/socket.h"

namespace kavo::web {

// Events that the core gives the request handler, with the meaning of the handler's result.
enum class HttpEvent : int {
    kPoll = 100,        // every pass, for a request bound to the handler; 1 = reply finished
    kRequest = 103,     // a whole request: 0 declined, 1 done, 2 a file reply follows
    kReceive = 105,     // body data arrived: bytes to drop from the buffer, < 0 closes
    kClose = 106,       // the connection closes; ignored
    kErrorReply = 109,  // an error reply is due: 1 = the handler has replied itself
};

constexpr int kHandlerDeclined = 0;
constexpr int kHandlerDone = 1;
constexpr int kHandlerFileFollows = 2;

// Results of HttpRequest::Variable besides a length.
constexpr int kVariableMissing = -1;
constexpr int kVariableTooLong = -2;
// Values of form variables are decoded into this many bytes, the last one kept for the end.
constexpr size_t kVariableBuffer = 260;

class HttpServerCore;
struct Connection;

// The handler's view of the current request of one connection.
class HttpRequest {
  public:
    const std::string& Method() const;
    // The path, %XX-decoded and with runs of separators and ".." collapsed.
    const std::string& Uri() const;
    // The request target exactly as it stood on the request line.
    const std::string& RawTarget() const;
    const std::string& Version() const;  // after "HTTP/"
    // The text after the first "?" of the target; nullopt when there is none.
    const std::optional<std::string>& QueryString() const;
    // A header's value by name without regard to case; nullptr when absent.
    const std::string* Header(std::string_view name) const;
    const std::string& Body() const;
    const std::string& UserData() const;
    const std::string& Peer() const;

    // A form variable from the query string, else the body: the %XX and "+" decoded value,
    // its length; kVariableMissing (out empty) or kVariableTooLong (out cut to 259 bytes).
    int Variable(std::string_view name, std::string* out) const;

    // Writes the status line (200 OK) unless written, then "name: value".
    void SendHeader(std::string_view name, std::string_view value);
    // Sends data as one chunk of a chunked body; the first call ends the head.
    void SendBody(std::string_view data);
    // Sends the file at `utf8_path` (a Windows path) with the conditional-request, range and
    // content-type rules; returns after the head, the body follows in later passes. Missing
    // files and folders with a final slash get 404; a folder without one gets 301.
    void SendFile(std::string_view utf8_path);
    // Sends the error reply `code` (after asking the handler).
    void SendError(int code);

  private:
    friend class HttpServerCore;
    HttpRequest(HttpServerCore& core, Connection& c) : core_(core), c_(c) {}
    HttpServerCore& core_;
    Connection& c_;
};

using RequestHandler = std::function<int(HttpRequest&, HttpEvent)>;

struct HttpLimits {
    size_t max_connections = 1000;
    int64_t head_timeout_s = 30;
    int64_t idle_timeout_s = 300;
};

class HttpServerCore {
  public:
    static constexpr size_t kMaxHead = 16384;
    static constexpr size_t kMaxHeaders = 30;
    static constexpr int64_t kMaxBody = 1 << 20;

    HttpServerCore(platform::ISocketApi& sockets, RequestHandler handler, std::string user_data);
    ~HttpServerCore();  // closes every connection and the listening socket
    HttpServerCore(const HttpServerCore&) = delete;
    HttpServerCore& operator=(const HttpServerCore&) = delete;

    // "a.b.c.d:port", "host:port" or "port" (all addresses). Empty on success, otherwise
    // "Cannot bind to port".
    std::string SetListeningAddress(std::string_view spec);
    // The port actually listened on (useful after "0"), 0 when not listening.
    uint16_t ListeningPort() const;

    // Digest credentials; an empty user name lets every request pass.
    void SetCredentials(std::string user_name, std::string password);
    void SetLimits(const HttpLimits& limits) { limits_ = limits; }
    // Clocks in seconds: a monotonic one for time-outs and the wall clock (since 1970) for
    // dates and nonces. Tests replace them.
    void SetClocks(std::function<int64_t()> monotonic, std::function<int64_t()> wall);

    // One pass: waits at most `wait_ms` for network events and handles them.
    void Poll(int wait_ms);

    size_t ConnectionCount() const;  // without the listening socket

  private:
    friend class HttpRequest;
    using ConnList = std::list<std::unique_ptr<Connection>>;

    void AcceptWaiting();
    void ReadFrom(Connection& c);
    void WriteTo(Connection& c);
    void EvictLongestIdle();

    void ProcessReceived(Connection& c);
    bool StartRequest(Connection& c);                      // false: wait for more data
    bool ParseHead(Connection& c, std::string_view head);  // false: invalid
    void DispatchToHandler(Connection& c);
    void PollStep(Connection& c);
    void FinishRequest(Connection& c);

    bool Authorised(Connection& c) const;
    void SendChallenge(Connection& c);
    void ErrorReply(Connection& c, int code);
    void SendFile(Connection& c, std::string_view utf8_path);
    void Write(Connection& c, std::string_view data);

    platform::ISocketApi& sockets_;
    RequestHandler handler_;
    std::string user_data_;
    std::string user_name_;
    std::string password_;
    HttpLimits limits_;
    std::function<int64_t()> monotonic_;
    std::function<int64_t()> wall_;
    platform::SocketId listener_ = platform::kNoSocket;
    ConnList connections_;
    std::vector<platform::PollEntry> poll_entries_;
    std::vector<Connection*> poll_owners_;
};

// Helpers of the core, exposed for their tests.
namespace http {

// Decodes %XX escapes; "+" becomes a space only when `plus_is_space`.
std::string UrlDecode(std::string_view s, bool plus_is_space);
// After every slash or backslash, drops the directly following slashes, backslashes and
// ".." pairs.
std::string CollapsePath(std::string_view path);
// Length of the request head (up to and with the empty line), 0 while incomplete, -1 when
// it holds a control byte.
ptrdiff_t HeadLength(std::string_view buffer);
// Patterns: "|" separates alternatives, "**" any text, "*" any text without "/", "?" one
// character, "$" the end; other characters without regard to case. Matching a prefix of
// `text` counts unless the pattern ends with "$".
bool MatchPattern(std::string_view pattern, std::string_view text);
// The content type of a file name by its ending.
std::string_view ContentType(std::string_view name);
std::string_view ReasonPhrase(int code);
// "Sun, 06 Nov 1994 08:49:37 GMT" for seconds since 1970.
std::string HttpDate(int64_t unix_seconds);
// If-Modified-Since text in one of four forms, as seconds since 1970.
std::optional<int64_t> ParseHttpDate(std::string_view text);
// Equality of two texts in time independent of where they differ, ASCII case ignored.
bool ConstantTimeEqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace http

}  // namespace kavo::web

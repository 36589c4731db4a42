#include "web/web_server.h"

#include "base/format.h"
#include "base/text.h"

namespace kavo::web {

namespace {

std::u16string Trim(const std::u16string& s) {
    const size_t b = s.find_first_not_of(u" \t");
    if (b == std::u16string::npos) {
        return {};
    }
    const size_t e = s.find_last_not_of(u" \t");
    return s.substr(b, e - b + 1);
}

}  // namespace

WebServer::WebServer(std::u16string database_folder,
                     std::u16string settings_path,
                     platform::ISocketApi& sockets)
    : sockets_(sockets), service_(std::move(database_folder), std::move(settings_path)) {}

WebServer::~WebServer() {
    Stop();
}

bool WebServer::Start(const std::u16string& ip,
                      int64_t port,
                      const std::u16string& user_name,
                      const std::u16string& password) {
    Stop();
    last_error_.clear();
    stop_ = false;
    auto core = std::make_unique<HttpServerCore>(
        sockets_, [this](HttpRequest& r, HttpEvent e) { return service_.Handle(r, e); }, "1");
    const std::u16string address = Trim(ip);
    const std::u16string spec = address.empty()
                                    ? Format(u"%lld", static_cast<long long>(port))
                                    : Format(u"%s:%lld", address, static_cast<long long>(port));
    // Credentials go out as UTF-8, as browsers and curl send them.
    core->SetCredentials(Utf16ToUtf8(user_name), Utf16ToUtf8(password));
    const std::string error = core->SetListeningAddress(Utf16ToUtf8(spec));
    if (!error.empty()) {
        last_error_ = Utf8ToUtf16(error);
        return false;
    }
    port_ = core->ListeningPort();
    core_ = std::move(core);
    thread_ = std::thread([this] {
        while (!stop_.load()) {
            core_->Poll(1000);
        }
    });
    return true;
}

void WebServer::Stop() {
    if (!core_) {
        return;
    }
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    core_.reset();
    stop_ = false;
}

}  // namespace kavo::web

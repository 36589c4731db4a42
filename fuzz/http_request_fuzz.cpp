// Random bytes as requests through the server core over the in-memory sockets: the input
// is cut into segments (a 0xFF byte ends one), each sent on one connection with poll passes
// between them, with Digest authorisation switched on when the first byte is odd.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/socket_fake.h"
#include "web/http_server_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) {
        return 0;
    }
    using namespace kavo;
    platform::FakeSockets net;
    web::HttpServerCore core(
        net,
        [](web::HttpRequest& r, web::HttpEvent e) {
            if (e != web::HttpEvent::kRequest)
                return 0;
            std::string v;
            r.Variable("q", &v);
            if (r.Uri() == "/decline")
                return web::kHandlerDeclined;
            r.SendHeader("X-Uri", r.Uri());
            r.SendBody(v);
            return web::kHandlerDone;
        },
        "1");
    if (size > 0 && (data[0] & 1)) {
        core.SetCredentials("ann", "pw");
    }
    int64_t now = 0;
    core.SetClocks([&now] { return now; }, [] { return int64_t{1700000000}; });
    if (!core.SetListeningAddress("0").empty()) {
        return 0;
    }
    const auto c = net.Dial(core.ListeningPort());
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const size_t cut = rest.find('\xFF');
        net.ClientSend(c, rest.substr(0, cut));
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        core.Poll(0);
        net.ClientTake(c);
        now += 7;
    }
    net.ClientShutdown(c);
    for (int i = 0; i < 4; ++i)
        core.Poll(0);
    return 0;
}

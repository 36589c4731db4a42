// The web and webserver subcommands: serve the web search until a key is pressed.
#include "base/format.h"
#include "base/text.h"
#include "main/process.h"
#include "main/subcommands.h"
#include "platform/console_input.h"
#include "platform/system.h"
#include "settings/settings.h"
#include "web/web_server.h"

namespace kavo {

void RunWeb(const Args& args) {
    ProcessState& p = Process();
    const Settings settings(p.settings_path);
    std::u16string ip = settings.Get(settings::kWebIp);
    int64_t port = settings.Get(settings::kWebPort);
    std::u16string user = settings.Get(settings::kWebUserName);
    std::u16string password = settings.Get(settings::kWebPassword);
    // Name and value pairs from the third word on; other words are skipped one at a time.
    for (size_t i = 2; i + 1 < args.size();) {
        const std::u16string& name = args[i];
        const std::u16string& value = args[i + 1];
        if (name == u"--ip") {
            ip = value;
        } else if (name == u"--port") {
            port = ParseLeadingInt64(value);
        } else if (name == u"--username") {
            user = value;
        } else if (name == u"--password") {
            password = value;
        } else {
            ++i;
            continue;
        }
        i += 2;
    }

    web::WebServer server(p.database_folder, p.settings_path);
    if (!server.Start(ip, port, user, password)) {
        std::u16string text = u"Failed to start web server";
        if (!server.LastStartError().empty()) {
            text += u":\n" + server.LastStartError();
        }
        platform::StdoutWrite(text + u"\n");
        platform::StdoutFlush();
        return;
    }
    // The port actually listened on, so that port 0 (any free port) can be found.
    platform::StdoutWrite(Format(u"Web server started at %s:%d.\nPress any key to exit.\n", ip,
                                 static_cast<int>(server.Port())));
    platform::StdoutFlush();
    while (!p.interrupted.load()) {
        if (platform::ConsoleKeyWithin(1000)) {
            platform::StdoutWrite(u"Bye.\n");
            platform::StdoutFlush();
            break;
        }
    }
    server.Stop();
}

}  // namespace kavo

#include "main/status_out.h"

#include "main/process.h"
#include "platform/system.h"

namespace kavo {

void StatusOutText(std::u16string_view text) {
    constexpr size_t kMaxUnits = 8191;
    if (text.size() > kMaxUnits) {
        text = text.substr(0, kMaxUnits);
    }
    const intptr_t pipe = Process().build_output_pipe.load();
    if (pipe != -1) {
        platform::WritePipeMessage(pipe, text);
        return;
    }
    platform::StdoutWrite(text);
    platform::StdoutWrite(u"\n");
    platform::StdoutFlush();
}

void BuildLogText(std::u16string_view text) {
    Process().build_log.WriteLine(text);
}

}  // namespace kavo

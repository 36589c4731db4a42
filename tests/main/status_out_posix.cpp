#include <unistd.h>

#include <gtest/gtest.h>

#include "main/process.h"
#include "main/status_out.h"

namespace kavo {
namespace {

TEST(StatusOut, PipeModeSendsZeroEndedMessagesCutTo8191Units) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    Process().build_output_pipe.store(fds[1]);
    StatusOut(u"Building %c:", u'C');
    StatusOutText(std::u16string(9000, u'x'));
    Process().build_output_pipe.store(-1);
    ::close(fds[1]);

    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) {
        got.append(buf, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    EXPECT_EQ(got, std::string("Building C:\0", 12) + std::string(8191, 'x') + '\0');
}

}  // namespace
}  // namespace kavo

// Links and mount folders, made with the host's own calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include "base/text.h"
#include "platform/file.h"
#include "platform/native_path_posix.h"
#include "scan/walker.h"
#include "tests/scan/recording_listener.h"
#include "tests/support/test_support.h"

namespace kavo::scan {
namespace {

TEST(WalkerLinks, FolderLinksAreRecordedButNotFollowed) {
    test::TempFolder tmp;
    const std::u16string& r = tmp.Path();
    ASSERT_TRUE(platform::MakeDirectory(r + u"real"));
    const char data = 'x';
    ASSERT_TRUE(platform::WriteWholeFile(r + u"real\\inside", &data, 1));
    // A loop back to the root and a second way into "real".
    ASSERT_EQ(
        ::symlink(platform::NativePath(r).c_str(), platform::NativePath(r + u"real\\loop").c_str()),
        0);
    ASSERT_EQ(::symlink("real", platform::NativePath(r + u"again").c_str()), 0);

    test::RecordingListener l;
    WalkOptions o;
    o.root = r;
    o.log = false;
    const WalkStats stats = WalkVolume(u'Q', l, o);
    EXPECT_EQ(stats.folders, 3u);  // real, again, loop
    EXPECT_EQ(stats.files, 1u);    // inside, once
    ASSERT_NE(l.Find(u"again"), nullptr);
    EXPECT_TRUE(l.Find(u"again")->is_folder);
    ASSERT_NE(l.Find(u"loop"), nullptr);
    EXPECT_EQ(l.Find(u"loop")->parent_key, l.Find(u"real")->key);
}

}  // namespace
}  // namespace kavo::scan

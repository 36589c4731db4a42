// A helper for the end-to-end tests, not a test: holds the build lock of the database folder
// named by KAVO_HOLD_LOCK_DBDIR, reports that by creating the file KAVO_HOLD_LOCK_HELD, and
// keeps the lock until that file is deleted (at most two minutes). Run with
// --gtest_also_run_disabled_tests --gtest_filter=BuildLockHelper.*.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/text.h"
#include "build/build_platform.h"
#include "platform/file.h"
#include "platform/system.h"

namespace kavo::build {
namespace {

TEST(BuildLockHelper, DISABLED_HoldUntilTheMarkerIsDeleted) {
    const std::optional<std::u16string> dbdir = platform::GetEnv(u"KAVO_HOLD_LOCK_DBDIR");
    const std::optional<std::u16string> held = platform::GetEnv(u"KAVO_HOLD_LOCK_HELD");
    ASSERT_TRUE(dbdir && held);
    BuildLock lock;
    ASSERT_TRUE(lock.Acquire(BuildLockName(*dbdir)));
    ASSERT_TRUE(platform::WriteWholeFile(*held, "held", 4));
    for (int i = 0; i < 1200 && platform::FileExists(*held); ++i) {
        ::Sleep(100);
    }
}

}  // namespace
}  // namespace kavo::build

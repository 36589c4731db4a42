// The build's crash filter called with pointers made here, as the system would call it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "main/process.h"
#include "platform/file.h"
#include "tests/support/test_support.h"

namespace kavo::build {
LONG WINAPI BuildCrashFilter(EXCEPTION_POINTERS* pointers);
namespace {

LONG CallFilter() {
    EXCEPTION_RECORD record{};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    CONTEXT context{};
    ::RtlCaptureContext(&context);
    EXCEPTION_POINTERS pointers{&record, &context};
    return BuildCrashFilter(&pointers);
}

TEST(BuildCrashFilterTest, SmallDumpThenFullDumpWithTheReportInTheBuildLog) {
    test::TempFolder tmp;
    ProcessState& p = Process();
    p.database_folder = tmp.Path();
    ASSERT_TRUE(p.build_log.Open(tmp.File(u"kavo.build.log"), false));
    p.build_log.WriteLine(u"command line");

    EXPECT_EQ(CallFilter(), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_TRUE(platform::FileExists(tmp.File(u"kavo.build.mini.dmp")));
    EXPECT_FALSE(platform::FileExists(tmp.File(u"kavo.build.max.dmp")));
    ASSERT_TRUE(platform::WriteWholeFile(tmp.File(u"_MAX_DMP"), "", 0));
    EXPECT_EQ(CallFilter(), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_TRUE(platform::FileExists(tmp.File(u"kavo.build.max.dmp")));
    p.build_log.Close();

    const auto bytes = platform::ReadWholeFile(tmp.File(u"kavo.build.log"));
    ASSERT_TRUE(bytes);
    std::string log;
    for (uint8_t b : *bytes) {
        if (b != '\r') {  // a text-mode file
            log.push_back(static_cast<char>(b));
        }
    }
    EXPECT_EQ(log.rfind("command line\n--------------- build crashed ---------------\n"
                        "-- kavo info --\nKavo version: 4.4.0, 32 bit\n",
                        0),
              0u)
        << log;
    for (const char* line : {"Portable: N\n", "-- drive info --\n", "-- os info --\n",
                             "Architecture: ", "-- processor info --\n",
                             "Core Count: ", "-- memory info --\n", "Private Working Set Size: "}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    // Two reports, one per crash.
    EXPECT_NE(log.find("build crashed"), log.rfind("build crashed"));
    // The drive holding the temporary folder is listed with its file system.
    EXPECT_NE(log.find(std::string(1, static_cast<char>(tmp.Path()[0])) + ": type: "),
              std::string::npos);
}

}  // namespace
}  // namespace kavo::build

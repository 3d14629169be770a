#include "client/service_start.h"

#include <gtest/gtest.h>

#include <climits>

#include "support/platform.h"

namespace tarnwick {

namespace {

TEST(PidTextTest, ReadsLikeFormattedStreamInput) {
  EXPECT_EQ(parse_pid_text("4711"), 4711);
  EXPECT_EQ(parse_pid_text("  4711"), 4711);
  EXPECT_EQ(parse_pid_text("\r\n\t4711\n"), 4711);
  EXPECT_EQ(parse_pid_text("+12"), 12);
  EXPECT_EQ(parse_pid_text("-5"), -5);
  EXPECT_EQ(parse_pid_text("12abc"), 12);
  EXPECT_EQ(parse_pid_text(" 7 8"), 7);
  EXPECT_EQ(parse_pid_text(""), std::nullopt);
  EXPECT_EQ(parse_pid_text("   "), std::nullopt);
  EXPECT_EQ(parse_pid_text("abc"), std::nullopt);
  EXPECT_EQ(parse_pid_text("+"), std::nullopt);
  EXPECT_EQ(parse_pid_text("- 5"), std::nullopt);
  EXPECT_EQ(parse_pid_text("99999999999"), std::nullopt);
  // The edges of int, as a stream reads them.
  EXPECT_EQ(parse_pid_text("2147483647"), 2147483647);
  EXPECT_EQ(parse_pid_text("2147483648"), std::nullopt);
  EXPECT_EQ(parse_pid_text("-2147483648"), INT_MIN);
  EXPECT_EQ(parse_pid_text("-2147483649"), std::nullopt);
  EXPECT_EQ(parse_pid_text("\v\f12"), 12);
  EXPECT_EQ(parse_pid_text("0012"), 12);
}

TEST(ServiceImagePathTest, MatchesRegardlessOfLetterCaseOnly) {
  EXPECT_TRUE(platform::paths_equal_ignoring_case("C:\\PROD\\BIN\\HOLLIN_SERVICE.EXE",
                                                  "C:\\Prod\\bin\\hollin_service.exe"));
  EXPECT_FALSE(platform::paths_equal_ignoring_case("C:\\Other\\bin\\hollin_service.exe",
                                                   "C:\\Prod\\bin\\hollin_service.exe"));
  EXPECT_FALSE(platform::paths_equal_ignoring_case("C:\\PROGRA~1\\bin\\hollin_service.exe",
                                                   "C:\\Program Files\\bin\\hollin_service.exe"));
  EXPECT_FALSE(platform::paths_equal_ignoring_case("", "C:\\Prod\\bin\\hollin_service.exe"));
}

TEST(ServiceSpecTest, WindowsCommandLineKeepsPathsWhole) {
  const platform::ProcessSpec invocation =
      windows_service_spec("C:\\Prod Dir\\bin\\hollin_service.exe", "C:\\Prod Dir\\Brightdesk");
  EXPECT_EQ(invocation.command_line,
            "\"C:\\Prod Dir\\bin\\hollin_service.exe\" \"C:\\Prod Dir\\Brightdesk\"");
  EXPECT_TRUE(invocation.hidden);
  EXPECT_TRUE(invocation.program.empty());
  EXPECT_TRUE(invocation.args.empty());
  EXPECT_TRUE(invocation.working_dir.empty());
}

TEST(ServiceSpecTest, PosixStartsInANewSessionWithoutStreams) {
  const platform::ProcessSpec invocation =
      posix_service_spec("/opt/my prod/bin/hollin_service", "/opt/my prod/Brightdesk");
  EXPECT_EQ(invocation.program, "/opt/my prod/bin/hollin_service");
  EXPECT_EQ(invocation.args, std::vector<std::string>{"/opt/my prod/Brightdesk"});
  EXPECT_TRUE(invocation.new_session);
  EXPECT_TRUE(invocation.null_stdio);
  EXPECT_TRUE(invocation.command_line.empty());
  EXPECT_TRUE(invocation.working_dir.empty());
}

}  // namespace

}  // namespace tarnwick

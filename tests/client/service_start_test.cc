#include "client/service_start.h"

#include <gtest/gtest.h>

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
}

TEST(ServiceSpecTest, WindowsCommandLineKeepsPathsWhole) {
  const platform::ProcessSpec spec =
      windows_service_spec("C:\\Prod Dir\\bin\\hollin_service.exe", "C:\\Prod Dir\\Brightdesk");
  EXPECT_EQ(spec.command_line,
            "\"C:\\Prod Dir\\bin\\hollin_service.exe\" \"C:\\Prod Dir\\Brightdesk\"");
  EXPECT_TRUE(spec.hidden);
  EXPECT_TRUE(spec.program.empty());
  EXPECT_TRUE(spec.args.empty());
  EXPECT_TRUE(spec.working_dir.empty());
}

TEST(ServiceSpecTest, PosixStartsInANewSessionWithoutStreams) {
  const platform::ProcessSpec spec =
      posix_service_spec("/opt/my prod/bin/hollin_service", "/opt/my prod/Brightdesk");
  EXPECT_EQ(spec.program, "/opt/my prod/bin/hollin_service");
  EXPECT_EQ(spec.args, std::vector<std::string>{"/opt/my prod/Brightdesk"});
  EXPECT_TRUE(spec.new_session);
  EXPECT_TRUE(spec.null_stdio);
  EXPECT_TRUE(spec.command_line.empty());
  EXPECT_TRUE(spec.working_dir.empty());
}

}  // namespace

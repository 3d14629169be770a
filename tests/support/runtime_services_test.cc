// The runtime services, the installation layout, the pipe-name rule and Windows command-line
// quoting.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/command_line.h"
#include "support/layout.h"
#include "support/pipe_names.h"
#include "support/runtime_services.h"
#include "tests/testlib/testlib.h"

namespace support {

namespace {

TEST(RuntimeServices, ProductDirIsTwoLevelsAboveTheExecutable) {
  char buffer[1024];
  const std::filesystem::path exe(platform::executable_path());
  EXPECT_EQ(std::string(product_dir(buffer, 0)), exe.parent_path().parent_path().string());
  EXPECT_NE(std::string(buffer).back(), platform::kPathSeparator);
  EXPECT_EQ(support::installation_dir(), buffer);
}

TEST(Layout, ProgramsLiveInTheBinDirectoryAndTheClientInItsOwn) {
  const char sep = platform::kPathSeparator;
  EXPECT_EQ(support::program_path_in("P", support::kClientProgram),
            std::string("P") + sep + "bin" + sep + "tarnwick" + platform::kExeSuffix);
  EXPECT_EQ(support::gui_dir_in("P"), std::string("P") + sep + "Brightdesk");
  EXPECT_EQ(support::program_path(support::kServiceProgram),
            support::program_path_in(support::installation_dir(), "hollin_service"));
}

TEST(RuntimeServices, DriveIsTheLetterAndColonOrNothing) {
  EXPECT_STREQ(get_drive("C:\\w"), "C:");
  EXPECT_STREQ(get_drive("D:"), "D:");
  EXPECT_STREQ(get_drive("\\\\server\\share"), "");
  EXPECT_STREQ(get_drive("/home/user"), "");
  EXPECT_STREQ(get_drive(""), "");
}

TEST(RuntimeServices, LoginNameIsStableAndNotEmpty) {
  const std::string first = my_login_name();
  EXPECT_FALSE(first.empty());
  EXPECT_EQ(first, std::string(my_login_name()));
}

TEST(RuntimeServices, CatalogueEntriesPrintOnStandardError) {
  static const char* const texts[] = {"Usage: x\n    [ -y ]", "Something failed"};
  static const std::uint16_t numbers[] = {1, 2};
  const MessageCatalogue catalogue{"x_bin", "x", 63, 2, texts, numbers};
  msg_set_app_name("tarnwick");
  testing::internal::CaptureStderr();
  EXPECT_EQ(msg_print(6, &catalogue, 1), 0);
  EXPECT_EQ(msg_print(6, &catalogue, 0), 0);
  EXPECT_EQ(msg_print(6, &catalogue, 2), -1);
  EXPECT_EQ(msg_print(5, &catalogue, 0), -1);
  EXPECT_EQ(testlib::strip_cr(testing::internal::GetCapturedStderr()),
            "tarnwick: Something failed\nUsage: x\n    [ -y ]\n");
}

TEST(PipeNames, FollowTheBaseRandomPartLoginRule) {
  EXPECT_EQ(pipe_base_name_for(true, "ignored") + kRequestPipePart + "user1",
            "\\\\.\\pipe\\orvane\\tessel\\vantor71\\hollin_service_pipe_requestuser1");
  EXPECT_EQ(pipe_base_name_for(false, "/tmp/user1.tarnwick"),
            "/tmp/user1.tarnwick/hollin_service_pipe");
  EXPECT_EQ(random_pipe_name("48213907", "user1"), pipe_base_name() + "48213907user1");
  EXPECT_EQ(request_pipe_name("user1"), pipe_base_name() + "_requestuser1");
}

TEST(CommandLine, QuotesOnlyWhereTheRuntimeParserNeedsIt) {
  EXPECT_EQ(quote_windows_argument("plain"), "plain");
  EXPECT_EQ(quote_windows_argument(""), "\"\"");
  EXPECT_EQ(quote_windows_argument("a b"), "\"a b\"");
  EXPECT_EQ(quote_windows_argument("a\"b"), "\"a\\\"b\"");
  EXPECT_EQ(quote_windows_argument("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(quote_windows_argument("C:\\my dir\\"), "\"C:\\my dir\\\\\"");
  EXPECT_EQ(quote_windows_argument("a\\\\\"b"), "\"a\\\\\\\\\\\"b\"");
  EXPECT_EQ(quote_windows_argument("a\" & del x & \""), "\"a\\\" & del x & \\\"\"");
  EXPECT_EQ(windows_command_line("C:\\P\\bin\\tarnwick.exe", {"a.txt", "", "-encoding", "utf-8"}),
            "\"C:\\P\\bin\\tarnwick.exe\" a.txt \"\" -encoding utf-8");
}

}  // namespace

}  // namespace support

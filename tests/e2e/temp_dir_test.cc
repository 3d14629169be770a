// End to end under unusual temporary directories (POSIX): long ones, whose
// socket paths no socket address could hold, a relative one, and one whose
// name holds a line feed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tests/e2e/fixture.h"

namespace {

namespace fs = std::filesystem;
using e2e::Sandbox;
using testing::StartsWith;

std::string logs_of(const std::string& work) {
  return "client log: " + testlib::read_file(work + "/tarnwick.log") +
         "\nservice log: " + testlib::read_file(work + "/hollin_service.log");
}

// Runs a compare and a merge with the temporary directory `tmp` (as the
// programs will see it) and checks what reached the graphical client.
void compare_and_merge(Sandbox& box, const std::string& tmp, const std::string& absolute_tmp) {
  testlib::ScopedTempDirEnv env(tmp);
  const std::string work = absolute_tmp + "/" + platform::login_name() + ".tarnwick";
  const std::string a = box.contributor("a.txt");
  const std::string b = box.contributor("b.txt");
  const testlib::RunResult compare = box.tarnwick({a, b});
  EXPECT_EQ(compare.status, 0) << logs_of(work);
  const std::string out = box.file("merged.txt");
  const testlib::RunResult merge = box.tarnwick({"-out", out, "-base", a, b, a});
  EXPECT_EQ(merge.status, 0) << logs_of(work);

  const std::vector<std::string> requests = box.recorded("request-");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], e2e::framed(e2e::expected_call(false, "", {a, b}, {a, b}, "")));
  EXPECT_EQ(requests[1], e2e::framed(e2e::expected_call(true, out, {a, b, a}, {a, b, a}, "")));
  // The graphical client was told the full names, in the work directory.
  for (const std::string& notice : box.recorded("notice-")) {
    EXPECT_THAT(notice, StartsWith(work + "/hollin_service_pipe"));
  }
  EXPECT_EQ(
      fs::symlink_status(work + "/hollin_service_pipe_request" + platform::login_name()).type(),
      fs::file_type::socket);
  EXPECT_EQ(testlib::read_file(work + "/tarnwick.log"), "");
}

class LongTempDir : public testing::TestWithParam<std::size_t> {};

// The socket paths below such a directory exceed what a socket address
// holds (107 bytes) from about 60 characters on.
TEST_P(LongTempDir, CompareAndMergeAreServed) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "socket paths are a POSIX matter";
  Sandbox box;
  std::string tmp = box.dir();
  while (tmp.size() < GetParam()) {
    const std::size_t left = GetParam() - tmp.size() - 1;
    tmp += "/" + std::string(left > 200 ? 200 : (left == 0 ? 1 : left), 't');
  }
  std::error_code ec;
  fs::create_directories(tmp, ec);
  ASSERT_FALSE(ec) << ec.message();
  ASSERT_EQ(tmp.size(), GetParam());
  compare_and_merge(box, tmp, tmp);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongTempDir, testing::Values(60u, 100u, 200u),
                         [](const testing::TestParamInfo<std::size_t>& param) {
                           return "Chars" + std::to_string(param.param);
                         });

// The service starts the graphical client in another directory: the names it
// hands over must not depend on the current directory.
TEST(RelativeTempDir, CompareAndMergeAreServed) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "TMPDIR is a POSIX matter";
  Sandbox box;
  std::error_code ec;
  fs::create_directory(box.file("rel"), ec);
  ASSERT_FALSE(ec) << ec.message();
  // The programs run in the sandbox directory and resolve it from there.
  compare_and_merge(box, "rel", box.dir_as_cwd() + "/rel");
}

}  // namespace

// A line feed in the temporary directory would split the pipe notice inside
// the names, so the graphical client could never open a request's pipes:
// the client refuses at once, with the reason in its log, and starts no
// service.
TEST(LineFeedTempDir, TheClientRefusesAtOnceAndStartsNoService) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "a Windows path cannot hold a line feed";
  Sandbox box;
  const std::string tmp = box.dir() + "/line\nfeed";
  std::error_code ec;
  fs::create_directory(tmp, ec);
  ASSERT_FALSE(ec) << ec.message();
  testlib::ScopedTempDirEnv env(tmp);
  const std::string work = tmp + "/" + platform::login_name() + ".tarnwick";
  platform::Process client =
      box.start_tarnwick({box.contributor("a.txt"), box.contributor("b.txt")}, "line-feed");
  EXPECT_EQ(Sandbox::wait(client, "the client"), testlib::minus_one_status()) << logs_of(work);
  EXPECT_THAT(testlib::read_file(work + "/tarnwick.log"),
              testing::HasSubstr("holds a line feed, which would split the pipe notice"));
  EXPECT_FALSE(testlib::file_exists(work + "/hollin_service.pid"));
  EXPECT_TRUE(box.recorded("notice-").empty());
}

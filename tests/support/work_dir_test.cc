// The per-user work directory, the log and the error prompt.
#include "support/work_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/runtime_services.h"
#include "tests/testlib/testlib.h"

namespace support {

namespace {

namespace fs = std::filesystem;
using testlib::join;
using testlib::read_file;

std::string expected_work_dir(const std::string& tmp) {
  return join(tmp, std::string(my_login_name()) + ".tarnwick");
}

std::string line_end() { return platform::kWindows ? "\r\n" : "\n"; }

TEST(WorkDir, IsCreatedBelowTheTemporaryDirectoryAndReusedOnTheSecondCall) {
  testlib::TempDir tmp;
  testlib::ScopedTempDirEnv env(tmp.path());
  ASSERT_TRUE(init_work_dir());
  EXPECT_EQ(work_dir(), expected_work_dir(tmp.path()));
  EXPECT_TRUE(fs::is_directory(work_dir()));
  ASSERT_TRUE(init_work_dir());
  EXPECT_EQ(work_dir(), expected_work_dir(tmp.path()));
}

TEST(WorkDir, IsPrivateEvenUnderAPermissiveUmask) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "file modes are a POSIX matter";
  testlib::TempDir tmp;
  testlib::ScopedTempDirEnv env(tmp.path());
  ASSERT_TRUE(init_work_dir());
  const auto perms = fs::status(work_dir()).permissions();
  EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_all);
}

TEST(WorkDir, APlainFileOfTheSameNameIsAcceptedOnWindowsOnly) {
  testlib::TempDir tmp;
  testlib::ScopedTempDirEnv env(tmp.path());
  ASSERT_TRUE(testlib::write_file(expected_work_dir(tmp.path()), "not a directory"));
  if constexpr (!platform::kWindows) {
    // It could hold neither the sockets nor the logs.
    EXPECT_FALSE(init_work_dir());
    return;
  }
  ASSERT_TRUE(init_work_dir());
  init_log("tarnwick.log");
  testing::internal::CaptureStdout();
  log_line("abc");
  EXPECT_EQ(testlib::strip_cr(testing::internal::GetCapturedStdout()), "abc\n");
}

TEST(WorkDir, ADirectoryOpenToOthersOrALinkIsRefused) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "file modes are a POSIX matter";
  {
    testlib::TempDir tmp;
    testlib::ScopedTempDirEnv env(tmp.path());
    fs::create_directory(expected_work_dir(tmp.path()));
    fs::permissions(expected_work_dir(tmp.path()),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec);
    EXPECT_FALSE(init_work_dir());
  }
  {
    testlib::TempDir tmp;
    testlib::TempDir elsewhere;
    testlib::ScopedTempDirEnv env(tmp.path());
    fs::create_directory_symlink(elsewhere.path(), expected_work_dir(tmp.path()));
    EXPECT_FALSE(init_work_dir());
  }
}

TEST(WorkDir, ADirectoryOwnedByAnotherUserIsRefused) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "ownership is checked on POSIX only";
  if (std::string(my_login_name()) != "root") GTEST_SKIP() << "needs root to chown a directory";
  testlib::TempDir tmp;
  testlib::ScopedTempDirEnv env(tmp.path());
  const std::string dir = expected_work_dir(tmp.path());
  fs::create_directory(dir);
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
  ASSERT_EQ(testlib::run("/bin/chown", {"65534", dir}).status, 0);
  EXPECT_FALSE(init_work_dir());
}

TEST(WorkDir, AFailureKeepsItsCauseAndASuccessClearsIt) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "both refusals are POSIX ones";
  {
    // A directory open to others is refused for its permissions.
    testlib::TempDir tmp;
    testlib::ScopedTempDirEnv env(tmp.path());
    fs::create_directory(expected_work_dir(tmp.path()));
    fs::permissions(expected_work_dir(tmp.path()), fs::perms::all, fs::perm_options::replace);
    Status cause;
    EXPECT_FALSE(init_work_dir(&cause));
    EXPECT_FALSE(cause.ok());
    EXPECT_EQ(cause.code(), EACCES);
    EXPECT_STREQ(cause.call(), "compat_mkdir");
  }
  {
    // A temporary directory too long for the path buffer reads as none.
    const std::string too_long = "/" + std::string(5000, 'd');
    testlib::ScopedTempDirEnv env(too_long);
    Status cause;
    EXPECT_FALSE(init_work_dir(&cause));
    EXPECT_EQ(cause.code(), ENOENT);
    EXPECT_STREQ(cause.call(), "get_tmpdir");
  }
  {
    testlib::TempDir tmp;
    testlib::ScopedTempDirEnv env(tmp.path());
    Status cause = Status::posix("earlier", EIO);
    EXPECT_TRUE(init_work_dir(&cause));
    EXPECT_TRUE(cause.ok()) << cause.text();
  }
}

TEST(Log, IsEmptiedAtInitAndTakesOneLinePerMessage) {
  testlib::TempDir tmp;
  testlib::ScopedTempDirEnv env(tmp.path());
  ASSERT_TRUE(init_work_dir());
  const std::string log = join(work_dir(), "hollin_service.log");
  ASSERT_TRUE(testlib::write_file(log, "left over from an earlier run\n"));
  init_log("hollin_service.log");
  EXPECT_EQ(read_file(log), "");
  log_line("abc");
  log_line("Error in creating HOLLIN pipes\n");
  log_line("two\nlines");
  // Every line feed is stored as a text-mode stream stores it (CR LF on
  // Windows), those inside a message too.
  EXPECT_EQ(read_file(log), "abc" + line_end() + "Error in creating HOLLIN pipes" + line_end() +
                                line_end() + "two" + line_end() + "lines" + line_end());
  init_log("hollin_service.log");
  EXPECT_EQ(read_file(log), "");
}

TEST(Log, LinesOfConcurrentThreadsNeverInterleave) {
  testlib::TempDir tmp;
  testlib::ScopedTempDirEnv env(tmp.path());
  ASSERT_TRUE(init_work_dir());
  init_log("tarnwick.log");
  constexpr int kThreads = 8;
  constexpr int kLines = 100;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string message(200, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) log_line(message);
    });
  }
  for (auto& thread : threads) thread.join();
  const std::string text = testlib::strip_cr(read_file(join(work_dir(), "tarnwick.log")));
  std::size_t count = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    ASSERT_EQ(line, std::string(200, line[0]));
    ++count;
    start = end + 1;
  }
  EXPECT_EQ(count, static_cast<std::size_t>(kThreads * kLines));
}

TEST(ErrorPrompt, CommandLineQuotesToolAndMessageForTheInterpreter) {
  EXPECT_EQ(
      prompt_command_line("P\\bin\\fernask.exe", "M"),
      "\"\"P\\bin\\fernask.exe\" proceed -mask p -type \"error\" -prompt \"M\" -prefer_gui\"");
  const std::string line =
      prompt_command_line("P\\bin\\fernask.exe", "\" Could not set the temporary directory \"");
  EXPECT_NE(line.find("-prompt \"\" Could not set the temporary directory \"\" -prefer_gui"),
            std::string::npos);
}

TEST(ErrorPrompt, ArgumentsCarryTheMessageWhole) {
  const std::vector<std::string> expected = {
      "proceed", "-mask", "p", "-type", "error", "-prompt", "a \"b\" $(c)", "-prefer_gui"};
  EXPECT_EQ(prompt_arguments("a \"b\" $(c)"), expected);
}

TEST(ErrorPrompt, PromptToolLivesInTheInstallationBinDirectory) {
  char buffer[1024];
  const std::string dir = product_dir(buffer, 0);
  EXPECT_EQ(prompt_tool_path(),
            join(join(dir, "bin"), std::string("fernask") + platform::kExeSuffix));
}

}  // namespace

}  // namespace support

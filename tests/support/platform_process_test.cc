// Conformance tests of the platform's processes, threads, files and
// environment: both implementations must pass the portable ones.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/platform.h"
#include "tests/testlib/testlib.h"

namespace support {

namespace {

namespace fs = std::filesystem;
using testlib::RunResult;

// The child program built beside this test program.
std::string argv_echo() {
  return (fs::path(platform::executable_path()).parent_path() /
          (std::string("argv_echo") + platform::kExeSuffix))
      .string();
}

bool same_path(const std::string& a, const std::string& b) {
  if constexpr (platform::kWindows) return platform::paths_equal_ignoring_case(a, b);
  std::error_code ec;
  return fs::equivalent(a, b, ec);
}

// ---------------------------------------------------------------------------
// Processes.

TEST(PlatformProcess, WaitReturnsTheProgramsExitStatus) {
  for (const int status : {0, 3, 255}) {
    EXPECT_EQ(testlib::run(argv_echo(), {"--exit", std::to_string(status)}).status, status);
  }
  EXPECT_EQ(testlib::run(argv_echo(), {"--exit", "-1"}).status, testlib::minus_one_status());
}

TEST(PlatformProcess, OutputGoesToTheNamedFilesAndTheChildRunsInItsWorkingDirectory) {
  testlib::TempDir work;
  testlib::TempDir capture;
  const std::string before = platform::current_dir();
  platform::ProcessSpec invocation;
  invocation.program = argv_echo();
  invocation.args = {"--cwd"};
  invocation.working_dir = work.path();
  invocation.stdout_path = capture.file("out");
  invocation.stderr_path = capture.file("err");
  // Files that already exist are truncated, not appended to.
  ASSERT_TRUE(testlib::write_file(invocation.stdout_path, std::string(5000, 'x')));
  platform::Process process;
  ASSERT_TRUE(platform::start_process(invocation, &process));
  ASSERT_EQ(process.wait(), 0);
  std::string out = testlib::strip_cr(testlib::read_file(invocation.stdout_path));
  ASSERT_FALSE(out.empty());
  ASSERT_EQ(out.back(), '\n');
  out.pop_back();
  EXPECT_TRUE(same_path(out, work.path())) << out;
  EXPECT_EQ(platform::current_dir(), before);

  const RunResult err = testlib::run(argv_echo(), {"--stderr", "to standard error"});
  EXPECT_EQ(err.status, 0);
  EXPECT_EQ(err.err, "to standard error\n");
  EXPECT_EQ(err.out, "");
}

TEST(PlatformProcess, ArgumentsArriveUnchanged) {
  const std::vector<std::string> args = {"plain",         "with blank",    "",
                                         "quote\"inside", "back\\slash\\", "a\" & echo x & \""};
  const RunResult r = testlib::run(argv_echo(), args);
  ASSERT_EQ(r.status, 0);
  std::string expected;
  for (const std::string& arg : args) expected += arg + "\n";
  EXPECT_EQ(r.out, expected);
}

TEST(PlatformProcess, KillEndsTheProcessAndTheImagePathNamesItsProgram) {
  // The child connects to this pipe once it runs: on Windows a process that
  // is just created has no main module to report yet.
  testlib::TempDir dir;
  const std::string ready_name = platform::kWindows ? "\\\\.\\pipe\\tw_process_test_ready" +
                                                          std::to_string(platform::current_pid())
                                                    : dir.file("ready");
  auto ready = platform::create_server_pipe(ready_name, platform::PipeParams{}, nullptr).value();
  ASSERT_TRUE(ready);
  platform::Process process;
  platform::ProcessSpec invocation;
  invocation.program = argv_echo();
  invocation.args = {"--hang", ready_name};
  invocation.null_stdio = true;
  ASSERT_TRUE(platform::start_process(invocation, &process));
  ASSERT_TRUE(process.valid());
  ASSERT_NE(ready->connect(), platform::ConnectResult::failed);
  EXPECT_TRUE(same_path(platform::process_image_path(process.pid()).value(), argv_echo()))
      << platform::process_image_path(process.pid()).status().text();
  EXPECT_TRUE(process.kill());
  const int status = process.wait();
  if constexpr (platform::kWindows) {
    EXPECT_NE(status, 0);
  } else {
    EXPECT_EQ(status, 128 + 9);
  }
  EXPECT_FALSE(platform::process_image_path(process.pid()).ok());

  platform::Process other;
  invocation.args = {"--hang"};
  ASSERT_TRUE(platform::start_process(invocation, &other));
  EXPECT_TRUE(platform::kill_process(other.pid()));
  EXPECT_NE(other.wait(), 0);
}

TEST(PlatformProcess, ExitNowEndsTheProcessFromAnotherThread) {
  platform::Process process;
  platform::ProcessSpec invocation;
  invocation.program = argv_echo();
  invocation.args = {"--exit-now", "7"};
  invocation.null_stdio = true;
  ASSERT_TRUE(platform::start_process(invocation, &process));
  EXPECT_EQ(process.wait(), 7);
  if constexpr (!platform::kWindows) {
    // The socket file of the pipe it listened on went with it.
    EXPECT_FALSE(testlib::file_exists("/tmp/argv_echo_exit_now" + std::to_string(process.pid())));
  }
}

TEST(PlatformProcess, AMissingProgramCannotBeStartedAndTheCauseSaysSo) {
  testlib::TempDir dir;
  platform::ProcessSpec invocation;
  invocation.program = dir.file(std::string("no_such_program") + platform::kExeSuffix);
  platform::Process process;
  const platform::Status started = platform::start_process(invocation, &process);
  EXPECT_FALSE(started.ok());
  EXPECT_FALSE(process.valid());
  // The call that failed and the system's "not found" (errno ENOENT, or
  // Windows' ERROR_FILE_NOT_FOUND, which is 2 as well).
  EXPECT_STREQ(started.call(), platform::kWindows ? "CreateProcessA" : "posix_spawn");
  EXPECT_EQ(started.code(), 2);
  EXPECT_EQ(started.text(), std::string(started.call()) + ": " + started.reason());
  EXPECT_FALSE(started.reason().empty());
}

TEST(PlatformProcessPosix, NewSessionAndNullDevice) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "sessions and /proc are POSIX matters";
  platform::ProcessSpec invocation;
  invocation.program = argv_echo();
  invocation.args = {"--hang"};
  invocation.new_session = true;
  invocation.null_stdio = true;
  platform::Process process;
  ASSERT_TRUE(platform::start_process(invocation, &process));
  const std::string proc = "/proc/" + std::to_string(process.pid());
  // Field 6 of /proc/<pid>/stat is the session id; the command field comes
  // in parentheses before it.
  std::string stat = testlib::read_file(proc + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));
  std::string state, ppid, pgrp, session;
  fields >> state >> ppid >> pgrp >> session;
  EXPECT_EQ(session, std::to_string(process.pid()));
  for (const char* fd : {"/fd/0", "/fd/1", "/fd/2"}) {
    EXPECT_EQ(fs::read_symlink(proc + fd).string(), "/dev/null") << fd;
  }
  // Ended by force and reaped; neither outcome matters here.
  static_cast<void>(process.kill());
  static_cast<void>(process.wait());
}

// ---------------------------------------------------------------------------
// Threads, directories, environment.

TEST(PlatformMisc, DetachedThreadRunsItsBodyWithItsArgument) {
  std::promise<int> ran;
  auto body = [](void* arg) { static_cast<std::promise<int>*>(arg)->set_value(42); };
  ASSERT_TRUE(platform::start_detached_thread(body, &ran));
  EXPECT_EQ(ran.get_future().get(), 42);
}

// What an owning thread is handed: it reports what it holds, then frees it.
struct Handoff {
  std::promise<int> seen;
  int value = 7;
};

void take_handoff(std::unique_ptr<Handoff> handoff) { handoff->seen.set_value(handoff->value); }

TEST(PlatformMisc, OwningThreadTakesTheObjectOverOnlyOnceStarted) {
  auto owned = std::make_unique<Handoff>();
  std::future<int> seen = owned->seen.get_future();
  ASSERT_TRUE(platform::start_owning_thread<&take_handoff>(owned));
  EXPECT_EQ(owned, nullptr) << "the caller let go";
  EXPECT_EQ(seen.get(), 7) << "the thread got the object";
}

TEST(PlatformMisc, CurrentDirectoryAndEnvironment) {
  testlib::TempDir dir;
  const std::string before = platform::current_dir();
  ASSERT_FALSE(before.empty());
  ASSERT_TRUE(platform::set_current_dir(dir.path()));
  EXPECT_TRUE(same_path(platform::current_dir(), dir.path()));
  ASSERT_TRUE(platform::set_current_dir(before));
  EXPECT_FALSE(platform::set_current_dir(dir.file("missing")));
  EXPECT_EQ(platform::current_dir(), before);

  const std::string name = "TW_PLATFORM_TEST_VARIABLE";
  ASSERT_TRUE(platform::set_env(name, "value 1"));
  EXPECT_EQ(platform::get_env(name), "value 1");
  EXPECT_EQ(testlib::run(argv_echo(), {"--env", name}).out, "set:value 1\n");
  ASSERT_TRUE(platform::set_env(name, ""));  // empty means unset
  EXPECT_EQ(platform::get_env(name), "");
  EXPECT_EQ(testlib::run(argv_echo(), {"--env", name}).out, "unset\n");
}

TEST(PlatformMisc, TemporaryDirectory) {
  if constexpr (platform::kWindows) {
    const std::string tmp = platform::temp_dir();
    ASSERT_FALSE(tmp.empty());
    EXPECT_NE(tmp.back(), '\\');
  } else {
    {
      testlib::ScopedEnv env("TMPDIR", "/var/somewhere");
      EXPECT_EQ(platform::temp_dir(), "/var/somewhere");
    }
    testlib::ScopedEnv env("TMPDIR", "");
    EXPECT_EQ(platform::temp_dir(), "/tmp");
  }
}

TEST(PlatformMisc, IdentityEntropyAndPathComparison) {
  EXPECT_FALSE(platform::login_name().empty());
  EXPECT_TRUE(testlib::file_exists(platform::executable_path()));
  unsigned char a[32] = {};
  unsigned char b[32] = {};
  ASSERT_TRUE(platform::random_bytes(a, sizeof(a)));
  ASSERT_TRUE(platform::random_bytes(b, sizeof(b)));
  EXPECT_NE(std::string(a, a + sizeof(a)), std::string(b, b + sizeof(b)));
  EXPECT_TRUE(platform::paths_equal_ignoring_case("/A/Bin/Hollin", "/a/bIN/hollin"));
  EXPECT_FALSE(platform::paths_equal_ignoring_case("/a/bin/hollin", "/a/bin/hollin2"));
}

// ---------------------------------------------------------------------------
// Private directories and the pid file.

TEST(PlatformFiles, MakePrivateDirAcceptsOnlyTheUsersOwnEntry) {
  testlib::TempDir dir;
  const std::string fresh = dir.file("fresh");
  ASSERT_EQ(platform::make_private_dir(fresh).code(), 0);
  EXPECT_EQ(platform::make_private_dir(fresh).code(), EEXIST);
  ASSERT_TRUE(testlib::write_file(dir.file("plain"), "x"));
  // Windows takes any existing entry; POSIX only a private directory.
  EXPECT_EQ(platform::make_private_dir(dir.file("plain")).code(),
            platform::kWindows ? EEXIST : EACCES);
  EXPECT_EQ(platform::make_private_dir(dir.file("missing") + platform::kPathSeparator + "x").code(),
            ENOENT);
  if constexpr (platform::kWindows) return;

  EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::mask, fs::perms::owner_all);
  const std::string open = dir.file("open");
  fs::create_directory(open);
  fs::permissions(open, fs::perms::owner_all | fs::perms::group_exec);
  EXPECT_EQ(platform::make_private_dir(open).code(), EACCES);
  const std::string link = dir.file("link");
  fs::create_directory_symlink(fresh, link);  // a link even to a private directory
  EXPECT_EQ(platform::make_private_dir(link).code(), EACCES);
  if (!testlib::running_as_root()) GTEST_SKIP() << "needs root to give a directory to another user";
  const std::string theirs = dir.file("theirs");
  ASSERT_EQ(platform::make_private_dir(theirs).code(), 0);
  ASSERT_EQ(testlib::run("/bin/chown", {"65534", theirs}).status, 0);
  EXPECT_EQ(platform::make_private_dir(theirs).code(), EACCES);
}

TEST(PlatformFiles, PidFileHoldsTheDigitsAndItsLock) {
  testlib::TempDir dir;
  const std::string path = dir.file("service.pid");
  ASSERT_TRUE(testlib::write_file(path, "123456789"));
  ASSERT_TRUE(platform::write_pid_file(path, 4312));
  EXPECT_EQ(testlib::read_file(path), "4312");
  // A second locker (even in this process) is refused and leaves the file as
  // it was; the code says that the lock is held, so that the service can log
  // that reason rather than a failed write.
  const platform::Status refused = platform::write_pid_file(path, 99);
  EXPECT_FALSE(refused.ok());
  EXPECT_TRUE(refused.code() == EWOULDBLOCK || refused.code() == EAGAIN) << refused.text();
  EXPECT_EQ(testlib::read_file(path), "4312");
  if constexpr (platform::kWindows) return;
  if (!testlib::file_exists("/usr/bin/flock")) GTEST_SKIP() << "needs /usr/bin/flock";
  const std::string unlocked = dir.file("unlocked");
  ASSERT_TRUE(testlib::write_file(unlocked, ""));
  EXPECT_EQ(testlib::run("/usr/bin/flock", {"-n", unlocked, "true"}).status, 0);
  EXPECT_EQ(testlib::run("/usr/bin/flock", {"-n", path, "true"}).status, 1);
}

}  // namespace

}  // namespace support

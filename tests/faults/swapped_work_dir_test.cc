// POSIX, as root: another user who can write the temporary directory swaps
// a running service's work directory for one of their own, full of links to
// the victim's files. The victim (an unprivileged user too, since root passes
// every permission check) keeps working in the directory that was checked,
// and none of the victim's files is touched through a link.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tests/faults/hand_gui.h"

namespace {

namespace fs = std::filesystem;
using e2e::Sandbox;
using testing::HasSubstr;
using testlib::running_as_root;
using testlib::TestUser;

TEST(SwappedWorkDir, TheVictimsFilesStayUntouched) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "POSIX users and directories";
  if (!running_as_root()) GTEST_SKIP() << "needs root to make a victim and an attacker user";
  const std::string tag = std::to_string(platform::current_pid());
  TestUser victim("twv" + tag);
  TestUser attacker("twa" + tag);
  if (!victim.made() || !attacker.made()) GTEST_SKIP() << "useradd failed";

  Sandbox box;
  std::error_code ec;
  fs::permissions(box.record_dir(), fs::perms::all, fs::perm_options::replace, ec);
  // A temporary directory that everyone can write, without the sticky bit.
  const std::string shared = box.file("shared");
  fs::create_directory(shared, ec);
  fs::permissions(shared, fs::perms::all, fs::perm_options::replace, ec);
  ASSERT_FALSE(ec) << ec.message();
  const std::string secret = box.file("secret.txt");
  ASSERT_TRUE(testlib::write_file(secret, "the victim's own\n"));
  fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace,
                  ec);
  ASSERT_EQ(testlib::run("/bin/chown", {victim.name(), secret}).status, 0);
  const std::string a = box.contributor("a.txt");
  const std::string b = box.contributor("b.txt");
  testlib::ScopedTempDirEnv env(shared);

  // The victim's client starts the victim's service and graphical client.
  const std::string tarnwick = testlib::bin_program("tarnwick");
  const testlib::RunResult first = victim.run(tarnwick, {a, b}, box.dir());
  const std::string work = shared + "/" + victim.name() + ".tarnwick";
  ASSERT_EQ(first.status, 0) << testlib::read_file(work + "/tarnwick.log")
                             << testlib::read_file(work + "/hollin_service.log");
  const std::string moved = shared + "/moved";
  const std::uint32_t service = static_cast<std::uint32_t>(
      std::stoul("0" + testlib::read_file(work + "/hollin_service.pid")));
  ASSERT_TRUE(Sandbox::is_service(service));
  const std::vector<std::uint32_t> guis = box.marlow_pids();
  ASSERT_EQ(guis.size(), 1u);

  // The attacker moves the work directory aside and plants their own.
  const std::string swap = "mv '" + work + "' '" + moved + "' && mkdir '" + work +
                           "' && chmod 777 '" + work +
                           "' && for f in hollin_service.log "
                           "tarnwick.log hollin_service.pid; do ln -s '" +
                           secret + "' '" + work + "'/$f; done";
  const testlib::RunResult swapped = attacker.run("/bin/sh", {"-c", swap});
  ASSERT_EQ(swapped.status, 0) << swapped.err;

  // The victim's service logs when its graphical client goes, and ends.
  ASSERT_TRUE(platform::kill_process(guis[0]));
  ASSERT_TRUE(faults::settle([&] { return !Sandbox::is_service(service); }));
  // A new client of the victim refuses the planted directory.
  const testlib::RunResult second = victim.run(tarnwick, {a, b}, box.dir());
  EXPECT_EQ(second.status, testlib::minus_one_status());

  EXPECT_EQ(testlib::read_file(secret), "the victim's own\n");
  EXPECT_THAT(testlib::read_file(moved + "/hollin_service.log"),
              HasSubstr("HOLLIN quit unexpectedly...exiting\n"));
  EXPECT_THAT(faults::socket_files(moved), testing::IsEmpty());
}

// A read-only work directory: the service cannot make its pipes there and
// ends at once, its log saying why. (An unprivileged user, since root may
// write anywhere.)
TEST(ReadOnlyWorkDir, TheServiceLogsWhyItCannotStartAndEnds) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "POSIX users and directories";
  if (!running_as_root()) GTEST_SKIP() << "needs root to make an unprivileged user";
  TestUser user("twr" + std::to_string(platform::current_pid()));
  if (!user.made()) GTEST_SKIP() << "useradd failed";
  Sandbox box;
  const std::string tmp = box.file("tmp");
  const std::string work = tmp + "/" + user.name() + ".tarnwick";
  std::error_code ec;
  fs::create_directories(work, ec);
  ASSERT_FALSE(ec) << ec.message();
  ASSERT_TRUE(testlib::write_file(work + "/hollin_service.log", "earlier\n"));
  ASSERT_EQ(testlib::run("/bin/chown", {"-R", user.name(), tmp}).status, 0);
  fs::permissions(work, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace,
                  ec);
  testlib::ScopedTempDirEnv env(tmp);

  const testlib::RunResult service =
      user.run(testlib::bin_program("hollin_service"),
               {testlib::join(testlib::root_dir(), "Brightdesk")}, box.dir());
  EXPECT_EQ(service.status, 0) << "the status of a wrapper pipe that cannot be made";
  const std::string log = testlib::read_file(work + "/hollin_service.log");
  // A service that never held the pid file's lock leaves the earlier lines:
  // they may be a running service's.
  EXPECT_THAT(log, testing::StartsWith("earlier\nCould not create the pipe " + work +
                                       "/hollin_service_pipe"));
  EXPECT_THAT(log, HasSubstr(": Permission denied\nError in creating HOLLIN pipes\n\n"));
  EXPECT_FALSE(testlib::file_exists(work + "/hollin_service.pid"));
}

}  // namespace

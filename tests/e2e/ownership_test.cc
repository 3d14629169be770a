// A test owns every process it starts, however indirectly: the service a
// client started outlives the client, the graphical client outlives a
// killed service, and a client that is still waiting would start a new
// service if only the service were ended. Each is found and ended, so that
// nothing of one test serves the next.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tests/e2e/fixture.h"
#include "tests/testlib/processes.h"

namespace {

namespace fs = std::filesystem;
using e2e::EventPipe;
using e2e::Sandbox;
using testing::IsEmpty;

bool contains(const std::vector<std::uint32_t>& pids, std::uint32_t pid) {
  return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

TEST(Ownership, ServiceAndGraphicalClientOfAFinishedClientAreFoundAndEnded) {
  Sandbox box;
  const testlib::RunResult run = box.tarnwick({box.contributor("a.txt"), box.contributor("b.txt")});
  ASSERT_EQ(run.status, 0) << box.client_log() << box.service_log();
  const std::uint32_t service = box.service_pid();
  ASSERT_TRUE(Sandbox::is_service(service));
  const std::vector<std::uint32_t> marlows = box.marlow_pids();
  ASSERT_EQ(marlows.size(), 1u);

  // The client that started them has ended; they are still the test's.
  const std::vector<std::uint32_t> owned = testlib::descendants();
  EXPECT_TRUE(contains(owned, service));
  EXPECT_TRUE(contains(owned, marlows[0]));

  testlib::end_descendants(30, false);
  EXPECT_FALSE(Sandbox::is_service(service));
  EXPECT_TRUE(Sandbox::wait_for_exit(marlows[0], 0));
  EXPECT_THAT(testlib::descendants(), IsEmpty());
}

// The cascade to guard against: clients that are still waiting when their
// service and graphical client are ended start new ones, which would serve
// the next test. Ending everything the test started leaves nothing.
TEST(Ownership, WaitingClientsAreEndedWithTheirServiceAndStartNoOther) {
  constexpr int kClients = 3;
  std::vector<std::uint32_t> service_and_gui;
  {
    Sandbox box;
    EventPipe events(box);
    ASSERT_TRUE(events.created());
    box.set_mode("never");
    const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
    std::vector<platform::Process> clients;
    for (int i = 0; i < kClients; ++i) {
      clients.push_back(box.start_tarnwick(args, "waiting" + std::to_string(i)));
      ASSERT_TRUE(clients.back().valid()) << "client " << i;
    }
    ASSERT_TRUE(events.accept());
    const std::string connected = events.wait_for("connected ");
    ASSERT_FALSE(connected.empty());
    service_and_gui = {box.service_pid(),
                       static_cast<std::uint32_t>(std::stoul(connected.substr(10)))};
    // The sandbox goes here with its clients still waiting.
  }
  EXPECT_THAT(testlib::descendants(), IsEmpty());
  for (const std::uint32_t pid : service_and_gui)
    EXPECT_TRUE(Sandbox::wait_for_exit(pid, 0)) << pid;
}

// A process that ends is waited for on the process itself, child or not.
TEST(Ownership, WaitForExitFollowsAProcessThatIsNotAChild) {
  Sandbox box;
  EventPipe events(box);
  ASSERT_TRUE(events.created());
  box.set_mode("never");
  platform::Process client =
      box.start_tarnwick({box.contributor("a.txt"), box.contributor("b.txt")}, "client");
  ASSERT_TRUE(client.valid());
  ASSERT_TRUE(events.accept());
  const std::string connected = events.wait_for("connected ");
  ASSERT_FALSE(connected.empty());
  const std::uint32_t service = box.service_pid();
  ASSERT_TRUE(Sandbox::is_service(service));

  // Still running: a short wait says so.
  EXPECT_FALSE(Sandbox::wait_for_exit(service, 0));
  ASSERT_TRUE(platform::kill_process(service));
  EXPECT_TRUE(Sandbox::wait_for_exit(service));
  EXPECT_FALSE(Sandbox::is_service(service));
}

// POSIX: what a test program that died left running (its processes were
// re-parented to init) is ended by the next test program of the build tree,
// and only that: the processes of a test program that still runs stay.
TEST(Ownership, StraysOfADeadTestProgramAreEndedByTheNext) {
  if constexpr (platform::kWindows) {
    GTEST_SKIP() << "Windows: a test program's job object ends its processes with it";
  }
  // An id that no process has any more: a child that has ended.
  platform::ProcessSpec quick;
  quick.program = "/bin/true";
  quick.null_stdio = true;
  platform::Process gone;
  ASSERT_TRUE(platform::start_process(quick, &gone));
  const std::uint32_t dead = gone.pid();
  static_cast<void>(gone.wait());  // only that it has ended counts

  // A service whose temporary directory is that of a dead test program, and
  // one whose temporary directory is this (live) test program's.
  const std::string build = fs::path(testlib::root_dir()).parent_path().string();
  const std::string dead_tmp = "/tmp/twt" + std::to_string(dead) + "_0";
  std::error_code ec;
  fs::create_directory(dead_tmp, ec);
  struct Remove {
    std::string path;
    ~Remove() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } remove{dead_tmp};
  testlib::TempDir live_tmp;
  std::vector<platform::Process> services(2);
  for (int i = 0; i < 2; ++i) {
    testlib::ScopedTempDirEnv env(i == 0 ? dead_tmp : live_tmp.path());
    platform::ProcessSpec service;
    service.program = testlib::bin_program("hollin_service");
    service.args = {testlib::join(testlib::root_dir(), "Brightdesk"), "-debug"};
    service.null_stdio = true;
    ASSERT_TRUE(platform::start_process(service, &services[i]));
  }

  // Another test program starting meanwhile sweeps strays too: it may end
  // ours first (then it is not in this sweep's list, but ended all the
  // same), and this sweep may end strays of an earlier run that was killed,
  // so the list is searched, not counted.
  const std::vector<std::string> ended = testlib::end_strays_of_dead_tests(build);
  const auto names = [&ended](const platform::Process& p) {
    const std::string pid = std::to_string(p.pid());
    return std::any_of(ended.begin(), ended.end(), [&pid](const std::string& line) {
      return line.substr(0, line.find(' ')) == pid;
    });
  };
  const bool ended_here = names(services[0]);
  EXPECT_FALSE(names(services[1])) << testing::PrintToString(ended);
  EXPECT_EQ(Sandbox::wait(services[0], "the stray service"), 128 + 9)
      << (ended_here ? "ended by this sweep" : "not in this sweep's list")
      << testing::PrintToString(ended);
  EXPECT_FALSE(Sandbox::wait_for_exit(services[1].pid(), 0)) << "the live test's service stays";
  EXPECT_TRUE(services[1].kill().ok());
  Sandbox::wait(services[1], "the live test's service");
}

}  // namespace

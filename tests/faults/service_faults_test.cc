// A service that dies, and what it leaves behind: its waiting clients fail,
// its graphical client goes, and the next client starts a fresh service over
// the stale pid file and (POSIX) socket file, or over a pid file whose id now
// belongs to another program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "support/pipe_names.h"
#include "tests/faults/hand_gui.h"
#include "tests/testlib/processes.h"

namespace {

namespace fs = std::filesystem;
using e2e::EventPipe;
using e2e::Sandbox;

constexpr char kSep = platform::kPathSeparator;

std::string request_pipe_name(const Sandbox& box) {
  return box.pipe_base() + "_request" + platform::login_name();
}

bool is_socket_file(const std::string& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::socket;
}

TEST(ServiceFaults, ServiceKilledMidRequestFailsItsClientAndTheNextClientStartsAfresh) {
  Sandbox box;
  EventPipe events(box);
  ASSERT_TRUE(events.created());
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
  box.set_mode("slow");
  platform::Process pending = box.start_tarnwick(args, "pending");
  ASSERT_TRUE(pending.valid());
  ASSERT_TRUE(events.accept());
  ASSERT_EQ(events.wait_for("request "), "request 1");
  const std::uint32_t killed = box.service_pid();
  ASSERT_TRUE(Sandbox::is_service(killed));

  ASSERT_TRUE(platform::kill_process(killed));
  EXPECT_EQ(Sandbox::wait(pending, "the pending client"), testlib::minus_one_status());
  EXPECT_TRUE(Sandbox::wait_for_exit(killed));
  // The graphical client ends when its wrapper pipe goes: its report pipe
  // closes without a further event.
  EXPECT_EQ(events.wait_for("none"), "");
  EXPECT_FALSE(Sandbox::is_service(killed));
  EXPECT_EQ(box.service_pid(), killed) << "the pid file stays behind";
  if constexpr (!platform::kWindows) {
    EXPECT_TRUE(is_socket_file(request_pipe_name(box))) << "a killed service cannot clean up";
  }

  box.set_mode("ok");
  const testlib::RunResult next = box.tarnwick(args);
  EXPECT_EQ(next.status, 0) << box.service_log() << box.client_log();
  EXPECT_NE(box.service_pid(), killed);
  EXPECT_TRUE(Sandbox::is_service(box.service_pid()));
  EXPECT_EQ(box.marlow_pids().size(), 2u);
}

// Nothing but a socket file of the request pipe on which nobody listens: the
// client must not take it for a service, and the service it starts must be
// able to make its pipe there.
TEST(ServiceFaults, StaleRequestSocketFileIsReplacedByTheNextService) {
  if constexpr (platform::kWindows) GTEST_SKIP() << "Windows pipes vanish with their process";
  Sandbox box;
  const std::string pid_file = box.work_dir() + kSep + "hollin_service.pid";
  {
    faults::HandServed served(box);
    ASSERT_EQ(served.setup_error(), "");
    ASSERT_TRUE(served.service().kill());
    Sandbox::wait(served.service(), "the killed service");
  }
  ASSERT_TRUE(is_socket_file(request_pipe_name(box)));
  std::error_code ec;
  ASSERT_TRUE(fs::remove(pid_file, ec));

  const testlib::RunResult run = box.tarnwick({box.contributor("c.txt"), box.contributor("d.txt")});
  EXPECT_EQ(run.status, 0) << box.service_log() << box.client_log();
  EXPECT_TRUE(Sandbox::is_service(box.service_pid()));
  EXPECT_TRUE(is_socket_file(request_pipe_name(box)));
  EXPECT_EQ(box.client_log(), "");
}

// A pid file whose id has come to belong to another live program (here the
// test itself): no service runs, so one is started.
TEST(ServiceFaults, PidFileNamingAnotherLiveProgramStartsAService) {
  Sandbox box;
  std::error_code ec;
  ASSERT_TRUE(fs::create_directory(box.work_dir(), ec)) << ec.message();
  // The work directory must be private, as the programs would make it.
  fs::permissions(box.work_dir(), fs::perms::owner_all, fs::perm_options::replace, ec);
  const std::uint32_t self = platform::current_pid();
  ASSERT_TRUE(
      testlib::write_file(box.work_dir() + kSep + "hollin_service.pid", std::to_string(self)));

  const testlib::RunResult run = box.tarnwick({box.contributor("a.txt"), box.contributor("b.txt")});
  EXPECT_EQ(run.status, 0) << box.service_log() << box.client_log();
  EXPECT_NE(box.service_pid(), self);
  EXPECT_TRUE(Sandbox::is_service(box.service_pid()));
  EXPECT_EQ(box.marlow_pids().size(), 1u);
}

}  // namespace

namespace {

// The id of the service that runs in another work directory (a service of
// the same user with another temporary directory, or one whose id was
// reused): a live process of the right program, but not the holder of this
// work directory's pid file. No service serves this work directory, so the
// client must start one rather than wait for one.
TEST(ServiceFaults, PidFileNamingAServiceOfAnotherWorkDirStartsAService) {
  Sandbox box;
  testlib::TempDir other;
  platform::Process other_service;
  {
    testlib::ScopedTempDirEnv env(other.path());
    platform::ProcessSpec invocation;
    invocation.program = testlib::bin_program("hollin_service");
    invocation.args = {testlib::join(testlib::root_dir(), "Brightdesk"), "-debug"};
    invocation.stdout_path = other.file("service.out");
    invocation.stderr_path = other.file("service.err");
    ASSERT_TRUE(platform::start_process(invocation, &other_service).ok());
  }
  const std::string other_work = other.file(platform::login_name() + ".tarnwick");
  const std::string other_pid_file = other_work + kSep + "hollin_service.pid";
  ASSERT_TRUE(faults::settle(
      [&] { return testlib::read_file(other_pid_file) == std::to_string(other_service.pid()); }));
  // On Windows both services share the request pipe's name: the other one's
  // only free instance is taken here (its debug mode then waits for a peer
  // on its wrapper pipe), so that it cannot serve this test's client.
  std::unique_ptr<platform::ClientPipe> taken;
  const std::string other_request = support::pipe_base_name_for(platform::kWindows, other_work) +
                                    "_request" + platform::login_name();
  ASSERT_TRUE(faults::settle([&] {
    return platform::open_client_pipe(other_request, platform::PipeAccess::read_write, false,
                                      &taken)
               .kind == platform::OpenStatus::opened;
  }));

  ASSERT_TRUE(platform::make_private_dir(box.work_dir()).ok());
  ASSERT_TRUE(testlib::write_file(box.work_dir() + kSep + "hollin_service.pid",
                                  std::to_string(other_service.pid())));
  platform::Process client =
      box.start_tarnwick({box.contributor("a.txt"), box.contributor("b.txt")}, "other");
  EXPECT_EQ(Sandbox::wait(client, "the client"), 0) << box.service_log() << box.client_log();
  EXPECT_NE(box.service_pid(), other_service.pid());
  EXPECT_TRUE(Sandbox::is_service(box.service_pid()));
  EXPECT_EQ(box.marlow_pids().size(), 1u);

  taken.reset();
  EXPECT_TRUE(other_service.kill().ok());
  EXPECT_TRUE(testlib::wait_or_end(other_service, e2e::kWaitSeconds).has_value());
}

}  // namespace

namespace {

// A second service, started while one runs, finds the lock held and ends;
// the log it shares with the running service keeps every earlier line, and
// gains the second one's reason. The running service has left its
// starter's current directory, so that it keeps no file system busy.
TEST(ServiceFaults, ASecondServiceKeepsTheRunningOnesLog) {
  Sandbox box;
  faults::HandServed served(box);
  ASSERT_EQ(served.setup_error(), "");
  const std::string before = testlib::strip_cr(box.service_log());
  ASSERT_THAT(before, testing::HasSubstr("Debug option was passed"));

  const testlib::RunResult second =
      testlib::run(testlib::bin_program("hollin_service"),
                   {testlib::join(testlib::root_dir(), "Brightdesk")}, box.dir());
  EXPECT_EQ(second.status, testlib::minus_one_status());
  const std::string after = testlib::strip_cr(box.service_log());
  EXPECT_EQ(after.substr(0, before.size()), before);
  EXPECT_THAT(after.substr(before.size()), testing::HasSubstr("Error creating Lock File\n"));
  EXPECT_TRUE(served.service().running());

  if constexpr (!platform::kWindows) {
    std::error_code ec;
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(served.service().pid()) + "/cwd", ec),
              fs::path("/"));
  }
}

}  // namespace

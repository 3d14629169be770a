// End to end: how services come and go, and many clients at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/fixture.h"

namespace {

using e2e::EventPipe;
using e2e::Sandbox;
using testing::HasSubstr;

std::string logs(const Sandbox& box) {
  return "client log: " + box.client_log() + "\nservice log: " + box.service_log();
}

TEST(Lifecycle, ColdStartStartsOneServiceThatTheNextClientReuses) {
  Sandbox box;
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
  ASSERT_EQ(box.service_pid(), 0u);

  testlib::RunResult run = box.tarnwick(args);
  EXPECT_EQ(run.status, 0) << logs(box);
  const std::uint32_t service = box.service_pid();
  EXPECT_TRUE(Sandbox::is_service(service));

  run = box.tarnwick(args);
  EXPECT_EQ(run.status, 0) << logs(box);
  EXPECT_EQ(box.service_pid(), service);
  EXPECT_EQ(box.marlow_pids().size(), 1u);
  EXPECT_EQ(box.recorded("request-").size(), 2u);
}

// A graphical client that is gone when the first notice is due: the service
// ends with its message, and the next client starts a fresh service.
TEST(Lifecycle, GraphicalClientGoneEndsTheServiceAndTheNextClientStartsAfresh) {
  Sandbox box;
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
  box.set_mode("exit");
  testlib::RunResult run = box.tarnwick(args);
  EXPECT_EQ(run.status, testlib::minus_one_status());
  const std::uint32_t first = box.service_pid();
  // The client is released as the service ends, which may still be under
  // way: its end is the event to wait for.
  EXPECT_TRUE(Sandbox::wait_for_exit(first)) << logs(box);
  EXPECT_THAT(box.service_log(), HasSubstr("HOLLIN quit unexpectedly...exiting\n"));
  EXPECT_FALSE(Sandbox::is_service(first));

  box.set_mode("ok");
  run = box.tarnwick(args);
  EXPECT_EQ(run.status, 0) << logs(box);
  EXPECT_NE(box.service_pid(), first);
  EXPECT_TRUE(Sandbox::is_service(box.service_pid()));
  EXPECT_EQ(box.marlow_pids().size(), 2u);
}

// The service watches its graphical client: when it dies while a request
// waits on it, the service ends at once and the waiting client is released.
TEST(Lifecycle, GraphicalClientDyingMidRequestReleasesTheWaitingClient) {
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
  const auto gui = static_cast<std::uint32_t>(std::stoul(connected.substr(10)));
  // The service started the stand-in, so it has written its pid file.
  const std::uint32_t service = box.service_pid();
  ASSERT_TRUE(Sandbox::is_service(service));

  ASSERT_TRUE(platform::kill_process(gui));
  EXPECT_EQ(Sandbox::wait(client, "the client"), testlib::minus_one_status());
  // The client is released while the service ends; the end itself may come
  // a moment later, so it is waited for, not assumed.
  EXPECT_TRUE(Sandbox::wait_for_exit(service)) << logs(box);
  EXPECT_THAT(box.service_log(), HasSubstr("HOLLIN quit unexpectedly...exiting\n"));
  EXPECT_FALSE(Sandbox::is_service(service));
}

TEST(Lifecycle, ClientKilledMidRequestLeavesTheServiceServing) {
  Sandbox box;
  EventPipe events(box);
  ASSERT_TRUE(events.created());
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
  box.set_mode("slow");
  platform::Process doomed = box.start_tarnwick(args, "doomed");
  ASSERT_TRUE(doomed.valid());
  ASSERT_TRUE(events.accept());
  // The request has reached the graphical client, which holds its reply back.
  ASSERT_EQ(events.wait_for("request "), "request 1");
  const std::uint32_t service = box.service_pid();

  ASSERT_TRUE(doomed.kill());
  Sandbox::wait(doomed, "the killed client");
  box.open_gate();
  // The reply to the dead client has been handed to the service.
  ASSERT_EQ(events.wait_for("replied "), "replied 1");

  const testlib::RunResult run = box.tarnwick(args);
  EXPECT_EQ(run.status, 0) << logs(box);
  EXPECT_EQ(box.service_pid(), service);
  EXPECT_TRUE(Sandbox::is_service(service));
  EXPECT_EQ(box.recorded("request-").size(), 2u);
}

// Thirty-two clients at once, all of them in flight in the graphical client
// together before any is answered: every one is served.
TEST(Lifecycle, ThirtyTwoClientsAtOnceAreAllServed) {
  constexpr int kClients = 32;
  Sandbox box;
  EventPipe events(box);
  ASSERT_TRUE(events.created());
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
  testlib::RunResult run = box.tarnwick(args);
  ASSERT_EQ(run.status, 0) << logs(box);
  ASSERT_TRUE(events.accept());
  ASSERT_EQ(events.wait_for("replied "), "replied 1");

  box.set_mode("slow");
  // The sandbox owns every client started here (and what they start), so a
  // client that cannot be started ends the test without leaving the others
  // running.
  std::vector<platform::Process> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(box.start_tarnwick(args, "client" + std::to_string(i)));
    ASSERT_TRUE(clients.back().valid()) << "client " << i;
  }
  for (int i = 0; i < kClients; ++i) ASSERT_FALSE(events.wait_for("request ").empty()) << i;
  box.open_gate();
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(Sandbox::wait(clients[i], "client " + std::to_string(i)), 0) << logs(box);
  }
  EXPECT_EQ(box.recorded("request-").size(), kClients + 1u);
  EXPECT_EQ(box.marlow_pids().size(), 1u);
  EXPECT_EQ(box.client_log(), "");
}

// POSIX: the pid file is also the service's lock, so clients that each start
// a service at the same moment leave exactly one, and all are served.
TEST(Lifecycle, TenClientsAtOnceWithoutAServiceLeaveExactlyOne) {
  if constexpr (platform::kWindows) {
    GTEST_SKIP() << "Windows services have no lock: each starter may run its own service";
  }
  constexpr int kClients = 10;
  Sandbox box;
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
  std::vector<platform::Process> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(box.start_tarnwick(args, "client" + std::to_string(i)));
    ASSERT_TRUE(clients.back().valid()) << "client " << i;
  }
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(Sandbox::wait(clients[i], "client " + std::to_string(i)), 0) << logs(box);
  }
  // Services that lost the race for the lock end by themselves; the one that
  // remains is the one the pid file names.
  EXPECT_TRUE(box.wait_for_services_at_most(1));
  EXPECT_EQ(box.processes_of_sandbox(testlib::bin_program("hollin_service")),
            std::vector<std::uint32_t>{box.service_pid()});
  // Only the service that holds the lock gets to start a graphical client.
  EXPECT_EQ(box.marlow_pids().size(), 1u);
  EXPECT_EQ(box.recorded("request-").size(), static_cast<std::size_t>(kClients));
}

// The one error shown before a log exists goes through the prompt tool.
TEST(Lifecycle, UnusableTemporaryDirectoryShowsThePromptTool) {
  testlib::TempDir temp;
  const std::string prompt_log = temp.file("fernask.log");
  const std::string missing = testlib::join(testlib::join(temp.path(), "missing"), "deeper");
  testlib::ScopedTempDirEnv env(missing);
  testlib::ScopedEnv log_env("FERNASK_STANDIN_LOG", prompt_log);

  // Not testlib::run: its capture directory would live in the temporary
  // directory, which is what is broken here.
  platform::ProcessSpec invocation;
  invocation.program = testlib::bin_program("tarnwick");
  invocation.args = {"a.txt", "b.txt"};
  invocation.working_dir = temp.path();
  invocation.stdout_path = temp.file("out");
  invocation.stderr_path = temp.file("err");
  platform::Process client;
  const platform::Status started = platform::start_process(invocation, &client);
  ASSERT_TRUE(started.ok()) << started.text();
  EXPECT_EQ(Sandbox::wait(client, "the client"), testlib::minus_one_status());
  const std::string err = testlib::strip_cr(testlib::read_file(invocation.stderr_path));
  const std::string received = testlib::read_file(prompt_log);
  if constexpr (platform::kWindows) {
    // Through the command interpreter the message's own quotes split it.
    EXPECT_THAT(received, HasSubstr("proceed\n-mask\np\n-type\nerror\n-prompt\n"));
    EXPECT_THAT(received, HasSubstr("temporary"));
    EXPECT_THAT(received, testing::EndsWith("-prefer_gui\n"));
  } else {
    EXPECT_EQ(received,
              "proceed\n-mask\np\n-type\nerror\n-prompt\n"
              "\" Could not set the temporary directory \"\n-prefer_gui\n");
  }
  EXPECT_THAT(err, HasSubstr("Could not set the temporary directory"));
  EXPECT_FALSE(testlib::file_exists(missing));
}

}  // namespace

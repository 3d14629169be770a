// A test owns every process it starts, however indirectly: the service a
// client started outlives the client, the graphical client outlives a
// killed service, and a client that is still waiting would start a new
// service if only the service were ended. Each is found and ended, so that
// nothing of one test serves the next.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/fixture.h"
#include "tests/testlib/processes.h"

namespace {

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
  for (const std::uint32_t pid : service_and_gui) EXPECT_TRUE(Sandbox::wait_for_exit(pid, 0)) << pid;
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

}  // namespace

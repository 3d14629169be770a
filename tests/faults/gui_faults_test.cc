// A graphical client that dies with several requests in flight: the service
// ends at once with its message, every waiting client fails, and the next
// client starts a fresh service and graphical client and is served.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/faults/hand_gui.h"

namespace {

using e2e::EventPipe;
using e2e::Sandbox;

TEST(GuiFaults, GraphicalClientKilledWithRequestsPendingReleasesEveryClient) {
  constexpr int kPending = 3;
  Sandbox box;
  EventPipe events(box);
  ASSERT_TRUE(events.created());
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};

  // The graphical client takes every notice in and never opens a request's
  // pipes, so nothing but the service's end can release the clients.
  box.set_mode("never");
  std::vector<platform::Process> clients;
  for (int i = 0; i < kPending; ++i) {
    clients.push_back(box.start_tarnwick(args, "pending" + std::to_string(i)));
    ASSERT_TRUE(clients.back().valid()) << "client " << i;
    if (i == 0) {
      ASSERT_TRUE(events.accept());
    }
  }
  const std::string connected = events.wait_for("connected ");
  ASSERT_FALSE(connected.empty());
  const auto gui = static_cast<std::uint32_t>(std::stoul(connected.substr(10)));
  // The stand-in reports no event for a notice it ignores; its record of
  // the notices is all there is to wait for.
  ASSERT_TRUE(faults::settle([&] { return box.recorded("notice-").size() == kPending; }));
  const std::uint32_t first_service = box.service_pid();
  ASSERT_TRUE(Sandbox::is_service(first_service));

  ASSERT_TRUE(platform::kill_process(gui));
  for (int i = 0; i < kPending; ++i) {
    EXPECT_EQ(Sandbox::wait(clients[i], "client " + std::to_string(i)),
              testlib::minus_one_status());
  }
  // Only the service's end can have released them: it has gone, and its
  // message is the last line of its log.
  EXPECT_TRUE(Sandbox::wait_for_exit(first_service));
  EXPECT_FALSE(Sandbox::is_service(first_service));
  EXPECT_THAT(box.service_log(), testing::EndsWith("HOLLIN quit unexpectedly...exiting\n"));

  box.set_mode("ok");
  const testlib::RunResult next = box.tarnwick(args);
  EXPECT_EQ(next.status, 0) << box.service_log();
  EXPECT_NE(box.service_pid(), first_service);
  EXPECT_TRUE(Sandbox::is_service(box.service_pid()));
  EXPECT_EQ(box.marlow_pids().size(), 2u);
  EXPECT_EQ(box.recorded("request-").size(), 1u);
}

}  // namespace

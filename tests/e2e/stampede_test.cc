// End to end: many clients at once with no service, the one-service
// guarantee, and a client whose service cannot start, on both platforms.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "client/channel.h"
#include "tests/e2e/fixture.h"

namespace {

using e2e::Sandbox;
using testing::HasSubstr;

std::string logs(const Sandbox& box) {
  return "client log: " + box.client_log() + "\nservice log: " + box.service_log();
}

// The live processes that run this build's `program`. On POSIX only those of
// the sandbox; on Windows every one the test's prefix holds (end-to-end tests
// there run one at a time).
std::vector<std::uint32_t> live(const Sandbox& box, const std::string& program) {
  if constexpr (!platform::kWindows) return box.processes_of_sandbox(program);
  std::vector<std::uint32_t> found;
  for (const std::uint32_t pid : platform::all_process_ids()) {
    const std::string image = platform::process_image_path(pid).value();
    if (!image.empty() && platform::paths_equal_ignoring_case(image, program)) {
      found.push_back(pid);
    }
  }
  return found;
}

// Looks until `done` holds; processes that are not our children offer
// nothing to block on. False after a minute.
template <typename Done>
bool watch_until(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::sleep_ms(5);
  }
  return true;
}

// Ends, whatever happened in the test, the clients it started and every
// service and graphical client of this build that they caused, by id.
class Reaper {
 public:
  explicit Reaper(const Sandbox& box) : box_(box) {}
  ~Reaper() {
    for (platform::Process& client : clients) {
      if (client.running()) {
        // Ended by force and reaped; neither outcome matters here.
        static_cast<void>(client.kill());
        static_cast<void>(client.wait());
      }
    }
    for (const std::string& program :
         {testlib::bin_program("hollin_service"), testlib::gui_program()}) {
      // One that has ended meanwhile cannot be killed, which is as good.
      for (const std::uint32_t pid : live(box_, program))
        static_cast<void>(platform::kill_process(pid));
      watch_until([&] { return live(box_, program).empty(); });
    }
  }
  Reaper(const Reaper&) = delete;
  Reaper& operator=(const Reaper&) = delete;

  std::vector<platform::Process> clients;

 private:
  const Sandbox& box_;
};

// Twenty-four clients started together with no service: every one is served,
// and exactly one service and one graphical client are left, the service
// being the one the pid file names.
TEST(Stampede, TwentyFourClientsWithoutAServiceAreAllServedByOne) {
  constexpr int kClients = 24;
  Sandbox box;
  Reaper reaper(box);
  const std::string service = testlib::bin_program("hollin_service");
  ASSERT_TRUE(live(box, service).empty()) << "a service of this build is already running";
  const std::vector<std::string> args = {box.contributor("a.txt"), box.contributor("b.txt")};
  for (int i = 0; i < kClients; ++i) {
    reaper.clients.push_back(box.start_tarnwick(args, "client" + std::to_string(i)));
    ASSERT_TRUE(reaper.clients.back().valid()) << "client " << i;
  }
  ASSERT_TRUE(watch_until([&] {
    return std::none_of(reaper.clients.begin(), reaper.clients.end(),
                        [](platform::Process& client) { return client.running(); });
  })) << "clients still waiting\n"
      << logs(box);
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(reaper.clients[i].wait(), 0) << "client " << i << "\n" << logs(box);
  }
  // Services that lost the race for the lock end by themselves.
  EXPECT_TRUE(watch_until([&] { return live(box, service).size() <= 1; }));
  EXPECT_EQ(live(box, service), std::vector<std::uint32_t>{box.service_pid()});
  EXPECT_EQ(box.marlow_pids().size(), 1u);
  EXPECT_EQ(live(box, testlib::gui_program()).size(), 1u);
  EXPECT_EQ(box.recorded("request-").size(), static_cast<std::size_t>(kClients));
}

// A second service of the same user finds the first one's lock held: it says
// so and ends, and the pid file keeps naming the first.
TEST(Stampede, ASecondServiceEndsAndThePidFileKeepsNamingTheFirst) {
  Sandbox box;
  Reaper reaper(box);
  const std::string gui_dir = testlib::join(testlib::root_dir(), "Brightdesk");
  platform::Process first = box.start_service({gui_dir, "-debug"});
  ASSERT_TRUE(first.valid());
  ASSERT_EQ(box.service_pid(), first.pid());

  platform::ProcessSpec invocation;
  invocation.program = testlib::bin_program("hollin_service");
  invocation.args = {gui_dir, "-debug"};
  invocation.null_stdio = true;
  platform::Process second;
  ASSERT_TRUE(platform::start_process(invocation, &second));
  reaper.clients.push_back(std::move(second));
  ASSERT_TRUE(watch_until([&] { return !reaper.clients.back().running(); }))
      << "the second service still runs";
  EXPECT_EQ(reaper.clients.back().wait(), testlib::minus_one_status());
  EXPECT_THAT(box.service_log(), HasSubstr("Error creating Lock File\n"));
  EXPECT_EQ(box.service_pid(), first.pid());
  EXPECT_TRUE(first.running());
  EXPECT_TRUE(Sandbox::is_service(first.pid()));
}

// The service cannot write its pid file (here a directory stands in its
// place) and ends at once: the client says so in its log and gives up,
// instead of waiting out the whole budget with nothing said.
TEST(ServiceGone, AClientWhoseServiceEndedAtOnceSaysSoAndGivesUp) {
  Sandbox box;
  Reaper reaper(box);
  ASSERT_EQ(platform::make_private_dir(box.work_dir()).code(), 0);
  ASSERT_EQ(platform::make_private_dir(testlib::join(box.work_dir(), "hollin_service.pid")).code(),
            0);
  reaper.clients.push_back(
      box.start_tarnwick({box.contributor("a.txt"), box.contributor("b.txt")}, "client"));
  ASSERT_TRUE(reaper.clients.back().valid());
  ASSERT_TRUE(watch_until([&] { return !reaper.clients.back().running(); }))
      << "the client still waits\n"
      << logs(box);
  EXPECT_EQ(reaper.clients.back().wait(), testlib::minus_one_status());
  EXPECT_THAT(box.client_log(), HasSubstr(std::string(tarnwick::kServiceGoneLine) + "\n"));
  EXPECT_THAT(box.client_log(), HasSubstr("Unable to obtain pipe "));
  EXPECT_THAT(box.service_log(), HasSubstr("Error creating Lock File\n"));
}

}  // namespace

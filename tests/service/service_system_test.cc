#include "service/service_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace hollin_service {

namespace {

using ::testing::ElementsAre;

// Records each call and answers with values no default would give.
class RecordingServiceSystem final : public ServiceSystem {
 public:
  std::string login_name() override {
    calls.push_back("login_name");
    return "someone";
  }
  std::string random_part() override {
    calls.push_back("random_part");
    return "4711";
  }
  support::Status write_pid_file() override {
    calls.push_back("write_pid_file");
    return support::Status::posix("flock", EWOULDBLOCK);
  }
  support::Status start_relay(std::unique_ptr<RelayJob>& job) override {
    calls.push_back(std::string("start_relay") + (job ? " job" : " none"));
    return support::Status::posix("pthread_create", EAGAIN);
  }
  void print_to_console(const std::string& text) override {
    calls.push_back("print_to_console " + text);
  }
  void begin_log() override { calls.push_back("begin_log"); }
  void keep_pid_file() override { calls.push_back("keep_pid_file"); }
  bool short_of_descriptors(const support::Status& failure) override {
    calls.push_back("short_of_descriptors " + std::to_string(failure.code()));
    return true;
  }
  bool relays_in_flight() override {
    calls.push_back("relays_in_flight");
    return true;
  }

  std::vector<std::string> calls;
};

TEST(ServiceSystemWrapper, ForwardsEveryCallWithItsArgumentsAndResult) {
  RecordingServiceSystem target;
  ServiceSystemWrapper wrapper(target);
  EXPECT_EQ(wrapper.login_name(), "someone");
  EXPECT_EQ(wrapper.random_part(), "4711");
  EXPECT_EQ(wrapper.write_pid_file().code(), EWOULDBLOCK);
  auto job = std::make_unique<RelayJob>();
  EXPECT_EQ(wrapper.start_relay(job).code(), EAGAIN);
  EXPECT_TRUE(job);  // a failed start leaves the job with the caller
  wrapper.print_to_console("name\n");
  wrapper.begin_log();
  wrapper.keep_pid_file();
  EXPECT_TRUE(wrapper.short_of_descriptors(support::Status::posix("socket", EMFILE)));
  EXPECT_TRUE(wrapper.relays_in_flight());
  EXPECT_THAT(target.calls,
              ElementsAre("login_name", "random_part", "write_pid_file", "start_relay job",
                          "print_to_console name\n", "begin_log", "keep_pid_file",
                          "short_of_descriptors " + std::to_string(EMFILE), "relays_in_flight"));
}

// A failure for lack of descriptors (or memory for them) is told from any
// other; whether waiting is worth it is a separate question: relays in
// flight give theirs back when they end.
TEST(RealServiceSystem, TellsShortagesAndRelaysInFlight) {
  ServiceSystem& real = real_service_system();
  ASSERT_EQ(RelayInFlight::count(), 0u);
  EXPECT_FALSE(real.relays_in_flight());
  {
    const auto job = std::make_unique<RelayJob>();
    EXPECT_EQ(RelayInFlight::count(), 1u);
    EXPECT_TRUE(real.relays_in_flight());
  }
  EXPECT_FALSE(real.relays_in_flight());
  for (const int code : {EMFILE, ENFILE, ENOBUFS, ENOMEM}) {
    EXPECT_TRUE(real.short_of_descriptors(support::Status::posix("socket", code))) << code;
  }
  EXPECT_FALSE(real.short_of_descriptors(support::Status::posix("bind", EACCES)));
  // A Win32 code with the number of an errno value is not one.
  EXPECT_FALSE(real.short_of_descriptors(support::Status::win32("CreateNamedPipeW", EMFILE)));
}

}  // namespace

}  // namespace hollin_service

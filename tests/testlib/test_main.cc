// The main of every test program: GoogleTest and GoogleMock, plus two
// guarantees for tests that start processes.
//
// - Ownership: every process a test started, directly or through the
//   programs it started, is ended by id when the test ends, whatever
//   happened, and named in the output. (Not a failure: a program may start
//   a short-lived process that the test cannot wait for, such as a service
//   that ends by itself a moment after its client.)
// - A time limit per test (TW_TEST_WATCHDOG seconds, set by CTest below its
//   own TIMEOUT): a test still running then fails, its processes are ended
//   (which releases a test blocked on one of them), and if it still does not
//   finish the program ends with the processes gone, rather than being
//   killed by CTest with its processes left running.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "tests/testlib/processes.h"

namespace {

constexpr int kEndSeconds = 30;
// After the limit, how long the test gets to finish once its processes have
// been ended.
constexpr int kGraceSeconds = 20;

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

class ProcessOwner : public testing::EmptyTestEventListener {
 public:
  explicit ProcessOwner(int limit_seconds) : limit_(limit_seconds) {
    if (limit_ > 0) watchdog_ = std::thread([this] { watch(); });
  }

  ~ProcessOwner() override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
  }

  void OnTestStart(const testing::TestInfo& test) override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      name_ = std::string(test.test_suite_name()) + "." + test.name();
      running_ = true;
      ++generation_;
    }
    changed_.notify_all();
  }

  void OnTestEnd(const testing::TestInfo& test) override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      running_ = false;
    }
    changed_.notify_all();
    const std::vector<std::string> left = testlib::end_descendants(kEndSeconds, true);
    if (!left.empty()) {
      std::printf("[ ENDED    ] %s.%s left processes running:%s\n", test.test_suite_name(),
                  test.name(), joined(left).c_str());
      std::fflush(stdout);
    }
  }

 private:
  void watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return quit_ || running_; });
      if (quit_) return;
      const unsigned generation = generation_;
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(limit_);
      if (changed_.wait_until(lock, limit,
                              [&] { return quit_ || generation_ != generation || !running_; })) {
        continue;
      }
      const std::string name = name_;
      lock.unlock();
      ADD_FAILURE() << name << " still runs after " << limit_
                    << " s: ending every process it started";
      const std::vector<std::string> ended = testlib::end_descendants(kEndSeconds, false);
      std::fprintf(stderr, "[ LIMIT    ] %s: %d s; ended:%s\n", name.c_str(), limit_,
                   joined(ended).c_str());
      std::fflush(stderr);
      lock.lock();
      const auto grace = std::chrono::steady_clock::now() + std::chrono::seconds(kGraceSeconds);
      if (changed_.wait_until(lock, grace,
                              [&] { return quit_ || generation_ != generation || !running_; })) {
        continue;
      }
      std::fprintf(stderr,
                   "[ LIMIT    ] %s did not finish after its processes were ended; exiting\n",
                   name.c_str());
      std::fflush(nullptr);
      testlib::end_descendants(kEndSeconds, false);
      std::_Exit(1);
    }
  }

  const int limit_;
  std::thread watchdog_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string name_;
  bool running_ = false;
  bool quit_ = false;
  unsigned generation_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleMock(&argc, argv);
  if (!testlib::own_descendants()) {
    std::fprintf(stderr, "warning: cannot take ownership of the processes the tests start\n");
  }
  // What a test program of this build that died (a crash, a CTest time-out)
  // left running would otherwise stay for good: <build>/tests/<program>.
  const std::filesystem::path build =
      std::filesystem::path(platform::executable_path()).parent_path().parent_path();
  for (const std::string& line : testlib::end_strays_of_dead_tests(build.string())) {
    std::printf("note: ended %s, left running by a test program that died\n", line.c_str());
  }
  const char* limit = std::getenv("TW_TEST_WATCHDOG");
  testing::UnitTest::GetInstance()->listeners().Append(
      new ProcessOwner(limit != nullptr ? std::atoi(limit) : 0));
  const int status = RUN_ALL_TESTS();
  testlib::end_descendants(kEndSeconds, true);
  return status;
}

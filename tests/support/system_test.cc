#include "support/system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace support {

namespace {

using ::testing::ElementsAre;

// Targets that record each call with its arguments and answer with values
// no default would give, so that a wrapper that drops a call, changes an
// argument or loses a result is seen.
class RecordingPipes final : public Pipes {
 public:
  Result<std::unique_ptr<platform::ServerPipe>> create_server(
      const std::string& name, const platform::PipeParams& params,
      const platform::PipeSecurity* security) override {
    calls.push_back("create_server " + name + " " + std::to_string(params.max_instances) +
                    (security == nullptr ? " null" : " security"));
    return Status::posix("socket", EMFILE);
  }
  platform::OpenResult open_client(const std::string& name, platform::PipeAccess access,
                                   bool notice_stream,
                                   std::unique_ptr<platform::ClientPipe>* out) override {
    calls.push_back("open_client " + name + " " + std::to_string(static_cast<int>(access)) +
                    (notice_stream ? " stream" : " message") + (out != nullptr ? " out" : ""));
    return {platform::OpenStatus::busy, Status::win32("CreateFileA", 231)};
  }
  bool wait(const std::string& name, unsigned timeout_ms) override {
    calls.push_back("wait " + name + " " + std::to_string(timeout_ms));
    return true;
  }
  PipeState probe(const std::string& name) override {
    calls.push_back("probe " + name);
    return PipeState::busy;
  }
  std::string name_problem(const std::string& name) override {
    calls.push_back("name_problem " + name);
    return "too long";
  }
  void remove_stale(const std::string& base_name) override {
    calls.push_back("remove_stale " + base_name);
  }
  bool served_elsewhere(const std::string& name) override {
    calls.push_back("served_elsewhere " + name);
    return true;
  }

  std::vector<std::string> calls;
};

class RecordingProcesses final : public Processes {
 public:
  Status start(const platform::ProcessSpec& invocation, platform::Process* out) override {
    calls.push_back("start " + invocation.program + " " + invocation.working_dir +
                    (out != nullptr ? " out" : ""));
    return Status::posix("posix_spawn", ENOENT);
  }
  void watch(platform::Process process, std::function<void(int status)> ended) override {
    calls.push_back(std::string("watch") + (process.valid() ? " valid" : " none"));
    ended(7);
  }

  std::vector<std::string> calls;
};

class RecordingClock final : public Clock {
 public:
  std::uint64_t now_ms() override {
    calls.push_back("now_ms");
    return 123456789012u;
  }
  void sleep_ms(unsigned milliseconds) override {
    calls.push_back("sleep_ms " + std::to_string(milliseconds));
  }

  std::vector<std::string> calls;
};

class RecordingLog final : public Log {
 public:
  void write(const std::string& line) override { calls.push_back("write " + line); }

  std::vector<std::string> calls;
};

TEST(SystemWrappers, ForwardEveryCallWithItsArgumentsAndResult) {
  RecordingPipes pipes;
  PipesWrapper pipes_wrapper(pipes);
  platform::PipeParams params;
  params.max_instances = 255;
  const auto created = pipes_wrapper.create_server("p", params, nullptr);
  EXPECT_EQ(created.status().code(), EMFILE);
  std::unique_ptr<platform::ClientPipe> client;
  const platform::OpenResult opened =
      pipes_wrapper.open_client("q", platform::PipeAccess::write, true, &client);
  EXPECT_EQ(opened.kind, platform::OpenStatus::busy);
  EXPECT_EQ(opened.status.code(), 231);
  EXPECT_TRUE(pipes_wrapper.wait("r", 4321));
  EXPECT_EQ(pipes_wrapper.probe("s"), PipeState::busy);
  EXPECT_EQ(pipes_wrapper.name_problem("t"), "too long");
  pipes_wrapper.remove_stale("u");
  EXPECT_TRUE(pipes_wrapper.served_elsewhere("v"));
  EXPECT_THAT(pipes.calls,
              ElementsAre("create_server p 255 null", "open_client q 2 stream out", "wait r 4321",
                          "probe s", "name_problem t", "remove_stale u", "served_elsewhere v"));

  RecordingProcesses processes;
  ProcessesWrapper processes_wrapper(processes);
  platform::ProcessSpec invocation;
  invocation.program = "prog";
  invocation.working_dir = "dir";
  platform::Process process;
  EXPECT_EQ(processes_wrapper.start(invocation, &process).code(), ENOENT);
  int ended_with = 0;
  processes_wrapper.watch(platform::Process(), [&](int status) { ended_with = status; });
  EXPECT_EQ(ended_with, 7);
  EXPECT_THAT(processes.calls, ElementsAre("start prog dir out", "watch none"));

  RecordingClock clock;
  ClockWrapper clock_wrapper(clock);
  EXPECT_EQ(clock_wrapper.now_ms(), 123456789012u);
  clock_wrapper.sleep_ms(17);
  EXPECT_THAT(clock.calls, ElementsAre("now_ms", "sleep_ms 17"));

  RecordingLog log;
  LogWrapper log_wrapper(log);
  log_wrapper.write("a line");
  EXPECT_THAT(log.calls, ElementsAre("write a line"));
}

}  // namespace

}  // namespace support

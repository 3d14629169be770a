// Fakes of the system interfaces (support/system.h) and of pipe ends, shared
// by the client's and the service's tests. Each records what it was asked,
// in order, so that a test can check the calls as well as the results. None
// is safe for use from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/platform.h"
#include "support/system.h"

namespace testfakes {

// What the fakes of one test did, in one order, outliving the pipes (the
// code under test closes them).
struct PipeRecord {
  std::vector<std::string> journal;                        // "<pipe>.<call>", "log <line>", ...
  std::map<std::string, std::vector<std::string>> writes;  // per pipe, one entry per write
};

// A scripted server pipe end. It serves one message in message-read mode
// (chunks with more_data, the last one complete) and journals every call as
// "<name>.<call>", its closing as "<name>.close".
class ScriptedServerPipe : public platform::ServerPipe {
 public:
  ScriptedServerPipe(std::string name, PipeRecord* record)
      : name_(std::move(name)), record_(record) {}
  ~ScriptedServerPipe() override;

  // The message that reads deliver. An empty message is one complete read
  // of 0 bytes.
  void set_message(std::string message) { message_ = std::move(message); }
  // Read number `n` (0-based) and every later one fail.
  void set_fail_from_read(std::size_t n) { fail_from_read_ = n; }
  void set_connect_result(platform::ConnectResult result) { connect_result_ = result; }
  void set_write_result(bool ok) { write_ok_ = ok; }
  // Reads that leave more of the message report how much is left, off by
  // `error` bytes (as a platform that can tell does), at least 1.
  void set_left_hint(long long error) {
    hint_ = true;
    hint_error_ = error;
  }

  platform::ConnectResult connect() override;
  platform::ReadResult read(char* buffer, std::size_t size) override;
  bool write(const char* data, std::size_t size) override;
  bool flush() override;
  void disconnect() override;

  std::vector<std::size_t> read_sizes;  // the size asked for by each read

 private:
  std::string name_;
  PipeRecord* record_;
  std::string message_;
  std::size_t offset_ = 0;
  bool delivered_ = false;
  std::size_t fail_from_read_ = static_cast<std::size_t>(-1);
  bool write_ok_ = true;
  bool hint_ = false;
  long long hint_error_ = 0;
  platform::ConnectResult connect_result_ = platform::ConnectResult::connected;
};

// How a scripted client pipe end behaves, and what it was given.
struct ClientPipeScript {
  bool write_ok = true;
  std::optional<std::string> reply;  // nothing: the read fails
  std::vector<std::string> writes;
  std::vector<std::size_t> read_sizes;
};

class ScriptedClientPipe final : public platform::ClientPipe {
 public:
  explicit ScriptedClientPipe(ClientPipeScript* script) : script_(script) {}
  bool write(const char* data, std::size_t size) override;
  bool read(char* buffer, std::size_t size, std::size_t* bytes) override;

 private:
  ClientPipeScript* script_;
};

// A virtual clock: sleeps move it and are recorded. It also moves by
// `drift_ms` at each reading (the time the caller itself takes between
// readings).
class VirtualClock final : public support::Clock {
 public:
  std::uint64_t now_ms() override {
    clock_ms += drift_ms;
    return clock_ms;
  }
  void sleep_ms(unsigned milliseconds) override {
    sleeps.push_back(milliseconds);
    clock_ms += milliseconds;
  }
  // The sum of all sleeps.
  [[nodiscard]] std::uint64_t slept() const;

  std::uint64_t clock_ms = 0;
  std::uint64_t drift_ms = 0;
  std::vector<unsigned> sleeps;
};

// Keeps every line; with a journal, also adds "log <line>" to it.
class RecordingLog final : public support::Log {
 public:
  explicit RecordingLog(std::vector<std::string>* journal = nullptr) : journal_(journal) {}
  void write(const std::string& line) override;

  std::vector<std::string> lines;

 private:
  std::vector<std::string>* journal_;
};

// Starts nothing: records each invocation (and the current directory at that
// moment) and answers `start_ok`; a watch is recorded and its callback kept.
// With a journal, adds "start process" and "watch" to it.
class FakeProcesses final : public support::Processes {
 public:
  explicit FakeProcesses(std::vector<std::string>* journal = nullptr) : journal_(journal) {}
  support::Status start(const platform::ProcessSpec& invocation, platform::Process* out) override;
  void watch(platform::Process process, std::function<void(int status)> ended) override;

  bool start_ok = true;
  std::vector<platform::ProcessSpec> started;
  std::string dir_at_start;
  std::vector<std::function<void(int status)>> watched;

 private:
  std::vector<std::string>* journal_;
};

// Pipes where every call fails the test: a fake of the pipes derives from it
// and overrides the calls the code under test may make.
class StrictPipes : public support::Pipes {
 public:
  support::Result<std::unique_ptr<platform::ServerPipe>> create_server(
      const std::string& name, const platform::PipeParams& params,
      const platform::PipeSecurity* security) override;
  platform::OpenResult open_client(const std::string& name, platform::PipeAccess access,
                                   bool notice_stream,
                                   std::unique_ptr<platform::ClientPipe>* out) override;
  bool wait(const std::string& name, unsigned timeout_ms) override;
  support::PipeState probe(const std::string& name) override;
  std::string name_problem(const std::string& name) override;
  void remove_stale(const std::string& base_name) override;
  bool served_elsewhere(const std::string& name) override;
};

// One request pipe over a virtual clock, as Windows has it: absent until
// `pipe_from_ms`, then busy (every instance taken) until `busy_until_ms`,
// then free. A wait on a busy pipe lasts until an instance comes free or its
// time-out runs out; opens can be scripted, or lose the race to other
// clients until `races_lost_until_ms`. An opened end plays `script`. Calls
// for any other name, and every other call, fail the test.
class TimedRequestPipe final : public StrictPipes {
 public:
  TimedRequestPipe(std::string name, VirtualClock& clock, ClientPipeScript& script)
      : name_(std::move(name)), clock_(clock), script_(script) {}

  platform::OpenResult open_client(const std::string& name, platform::PipeAccess access,
                                   bool notice_stream,
                                   std::unique_ptr<platform::ClientPipe>* out) override;
  bool wait(const std::string& name, unsigned timeout_ms) override;
  support::PipeState probe(const std::string& name) override;

  std::optional<std::uint64_t> pipe_from_ms;  // nothing: never
  std::uint64_t busy_until_ms = 0;
  std::uint64_t races_lost_until_ms = 0;
  std::deque<platform::OpenStatus> opens;  // scripted results first

  std::vector<std::uint64_t> wait_times;
  std::vector<unsigned> wait_timeouts;
  int open_calls = 0;

 private:
  bool is_there() const { return pipe_from_ms && clock_.clock_ms >= *pipe_from_ms; }
  bool is_free() const { return is_there() && clock_.clock_ms >= busy_until_ms; }
  void check_name(const std::string& name) const;

  std::string name_;
  VirtualClock& clock_;
  ClientPipeScript& script_;
};

}  // namespace testfakes

// The system as the client and the service reach it: one narrow interface per
// concern (pipes, processes, time, the log), each with a real implementation
// over the platform layer and a forwarding wrapper.
//
// Code that waits, starts, logs or makes pipes takes these interfaces as
// references, so that a test can hand it fakes. A test that needs one call to
// behave differently derives from the concern's wrapper, which forwards every
// call to a target, and overrides only that call.
//
// The real implementations hold no state: the process-wide instances that
// real_pipes(), real_processes(), real_clock() and real_log() return may be
// used from any thread, and live until the process ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "support/platform.h"
#include "support/status.h"

namespace support {

// What a short look at a pipe name finds.
enum class PipeState {
  none,  // no pipe of that name
  busy,  // the pipe exists but every instance is taken
  free,  // an instance is free: a wait would succeed at once
};

// Making, opening and looking for named pipes. Every call may be made from
// any thread; a pipe end handed out belongs to the caller, who closes it by
// destroying it.
class Pipes {
 public:
  virtual ~Pipes() = default;
  Pipes() = default;
  Pipes(const Pipes&) = delete;
  Pipes& operator=(const Pipes&) = delete;

  // Creates one server instance of the pipe `name`, with `security` from
  // owner_security_attributes (null: the platform's default). The failed
  // call and its error code when it cannot be made.
  [[nodiscard]] virtual Result<std::unique_ptr<platform::ServerPipe>> create_server(
      const std::string& name, const platform::PipeParams& params,
      const platform::PipeSecurity* security) = 0;
  // Opens a client end of `name` into `*out` (left empty unless opened).
  [[nodiscard]] virtual platform::OpenResult open_client(
      const std::string& name, platform::PipeAccess access, bool notice_stream,
      std::unique_ptr<platform::ClientPipe>* out) = 0;
  // True when an instance is free within `timeout_ms`; false at once when no
  // pipe of that name exists.
  [[nodiscard]] virtual bool wait(const std::string& name, unsigned timeout_ms) = 0;
  // Looks at the pipe; never waits more than a few milliseconds.
  [[nodiscard]] virtual PipeState probe(const std::string& name) = 0;
  // Empty text when a pipe of that name can be made and reached; otherwise
  // a line that says why not.
  [[nodiscard]] virtual std::string name_problem(const std::string& name) = 0;
  // Removes the socket files beginning with `base_name` that nobody listens
  // on any more (POSIX; nothing on Windows). Failures are not reported: a
  // file left behind only stays.
  virtual void remove_stale(const std::string& base_name) = 0;
  // True when another process serves the pipe `name` (POSIX: a live socket
  // of another process is bound to its socket file, found without
  // connecting); false when that cannot be told, and always on Windows.
  [[nodiscard]] virtual bool served_elsewhere(const std::string& name) = 0;
};

// Starting processes and watching them. Every call may be made from any
// thread.
class Processes {
 public:
  virtual ~Processes() = default;
  Processes() = default;
  Processes(const Processes&) = delete;
  Processes& operator=(const Processes&) = delete;

  // Starts a process as `invocation` says (in its working directory, when it
  // names one) into `*out`; the failure says which call of the creation
  // failed, and `*out` is then left as it was.
  [[nodiscard]] virtual Status start(const platform::ProcessSpec& invocation,
                                     platform::Process* out) = 0;
  // Takes `process` over and, on a thread of its own, waits for it to end
  // and calls `ended` with its exit status (as Process::wait gives it) on
  // that thread. When no thread can be started the process is only released
  // and `ended` is never called.
  virtual void watch(platform::Process process, std::function<void(int status)> ended) = 0;
};

// Time. Every call may be made from any thread.
class Clock {
 public:
  virtual ~Clock() = default;
  Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;

  // A monotonic clock in milliseconds, from an arbitrary start; never fails.
  [[nodiscard]] virtual std::uint64_t now_ms() = 0;
  // Suspends the calling thread for `milliseconds`.
  virtual void sleep_ms(unsigned milliseconds) = 0;
};

// The program's log. May be called from any thread; each line is written
// whole.
class Log {
 public:
  virtual ~Log() = default;
  Log() = default;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // Writes one line (the line end is added). A line that cannot be written
  // is lost without a report: there is nowhere else to tell.
  virtual void write(const std::string& line) = 0;
};

// The platform's pipes, processes and clock, and the program's log file
// (support::log_line). Process-wide instances.
[[nodiscard]] Pipes& real_pipes();
[[nodiscard]] Processes& real_processes();
[[nodiscard]] Clock& real_clock();
[[nodiscard]] Log& real_log();

// Forwarding wrappers: every call goes to the target, which must outlive the
// wrapper. Derive and override the calls that should behave differently.
class PipesWrapper : public Pipes {
 public:
  explicit PipesWrapper(Pipes& target) : target_(target) {}
  [[nodiscard]] Result<std::unique_ptr<platform::ServerPipe>> create_server(
      const std::string& name, const platform::PipeParams& params,
      const platform::PipeSecurity* security) override {
    return target_.create_server(name, params, security);
  }
  [[nodiscard]] platform::OpenResult open_client(
      const std::string& name, platform::PipeAccess access, bool notice_stream,
      std::unique_ptr<platform::ClientPipe>* out) override {
    return target_.open_client(name, access, notice_stream, out);
  }
  [[nodiscard]] bool wait(const std::string& name, unsigned timeout_ms) override {
    return target_.wait(name, timeout_ms);
  }
  [[nodiscard]] PipeState probe(const std::string& name) override { return target_.probe(name); }
  [[nodiscard]] std::string name_problem(const std::string& name) override {
    return target_.name_problem(name);
  }
  void remove_stale(const std::string& base_name) override { target_.remove_stale(base_name); }
  [[nodiscard]] bool served_elsewhere(const std::string& name) override {
    return target_.served_elsewhere(name);
  }

 protected:
  Pipes& target() { return target_; }

 private:
  Pipes& target_;
};

class ProcessesWrapper : public Processes {
 public:
  explicit ProcessesWrapper(Processes& target) : target_(target) {}
  [[nodiscard]] Status start(const platform::ProcessSpec& invocation,
                             platform::Process* out) override {
    return target_.start(invocation, out);
  }
  void watch(platform::Process process, std::function<void(int status)> ended) override {
    target_.watch(std::move(process), std::move(ended));
  }

 protected:
  Processes& target() { return target_; }

 private:
  Processes& target_;
};

class ClockWrapper : public Clock {
 public:
  explicit ClockWrapper(Clock& target) : target_(target) {}
  [[nodiscard]] std::uint64_t now_ms() override { return target_.now_ms(); }
  void sleep_ms(unsigned milliseconds) override { target_.sleep_ms(milliseconds); }

 protected:
  Clock& target() { return target_; }

 private:
  Clock& target_;
};

class LogWrapper : public Log {
 public:
  explicit LogWrapper(Log& target) : target_(target) {}
  void write(const std::string& line) override { target_.write(line); }

 protected:
  Log& target() { return target_; }

 private:
  Log& target_;
};

}  // namespace support

// What the service needs from the system beyond pipes, processes, time and
// the log, and the set of all its dependencies that the main loop, the
// launch and the relays are given.
#pragma once

#include <memory>
#include <string>

#include "service/relay.h"
#include "support/platform.h"
#include "support/status.h"
#include "support/system.h"

namespace hollin_service {

// The service's own needs. Every call may be made from any thread unless it
// says otherwise.
class ServiceSystem {
 public:
  virtual ~ServiceSystem() = default;
  ServiceSystem() = default;
  ServiceSystem(const ServiceSystem&) = delete;
  ServiceSystem& operator=(const ServiceSystem&) = delete;

  // The current user's login name.
  [[nodiscard]] virtual std::string login_name() = 0;
  // The random part of a per-request or wrapper pipe name.
  [[nodiscard]] virtual std::string random_part() = 0;
  // Writes and locks the pid file; a failure has already been logged with
  // its reason, before the caller's fixed line.
  [[nodiscard]] virtual support::Status write_pid_file() = 0;
  // Empties the log, once the pid file's lock is held: until then the log
  // may be a running service's, whose lines must stay.
  virtual void begin_log() = 0;
  // Makes the pid file again, with its lock, when it has been removed; logs
  // that it did, or why it could not.
  virtual void keep_pid_file() = 0;
  // Starts the relay of `job` on a worker thread of its own, which takes it
  // over; a failure leaves `job` with the caller.
  [[nodiscard]] virtual support::Status start_relay(std::unique_ptr<RelayJob>& job) = 0;
  // Debug mode: writes `text` to the console and flushes it.
  virtual void print_to_console(const std::string& text) = 0;
  // True when a pipe creation that failed with `failure` failed for lack of
  // descriptors (or memory for them).
  [[nodiscard]] virtual bool short_of_descriptors(const support::Status& failure) = 0;
  // True while relays are in flight, which give their descriptors back when
  // they end.
  [[nodiscard]] virtual bool relays_in_flight() = 0;
};

// The running service's: its login, the seeded pipe-name generator, the pid
// file in the work directory, detached relay threads, standard output. A
// process-wide instance.
[[nodiscard]] ServiceSystem& real_service_system();

// Forwards every call to `target`, which must outlive it.
class ServiceSystemWrapper : public ServiceSystem {
 public:
  explicit ServiceSystemWrapper(ServiceSystem& target) : target_(target) {}
  [[nodiscard]] std::string login_name() override { return target_.login_name(); }
  [[nodiscard]] std::string random_part() override { return target_.random_part(); }
  [[nodiscard]] support::Status write_pid_file() override { return target_.write_pid_file(); }
  void begin_log() override { target_.begin_log(); }
  void keep_pid_file() override { target_.keep_pid_file(); }
  [[nodiscard]] support::Status start_relay(std::unique_ptr<RelayJob>& job) override {
    return target_.start_relay(job);
  }
  void print_to_console(const std::string& text) override { target_.print_to_console(text); }
  [[nodiscard]] bool short_of_descriptors(const support::Status& failure) override {
    return target_.short_of_descriptors(failure);
  }
  [[nodiscard]] bool relays_in_flight() override { return target_.relays_in_flight(); }

 protected:
  ServiceSystem& target() { return target_; }

 private:
  ServiceSystem& target_;
};

// Everything the service reaches the system through.
struct ServiceDeps {
  support::Pipes& pipes;
  support::Processes& processes;
  support::Clock& clock;
  support::Log& log;
  ServiceSystem& system;
};

// The real ones: the platform's, the service log, real_service_system().
[[nodiscard]] ServiceDeps real_service_deps();

// The service-wide state that the main thread sets up.
struct ServiceState {
  std::string wrapper_pipe_name;                       // set once at start
  std::unique_ptr<platform::ServerPipe> wrapper_pipe;  // set once at start
  bool debug_mode = false;                             // final before the first worker starts
};

}  // namespace hollin_service

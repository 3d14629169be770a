// The service-wide state that the main thread sets up, and the operations
// through which the main loop and the launch reach the system. The real
// operations come from real_service_hooks(); tests replace them with fakes.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "service/relay.h"
#include "support/platform.h"

namespace hollin_service {

struct ServiceState {
  std::string wrapper_pipe_name;                       // set once at start
  std::unique_ptr<platform::ServerPipe> wrapper_pipe;  // set once at start
  bool debug_mode = false;                             // final before the first worker starts
};

struct ServiceHooks {
  LogSink log;
  std::function<std::string()> login_name;
  std::function<std::string()> random_part;
  // Creates one server instance of a pipe, or says which call failed and why.
  std::function<platform::Result<std::unique_ptr<platform::ServerPipe>>(
      const std::string& name, const platform::PipeParams& params)>
      create_pipe;
  // Writes and locks the pid file; a failure has been logged with its
  // reason by the hook.
  std::function<platform::Status()> write_pid_file;
  // Starts the relay of `job` on a worker thread of its own, which takes it
  // over; a failure leaves `job` with the caller.
  std::function<platform::Status(std::unique_ptr<RelayJob>& job)> start_relay;
  std::function<platform::Status(const platform::ProcessSpec& invocation, platform::Process* out)>
      start_process;
  // Takes over the graphical client's process and watches it.
  std::function<void(platform::Process process)> watch_process;
  // Empty text when a pipe of that name can be made, else why not. Unset:
  // every name can.
  std::function<std::string(const std::string& name)> pipe_name_problem;
  // Removes the socket files that a service that no longer runs left in the
  // work directory. Unset: nothing to remove.
  std::function<void()> remove_stale_pipes;
  // True when a pipe creation that failed with `failure` failed for lack of
  // descriptors (or memory for them), which relays in flight give back.
  // Unset: never.
  std::function<bool(const platform::Status& failure)> out_of_descriptors;
  // The pause before a creation that lacked descriptors is tried again.
  std::function<void()> descriptor_pause;
  // Where debug mode prints the wrapper pipe name.
  std::FILE* console = stdout;
};

// The operations of the running service: the service log, the real pipes
// with the owner's security attributes, the pid file, threads, processes.
[[nodiscard]] ServiceHooks real_service_hooks();

}  // namespace hollin_service

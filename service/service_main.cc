#include "service/service_main.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "service/launch.h"
#include "service/pipe_message.h"
#include "service/relay.h"
#include "support/pipe_names.h"
#include "support/runtime_services.h"
#include "support/work_dir.h"

namespace hollin_service {

namespace {

// A pipe of `max_instances` instances; a one-instance pipe must be the first
// instance of its name.
platform::PipeParams pipe_params(platform::PipeDirection direction, unsigned max_instances,
                                 bool notice_stream = false) {
  platform::PipeParams params;
  params.direction = direction;
  params.max_instances = max_instances;
  params.notice_stream = notice_stream;
  params.first_instance = max_instances == 1;
  return params;
}

}  // namespace

platform::PipeParams request_pipe_params() {
  platform::PipeParams params = pipe_params(platform::PipeDirection::duplex, 255);
  // The service looks after its pid file while nobody comes.
  params.report_idle = true;
  return params;
}

platform::PipeParams wrapper_pipe_params() {
  return pipe_params(platform::PipeDirection::outbound, 1, /*notice_stream=*/true);
}

platform::PipeParams hollin_request_pipe_params() {
  return pipe_params(platform::PipeDirection::outbound, 1);
}

platform::PipeParams hollin_response_pipe_params() {
  return pipe_params(platform::PipeDirection::inbound, 1);
}

std::string pipe_notice(const std::string& request_pipe, const std::string& response_pipe) {
  return request_pipe + "\n" + response_pipe + "\n";
}

std::string absolute_dir(bool windows, const std::string& dir, const std::string& current) {
  if (dir.empty() || current.empty()) return dir;
  // Windows: a drive letter, or a rooted or UNC path.
  const bool absolute =
      dir[0] == '/' || (windows && (dir[0] == '\\' || (dir.size() >= 2 && dir[1] == ':')));
  if (absolute) return dir;
  const char separator = windows ? '\\' : '/';
  const char last = current.back();
  const bool ends_with_separator = last == '/' || (windows && last == '\\');
  return ends_with_separator ? current + dir : current + separator + dir;
}

std::string resting_dir(bool windows, const std::string& executable) {
  if (!windows) return "/";
  const std::size_t separator = executable.find_last_of("\\/");
  if (separator == std::string::npos) return std::string();
  // "C:\" rather than "C:", which would name the drive's current directory.
  return executable.substr(0, separator == 2 && executable[1] == ':' ? 3 : separator);
}

platform::Status write_pid_file() {
  const std::string path = support::work_dir() + platform::kPathSeparator + support::kPidFileName;
  const platform::Status written = platform::write_pid_file(path, platform::current_pid());
  if (written.ok()) return written;
  // Why the service cannot start, before the fixed line that says it.
  const int error = written.code();
  if (error == EWOULDBLOCK || error == EAGAIN) {
    support::log_line("The pid file " + path + " is locked by another running service");
  } else if (error == EINVAL) {
    support::log_line("Could not write the pid file " + path + ": it is not a regular file");
  } else {
    support::log_line("Could not write the pid file " + path + ": " + written.reason());
  }
  return written;
}

void keep_pid_file() {
  const std::string path = support::work_dir() + platform::kPathSeparator + support::kPidFileName;
  bool remade = false;
  const platform::Status kept = platform::keep_pid_file(path, platform::current_pid(), &remade);
  if (remade) support::log_line("The pid file " + path + " was removed; made it again");
  // Said once, not at every idle second.
  static bool failure_logged = false;
  if (!kept.ok() && !failure_logged) {
    support::log_line("Could not make the removed pid file " + path + " again: " + kept.reason());
  }
  failure_logged = !kept.ok();
}

namespace {

// Creates one server instance of `name`; the owner's security is asked for
// anew for every pipe.
platform::Result<std::unique_ptr<platform::ServerPipe>> create_pipe(
    const std::string& name, const platform::PipeParams& params, const ServiceDeps& deps) {
  return deps.pipes.create_server(name, params,
                                  support::owner_security_attributes(kPipeAccessMask, 1));
}

// The two pipes of one request.
struct RequestPipes {
  std::unique_ptr<platform::ServerPipe> request;
  std::unique_ptr<platform::ServerPipe> response;
  // They could not be made for lack of descriptors, and no relay is in
  // flight to give any back.
  bool hopeless = false;
};

// Creates a request's two pipes. When descriptors have run out, the client
// is not dropped: both are tried again, as a pair, once relays in flight have
// given some back (as the accept of a client does); nothing is held while
// waiting, so that those relays can go on. With no relay in flight nothing
// would give any back: the attempt ends, marked hopeless. Any other failure
// ends the attempt too: a pipe that could not be made is null, and
// `response` is not tried when `request` failed.
RequestPipes create_request_pipes(const std::string& request_name, const std::string& response_name,
                                  const ServiceDeps& deps) {
  bool waiting = false;
  for (;;) {
    RequestPipes pipes;
    platform::Status failure;
    auto request = create_pipe(request_name, hollin_request_pipe_params(), deps);
    if (request.ok()) {
      pipes.request = std::move(request).value();
      auto response = create_pipe(response_name, hollin_response_pipe_params(), deps);
      if (response.ok()) {
        pipes.response = std::move(response).value();
        return pipes;
      }
      failure = response.status();
    } else {
      failure = request.status();
    }
    if (!deps.system.short_of_descriptors(failure)) return pipes;
    if (!deps.system.relays_in_flight()) {
      pipes.hopeless = true;
      return pipes;
    }
    pipes.request.reset();
    if (!waiting) {
      deps.log.write("Out of descriptors for a request's pipes; waiting for a relay to end");
      waiting = true;
    }
    deps.clock.sleep_ms(kDescriptorRetryMs);
  }
}

// Logs why the pipe `name` could not be made (the failed creation's
// reason), before the fixed line that says it failed.
void log_why_not_made(const std::string& name, const platform::Status& failure,
                      const ServiceDeps& deps) {
  deps.log.write("Could not create the pipe " + name + ": " + failure.reason());
}

// Makes the next unconnected instance of the request pipe into `instance`;
// false, with the reason and the fixed line logged, when it cannot be made.
bool make_request_instance(const std::string& request_name,
                           std::unique_ptr<platform::ServerPipe>& instance,
                           const ServiceDeps& deps) {
  auto made = create_pipe(request_name, request_pipe_params(), deps);
  if (!made.ok()) {
    log_why_not_made(request_name, made.status(), deps);
    deps.log.write("Could not create launcher request pipe\n");
    return false;
  }
  instance = std::move(made).value();
  return true;
}

// Logs that the service ends for lack of descriptors: with no relay in
// flight, nothing would give any back, and every later client would wait
// or fail; the next client starts a service of its own instead. The
// wrapper pipe is given up first, so that the log can be opened. False.
bool too_few_descriptors(ServiceState& state, const ServiceDeps& deps) {
  service_is_ending();
  state.wrapper_pipe.reset();
  deps.log.write(kTooFewDescriptorsLine);
  return false;
}

// Drops a client whose request cannot be relayed: the client finds its pipe
// disconnected and gets no reply.
void drop_client(std::unique_ptr<platform::ServerPipe> client) {
  client->disconnect();
  client.reset();
}

// Creates the two per-request pipes for a connected client, tells the
// graphical client their names and hands all three pipes to a new relay
// worker. A request that cannot be relayed is dropped. False when the
// service must end.
bool dispatch(std::unique_ptr<platform::ServerPipe> client, ServiceState& state,
              const std::string& login, const ServiceDeps& deps) {
  const std::string request_name = support::random_pipe_name(deps.system.random_part(), login);
  const std::string response_name = support::random_pipe_name(deps.system.random_part(), login);
  const std::string notice = pipe_notice(request_name, response_name);

  RequestPipes pipes = create_request_pipes(request_name, response_name, deps);
  std::unique_ptr<platform::ServerPipe> hollin_request = std::move(pipes.request);
  if (!hollin_request) {
    drop_client(std::move(client));
    deps.log.write("Could not create HOLLIN_Request_pipe\n");
    return !pipes.hopeless || too_few_descriptors(state, deps);
  }
  std::unique_ptr<platform::ServerPipe> hollin_response = std::move(pipes.response);
  if (!hollin_response) {
    hollin_request.reset();
    drop_client(std::move(client));
    deps.log.write("Could not create HOLLIN_Response_pipe");
    return !pipes.hopeless || too_few_descriptors(state, deps);
  }

  if (!state.wrapper_pipe->write(notice.data(), notice.size())) {
    deps.log.write("HOLLIN quit unexpectedly...exiting");
    return false;
  }

  std::unique_ptr<RelayJob> job(new (std::nothrow) RelayJob);
  if (!job) {
    deps.log.write("Out of memory \n");
    return false;
  }
  job->client_pipe = std::move(client);
  job->hollin_request_pipe = std::move(hollin_request);
  job->hollin_response_pipe = std::move(hollin_response);
  if (!deps.system.start_relay(job).ok()) {
    // Release the client at once instead of leaving it waiting for a reply
    // that no worker will relay.
    drop_client(std::move(job->client_pipe));
    job->hollin_request_pipe.reset();
    job->hollin_response_pipe.reset();
    job.reset();
    deps.log.write("Could not start relay thread");
  }
  return true;
}

}  // namespace

int run_service(const std::vector<std::string>& args, const ServiceDeps& deps) {
  ServiceState state;
  state.debug_mode = args.size() >= 2 && args[1] == kDebugOption;
  const std::string login = deps.system.login_name();

  // A name that cannot be used fails now, with the reason, rather than
  // leaving clients to wait for a pipe that will never come.
  // A per-request name must also fit in a notice to the graphical client.
  for (const std::string& name : {support::request_pipe_name(login),
                                  support::random_pipe_name(support::kLongestRandomPart, login)}) {
    std::string problem = support::notice_name_problem(name);
    if (problem.empty()) problem = deps.pipes.name_problem(name);
    if (!problem.empty()) {
      deps.log.write(problem);
      deps.log.write("Error in creating HOLLIN pipes\n");
      return 0;
    }
  }

  state.wrapper_pipe_name = support::random_pipe_name(deps.system.random_part(), login);
  auto wrapper = create_pipe(state.wrapper_pipe_name, wrapper_pipe_params(), deps);
  if (!wrapper.ok()) {
    log_why_not_made(state.wrapper_pipe_name, wrapper.status(), deps);
    deps.log.write("Error in creating HOLLIN pipes\n");
    return 0;
  }
  state.wrapper_pipe = std::move(wrapper).value();
  const std::string request_name = support::request_pipe_name(login);
  // A running service whose pid file was removed (a temporary-file cleaner)
  // holds the lock on a file that no longer has a name, and a new pid file
  // would lock at once: its request pipe still shows that it runs. The pid
  // file and the log are left to it.
  if (deps.pipes.served_elsewhere(request_name)) {
    deps.log.write("The request pipe " + request_name + " is served by another running service");
    deps.log.write("Error creating Lock File\n");
    return -1;
  }
  if (!deps.system.write_pid_file().ok()) {
    deps.log.write("Error creating Lock File\n");
    return -1;
  }
  // The log is ours only now: a service that lost the lock appended to the
  // running one's log and left its lines there.
  deps.system.begin_log();
  // Holding the lock, this is the only service of the user: a socket file of
  // ours that no live socket is bound to was left by one that was killed.
  deps.pipes.remove_stale(support::pipe_base_name());

  bool first_connection = true;
  std::unique_ptr<platform::ServerPipe> instance;
  if (!make_request_instance(request_name, instance, deps)) return -1;

  bool accept_waiting = false;
  for (;;) {
    // A client that connected before the wait counts as connected too.
    const platform::ConnectResult connected = instance->connect();
    if (connected == platform::ConnectResult::out_of_descriptors) {
      // The client stays queued until a relay in flight gives descriptors
      // back; with none in flight, none ever would.
      if (!deps.system.relays_in_flight()) {
        static_cast<void>(too_few_descriptors(state, deps));
        return -1;
      }
      if (!accept_waiting) {
        deps.log.write("Out of descriptors to accept a client; waiting for a relay to end");
        accept_waiting = true;
      }
      deps.clock.sleep_ms(kDescriptorRetryMs);
      continue;
    }
    accept_waiting = false;
    if (connected == platform::ConnectResult::idle) {
      // A pid file removed under the service (a temporary-file cleaner)
      // would make every client start a service of its own.
      deps.system.keep_pid_file();
      continue;
    }
    if (connected == platform::ConnectResult::lost) {
      // Someone removed the request pipe's socket file: it is made again
      // below (or the service ends when that cannot be done), so that the
      // clients that find this service through its pid file can reach it.
      deps.log.write("The request pipe " + request_name + " was removed; making it again");
      instance.reset();
    } else if (connected == platform::ConnectResult::failed) {
      drop_client(std::move(instance));
    } else {
      if (first_connection) {
        if (args.empty()) {
          deps.log.write("Path of hollin path is not passed by argv, quitting...");
          return -1;
        }
        if (!launch_hollin(args[0], state, deps).ok()) {
          deps.log.write("Failed to launch HOLLIN \n");
          return -1;
        }
        first_connection = false;
      }
      if (!dispatch(std::move(instance), state, login, deps)) return -1;
    }

    // Only one unconnected instance exists at a time: the next one is made
    // once the current connection has been handed on.
    if (!make_request_instance(request_name, instance, deps)) return -1;
  }
}

int service_main(int argc, char** argv) {
  // First, while this is the only thread: a service ended by a termination
  // signal removes its socket files as one that ends by itself does.
  // Without it the service still works; only a signal then leaves its
  // socket files behind, for the next service to remove.
  static_cast<void>(platform::remove_pipes_on_termination_signals());
  // A client started under a low descriptor limit hands it down, but the
  // service serves many requests at once for its whole life. Failing that,
  // it serves within the limit it was given (and ends when that is too
  // low for one request).
  static_cast<void>(platform::raise_descriptor_limit(kWantedDescriptors));
  // Seeded once, from the entropy source, before anything draws a name.
  seed_random_pipe_part();
  if (!support::init_work_dir()) {
    support::show_error(support::kWorkDirErrorText);
    return -1;
  }
  // Appended to, not emptied, until the pid file's lock is held.
  support::open_log(kServiceLogName);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  // The service runs for long: it leaves its caller's current directory, so
  // that it keeps no file system busy (one could not be unmounted while it
  // runs). The graphical client's directory is made absolute first.
  const std::string caller_dir = platform::current_dir();
  if (!args.empty()) args[0] = absolute_dir(platform::kWindows, args[0], caller_dir);
  // Failing that, it runs where it was started.
  static_cast<void>(
      platform::set_current_dir(resting_dir(platform::kWindows, platform::executable_path())));
  return run_service(args, real_service_deps());
}

}  // namespace hollin_service

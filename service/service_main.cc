#include "service/service_main.h"

#include <memory>
#include <new>
#include <utility>

#include "service/launch.h"
#include "service/pipe_message.h"
#include "service/relay.h"
#include "support/pipe_names.h"
#include "support/runtime_services.h"
#include "support/work_dir.h"

platform::PipeParams request_pipe_params() {
  platform::PipeParams params;
  params.direction = platform::PipeDirection::duplex;
  params.max_instances = 255;
  return params;
}

platform::PipeParams wrapper_pipe_params() {
  platform::PipeParams params;
  params.direction = platform::PipeDirection::outbound;
  params.max_instances = 1;
  params.notice_stream = true;
  params.first_instance = true;
  return params;
}

platform::PipeParams hollin_request_pipe_params() {
  platform::PipeParams params;
  params.direction = platform::PipeDirection::outbound;
  params.max_instances = 1;
  params.first_instance = true;
  return params;
}

platform::PipeParams hollin_response_pipe_params() {
  platform::PipeParams params;
  params.direction = platform::PipeDirection::inbound;
  params.max_instances = 1;
  params.first_instance = true;
  return params;
}

std::string pipe_notice(const std::string& request_pipe, const std::string& response_pipe) {
  return request_pipe + "\n" + response_pipe + "\n";
}

bool write_pid_file() {
  return platform::write_pid_file(work_dir() + platform::kPathSeparator + kPidFileName,
                                  platform::current_pid());
}

ServiceHooks real_service_hooks() {
  ServiceHooks hooks;
  hooks.log = log_line;
  hooks.login_name = [] { return std::string(my_login_name()); };
  hooks.random_part = random_pipe_part;
  hooks.create_pipe = [](const std::string& name, const platform::PipeParams& params) {
    // The attributes are asked for anew for every pipe.
    return platform::create_server_pipe(name, params,
                                        owner_security_attributes(kPipeAccessMask, 1));
  };
  hooks.write_pid_file = write_pid_file;
  hooks.start_thread = platform::start_detached_thread;
  hooks.start_process = platform::start_process;
  hooks.watch_process = watch_graphical_client;
  hooks.console = stdout;
  return hooks;
}

namespace {

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
              const std::string& login, const ServiceHooks& hooks) {
  const std::string request_name = random_pipe_name(hooks.random_part(), login);
  const std::string response_name = random_pipe_name(hooks.random_part(), login);
  const std::string notice = pipe_notice(request_name, response_name);

  std::unique_ptr<platform::ServerPipe> hollin_request =
      hooks.create_pipe(request_name, hollin_request_pipe_params());
  if (!hollin_request) {
    drop_client(std::move(client));
    hooks.log("Could not create HOLLIN_Request_pipe\n");
    return true;
  }
  std::unique_ptr<platform::ServerPipe> hollin_response =
      hooks.create_pipe(response_name, hollin_response_pipe_params());
  if (!hollin_response) {
    hollin_request.reset();
    drop_client(std::move(client));
    hooks.log("Could not create HOLLIN_Response_pipe");
    return true;
  }

  if (!state.wrapper_pipe->write(notice.data(), notice.size())) {
    hooks.log("HOLLIN quit unexpectedly...exiting");
    return false;
  }

  auto* job = new (std::nothrow) RelayJob;
  if (job == nullptr) {
    hooks.log("Out of memory \n");
    return false;
  }
  job->client_pipe = std::move(client);
  job->hollin_request_pipe = std::move(hollin_request);
  job->hollin_response_pipe = std::move(hollin_response);
  if (!hooks.start_thread(&relay_thread_body, job)) {
    // Release the client at once instead of leaving it waiting for a reply
    // that no worker will relay.
    drop_client(std::move(job->client_pipe));
    job->hollin_request_pipe.reset();
    job->hollin_response_pipe.reset();
    delete job;
    hooks.log("Could not start relay thread");
  }
  return true;
}

}  // namespace

int run_service(const std::vector<std::string>& args, const ServiceHooks& hooks) {
  ServiceState state;
  state.debug_mode = args.size() >= 2 && args[1] == kDebugOption;
  const std::string login = hooks.login_name();

  state.wrapper_pipe_name = random_pipe_name(hooks.random_part(), login);
  state.wrapper_pipe = hooks.create_pipe(state.wrapper_pipe_name, wrapper_pipe_params());
  if (!state.wrapper_pipe) {
    hooks.log("Error in creating HOLLIN pipes\n");
    return 0;
  }
  if (!hooks.write_pid_file()) {
    hooks.log("Error creating Lock File\n");
    return -1;
  }

  bool first_connection = true;
  const std::string request_name = request_pipe_name(login);
  std::unique_ptr<platform::ServerPipe> instance =
      hooks.create_pipe(request_name, request_pipe_params());
  if (!instance) {
    hooks.log("Could not create launcher request pipe\n");
    return -1;
  }

  for (;;) {
    // A client that connected before the wait counts as connected too.
    if (instance->connect() == platform::ConnectResult::failed) {
      drop_client(std::move(instance));
    } else {
      if (first_connection) {
        if (args.empty()) {
          hooks.log("Path of hollin path is not passed by argv, quitting...");
          return -1;
        }
        if (!launch_hollin(args[0], state, hooks)) {
          hooks.log("Failed to launch HOLLIN \n");
          return -1;
        }
        first_connection = false;
      }
      if (!dispatch(std::move(instance), state, login, hooks)) return -1;
    }

    // Only one unconnected instance exists at a time: the next one is made
    // once the current connection has been handed on.
    instance = hooks.create_pipe(request_name, request_pipe_params());
    if (!instance) {
      hooks.log("Could not create launcher request pipe\n");
      return -1;
    }
  }
}

int service_main(int argc, char** argv) {
  // Seeded once, from the entropy source, before anything draws a name.
  seed_random_pipe_part();
  if (!init_work_dir()) {
    show_error("\" Could not set the temporary directory \"");
    return -1;
  }
  init_log(kServiceLogName);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return run_service(args, real_service_hooks());
}

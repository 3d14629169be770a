// A child program for the process tests. By default it writes each of its
// arguments (argv[1] on) to standard output, one per line, and exits with 0.
// Modes, chosen by the first argument:
//   --exit N       exits with status N (a program's own return value)
//   --cwd          prints the current directory
//   --env NAME     prints "set:<value>" or "unset" for the variable NAME
//   --stderr TEXT  writes TEXT and a line end to standard error
//   --hang [PIPE]  waits until it is killed (ten minutes at most, then exits
//                  with 3); with PIPE, first connects to that pipe so that the
//                  parent can wait until the child is up
//   --exit-now N   blocks the main thread in a pipe connect and ends the
//                  process with status N from another thread
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "support/platform.h"

namespace {

std::string g_pipe_name;

void end_from_thread(void* status) {
  // The pipe exists before the main thread blocks on it; ending from here
  // must not depend on where the main thread is.
  platform::exit_now(static_cast<int>(reinterpret_cast<std::intptr_t>(status)));
}

int exit_now_from_thread(int status) {
  g_pipe_name = platform::kWindows ? "\\\\.\\pipe\\argv_echo_exit_now" : "/tmp/argv_echo_exit_now";
  g_pipe_name += std::to_string(platform::current_pid());
  platform::PipeParams params;
  auto pipe = platform::create_server_pipe(g_pipe_name, params, nullptr).value();
  if (!pipe) return 90;
  if (!platform::start_detached_thread(
          end_from_thread, reinterpret_cast<void*>(static_cast<std::intptr_t>(status)))) {
    return 91;
  }
  static_cast<void>(pipe->connect());  // blocks until the other thread ends the process
  return 92;  // nobody connects: reaching this means exit_now did not end the process
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--exit" && argc > 2) return static_cast<int>(std::strtol(argv[2], nullptr, 10));
  if (mode == "--cwd") {
    std::printf("%s\n", platform::current_dir().c_str());
    return 0;
  }
  if (mode == "--env" && argc > 2) {
    const char* value = std::getenv(argv[2]);
    if (value == nullptr) {
      std::printf("unset\n");
    } else {
      std::printf("set:%s\n", value);
    }
    return 0;
  }
  if (mode == "--stderr" && argc > 2) {
    std::fprintf(stderr, "%s\n", argv[2]);
    return 0;
  }
  if (mode == "--hang") {
    std::unique_ptr<platform::ClientPipe> ready;
    if (argc > 2 && platform::wait_named_pipe(argv[2], 60000)) {
      // The connection itself tells the test that this process runs.
      static_cast<void>(
          platform::open_client_pipe(argv[2], platform::PipeAccess::read_write, false, &ready)
              .kind);
    }
    platform::sleep_ms(600000);
    return 3;
  }
  if (mode == "--exit-now" && argc > 2) {
    return exit_now_from_thread(static_cast<int>(std::strtol(argv[2], nullptr, 10)));
  }
  for (int i = 1; i < argc; ++i) std::printf("%s\n", argv[i]);
  return 0;
}

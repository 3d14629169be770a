// Test stand-in for the prompt tool and the service. Every run appends its
// arguments, joined by '|', as one line to <its own path>.record. With the
// arguments "--hold <pipe>" it then connects to that pipe, writes "ready"
// and waits until the test closes the pipe, so that it stays alive exactly
// as long as a test needs a running process of its name. "--hold <pipe>
// <pid file>" first writes and locks that pid file, as the service does.
#include <cstdio>
#include <memory>
#include <string>

#include "support/platform.h"

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += '|';
    line += argv[i];
  }
  line += '\n';
  const std::string record = platform::executable_path() + ".record";
  if (std::FILE* file = std::fopen(record.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }

  if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--hold") {
    if (argc == 4 && !platform::write_pid_file(argv[3], platform::current_pid()).ok()) return 3;
    std::unique_ptr<platform::ClientPipe> pipe;
    if (!platform::wait_named_pipe(argv[2], 10000)) return 2;
    if (platform::open_client_pipe(argv[2], platform::PipeAccess::read_write, false, &pipe).kind !=
        platform::OpenStatus::opened) {
      return 2;
    }
    if (!pipe->write("ready", 5)) return 2;
    char byte = 0;
    std::size_t bytes = 0;
    static_cast<void>(pipe->read(&byte, 1, &bytes));  // returns when the test closes its end
  }
  return 0;
}

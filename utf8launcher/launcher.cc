#include "utf8launcher/launcher.h"

#include "support/layout.h"
#include "support/platform.h"

namespace tarnwickutf8 {

std::vector<std::string> client_arguments(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  args.emplace_back("-encoding");
  args.emplace_back("utf-8");
  return args;
}

int run_launcher(int argc, const char* const* argv) {
  platform::ProcessSpec invocation;
  invocation.program = support::program_path(support::kClientProgram);
  // An argument vector, never an interpreter line: on Windows the process
  // layer quotes each argument by the C runtime's rules, so blanks, quotes,
  // backslashes and shell characters arrive unchanged and run nothing.
  invocation.args = client_arguments(argc, argv);
  // The client's messages go where the launcher's own would.
  invocation.inherit_stdio = true;
  platform::Process client;
  if (!platform::start_process(invocation, &client)) return -1;
  return client.wait();
}

}  // namespace tarnwickutf8

#include "service/launch.h"

#include <atomic>
#include <utility>

namespace hollin_service {

std::string windows_gui_command_line(const std::string& directory,
                                     const std::string& wrapper_pipe_name) {
  // The program path stays unquoted; only the pipe name is quoted.
  return directory + "\\" + support::kGuiProgram + ".exe " + kGuiFixedOptions +
         support::kWrapperPipeProperty + "\"" + wrapper_pipe_name + "\"";
}

std::string posix_gui_program(const std::string& directory) {
  return directory + "/" + support::kGuiProgram;
}

std::vector<std::string> posix_gui_arguments(const std::string& wrapper_pipe_name) {
  std::vector<std::string> args;
  const std::string options = kGuiFixedOptions;
  std::size_t start = 0;
  for (std::size_t blank = options.find(' '); blank != std::string::npos;
       blank = options.find(' ', start)) {
    if (blank > start) args.push_back(options.substr(start, blank - start));
    start = blank + 1;
  }
  if (start < options.size()) args.push_back(options.substr(start));
  args.push_back(support::kWrapperPipeProperty + wrapper_pipe_name);
  return args;
}

std::string posix_gui_logged_line(const std::string& directory,
                                  const std::string& wrapper_pipe_name) {
  // The fixed options already end with a blank.
  return posix_gui_program(directory) + " " + kGuiFixedOptions + support::kWrapperPipeProperty +
         "\"" + wrapper_pipe_name + "\"";
}

GuiLaunch gui_launch_for(bool windows, const std::string& directory,
                         const std::string& wrapper_pipe_name) {
  // No working directory, window settings or creation flags of our own: the
  // caller sets the child's working directory in its invocation.
  GuiLaunch launch;
  if (windows) {
    launch.invocation.program = directory + "\\marlow.exe";
    launch.invocation.command_line = windows_gui_command_line(directory, wrapper_pipe_name);
    launch.logged_line = launch.invocation.command_line;
  } else {
    launch.invocation.program = posix_gui_program(directory);
    launch.invocation.args = posix_gui_arguments(wrapper_pipe_name);
    launch.logged_line = posix_gui_logged_line(directory, wrapper_pipe_name);
  }
  return launch;
}

platform::Status launch_hollin(const std::string& directory, ServiceState& state,
                               const ServiceDeps& deps) {
  if (!state.debug_mode) {
    const GuiLaunch launch = gui_launch_for(platform::kWindows, directory, state.wrapper_pipe_name);
    deps.log.write(launch.logged_line);
    // The graphical client runs in its own directory, into which the child
    // changes itself: the service has threads by now and never changes its
    // own current directory.
    platform::ProcessSpec invocation = launch.invocation;
    invocation.working_dir = directory;
    platform::Process process;
    const platform::Status started = deps.processes.start(invocation, &process);
    if (!started.ok()) {
      deps.log.write("Could not create HOLLIN process");
      return started;
    }
    // Without a watcher the service still notices a lost graphical client
    // when the next pipe notice cannot be written. The service's log lives
    // as long as the process, and so outlives the watcher.
    support::Log& log = deps.log;
    deps.processes.watch(std::move(process),
                         [&log](int status) { graphical_client_ended(status, log); });
  } else {
    deps.log.write("Debug option was passed, HOLLIN will not be launched");
    deps.log.write(state.wrapper_pipe_name);
    deps.system.print_to_console(state.wrapper_pipe_name + "\n");
  }
  // A failed wait is not examined: the first write of a pipe notice decides.
  static_cast<void>(state.wrapper_pipe->connect());
  return platform::Status();
}

namespace {
std::atomic<bool> ending{false};
}  // namespace

void service_is_ending() { ending.store(true); }

void graphical_client_ended(int status, support::Log& log) {
  if (ending.load()) return;
  // On POSIX -1 means the wait itself failed (statuses are 0 to 255): the
  // process may still run, so leave it to the notice write to notice a loss.
  if (status == -1 && !platform::kWindows) return;
  log.write("HOLLIN quit unexpectedly...exiting");
  platform::exit_now(-1);
}

}  // namespace hollin_service

// Starting the graphical client and waiting for it on the wrapper pipe.
#pragma once

#include <string>
#include <vector>

#include "service/service_system.h"
#include "support/layout.h"
#include "support/platform.h"

namespace hollin_service {

// The graphical client's options, passed on unchanged; the last one is
// followed by the wrapper-pipe property.
inline constexpr const char* kGuiFixedOptions =
    "-product com.orvane.tessel.team.client.integration.product "
    "-application com.orvane.tessel.team.client.integration.application "
    "-configuration @user.home\\.Tessel\\Marlow8\\config "
    "-data @user.home\\.Tessel\\Marlow8\\workspace "
    "-nosplash -vmargs ";

// Windows: the command line "<directory>\marlow.exe <options> <property>="<name>"".
// The directory is taken as it stands (a trailing backslash is doubled).
[[nodiscard]] std::string windows_gui_command_line(const std::string& directory,
                                                   const std::string& wrapper_pipe_name);

// POSIX: the program "<directory>/marlow" and its arguments: the fixed
// options one by one, then the property with the name unquoted.
[[nodiscard]] std::string posix_gui_program(const std::string& directory);
[[nodiscard]] std::vector<std::string> posix_gui_arguments(const std::string& wrapper_pipe_name);
// POSIX: what the log shows, the program and arguments joined with single
// blanks, the property's value in double quotes as on Windows.
[[nodiscard]] std::string posix_gui_logged_line(const std::string& directory,
                                                const std::string& wrapper_pipe_name);

// How a platform starts the graphical client, and the line it logs for it.
struct GuiLaunch {
  platform::ProcessSpec invocation;
  std::string logged_line;
};
[[nodiscard]] GuiLaunch gui_launch_for(bool windows, const std::string& directory,
                                       const std::string& wrapper_pipe_name);

// Starts the graphical client from `directory` and has it watched (or, in
// debug mode, prints the wrapper pipe name for a person to start it), then
// waits until a peer has connected to the wrapper pipe. A failure when the
// process cannot be created, with the cause the process start gave.
[[nodiscard]] platform::Status launch_hollin(const std::string& directory, ServiceState& state,
                                             const ServiceDeps& deps);

// Called by the watcher with the graphical client's exit status when it
// ends: the service logs "HOLLIN quit unexpectedly...exiting" to `log` and
// ends with -1, so that waiting clients fail at once and the next one starts
// a fresh service. A failed wait on POSIX (-1) is no end and changes nothing.
// Once the service has begun ending for a reason of its own (it gives up the
// wrapper pipe, so the graphical client ends too), the client's end changes
// nothing either: the service's own last line must not be cut off by it.
void graphical_client_ended(int status, support::Log& log);

// The service ends for a reason it logs itself; from now on the graphical
// client's end is expected. Any thread may call it.
void service_is_ending();

}  // namespace hollin_service

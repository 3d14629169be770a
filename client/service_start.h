// Finding this installation's running relay service for the user, and
// starting one when there is none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "client/channel.h"
#include "support/platform.h"

namespace tarnwick {

// The process id at the start of a pid file's text, read as formatted stream
// input reads an integer: white space skipped, an optional sign, digits.
// Nothing when no integer can be read.
[[nodiscard]] std::optional<int> parse_pid_text(const std::string& text);

// How the service is started on Windows: the quoted executable path, one
// blank, the quoted graphical-client directory, hidden.
[[nodiscard]] platform::ProcessSpec windows_service_spec(const std::string& exe_path,
                                                         const std::string& gui_dir);
// How it is started on POSIX: the directory as the one argument, in a new
// session, with the standard streams on the null device.
[[nodiscard]] platform::ProcessSpec posix_service_spec(const std::string& exe_path,
                                                       const std::string& gui_dir);

// The service executable of this installation.
[[nodiscard]] std::string service_exe_path();
// True when process `pid` runs this installation's service executable
// (compared without regard to case).
[[nodiscard]] bool is_service_process(std::uint32_t pid);
// True when a live service holds the pid file's lock in the work directory;
// when the lock cannot be looked at, when the pid file names a live service
// of this installation.
[[nodiscard]] bool service_running();
// How often a failed process start is tried before the client gives up.
inline constexpr int kServiceStartAttempts = 3;

// Starts the service in the background without waiting for it; a failure
// carries the last try's cause. `started`, when given, receives the
// process, so that the client can tell whether it is still alive.
[[nodiscard]] platform::Status start_service(platform::Process* started = nullptr);

// Alive while the service this client started runs, or else while a live
// service holds the pid file's lock (one that another client started, or
// the one that won the lock against ours).
class RunningServiceWatch final : public ServiceWatch {
 public:
  explicit RunningServiceWatch(platform::Process started) : started_(std::move(started)) {}
  [[nodiscard]] bool alive() override;

 private:
  platform::Process started_;
};

}  // namespace tarnwick

// hollin_service: start-up and the accept loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "service/service_system.h"
#include "support/platform.h"

namespace hollin_service {

inline constexpr const char* kServiceLogName = "hollin_service.log";
inline constexpr const char* kDebugOption = "-debug";
// Full access to a file object, for the current user, on every pipe.
inline constexpr unsigned long kPipeAccessMask = 0x1F01FF;
// The pause before a pipe creation or accept that lacked descriptors is
// tried again.
inline constexpr unsigned kDescriptorRetryMs = 10;
// The descriptor limit the service raises its soft limit to (at most its
// hard limit): enough for hundreds of requests in flight.
inline constexpr std::uint64_t kWantedDescriptors = 4096;
// Logged when the service ends because no relay in flight could give back
// the descriptors that one request needs.
inline constexpr const char* kTooFewDescriptorsLine =
    "Too few descriptors left to serve a request; exiting";

// The parameters of each kind of pipe.
[[nodiscard]] platform::PipeParams request_pipe_params();
[[nodiscard]] platform::PipeParams wrapper_pipe_params();
[[nodiscard]] platform::PipeParams hollin_request_pipe_params();
[[nodiscard]] platform::PipeParams hollin_response_pipe_params();

// The pipe notice: the two per-request pipe names, each followed by a line feed.
[[nodiscard]] std::string pipe_notice(const std::string& request_pipe,
                                      const std::string& response_pipe);

// `dir` made absolute against `current` by the platform's rules (Windows:
// a drive letter or a UNC prefix makes it absolute); as it stands when it
// already is, or when either is empty.
[[nodiscard]] std::string absolute_dir(bool windows, const std::string& dir,
                                       const std::string& current);
// The directory the service runs in: "/" on POSIX, the directory of its
// executable on Windows (busy anyway while it runs). Empty when there is
// none.
[[nodiscard]] std::string resting_dir(bool windows, const std::string& executable);

// Writes the service's process id into <work dir>/hollin_service.pid. On
// POSIX the file also stays locked for the service's life. A failure (it
// cannot be written, or another live service holds it) is logged with its
// reason, before the caller's fixed line.
[[nodiscard]] platform::Status write_pid_file();

// Makes the pid file again when it has been removed under the service, and
// logs that it did (or why it could not).
void keep_pid_file();

// The program's entry: seeds the pipe-name generator, sets up the work
// directory and the log, then runs the service. Returns the exit status.
[[nodiscard]] int service_main(int argc, char** argv);

// Everything after the log is set up: the wrapper pipe, the pid file, the
// request pipe and the accept loop, reaching the system through `deps`.
// `args` are the command-line arguments after the program name. Returns -1,
// or 0 when the wrapper pipe cannot be created; there is no successful end.
[[nodiscard]] int run_service(const std::vector<std::string>& args, const ServiceDeps& deps);

}  // namespace hollin_service

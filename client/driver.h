// The client's run, from start-up to exit status, in its fixed order.
#pragma once

namespace tarnwick {

inline constexpr const char* kClientLogName = "tarnwick.log";
inline constexpr const char* kServiceStartFailedLine = "Unable to start hollin_service";
// Stands before the graphical client's own reason when it answers a call
// with a fault.
inline constexpr const char* kFaultLinePrefix = "The graphical client refused the call: ";

// One run of the client. Returns the exit status: 0 when the graphical
// client reported success, -1 in every other case.
[[nodiscard]] int run_client(int argc, const char* const* argv);

}  // namespace tarnwick

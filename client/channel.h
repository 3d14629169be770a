// The client's side of the service channel: wait for the user's request
// pipe, open it, write the request as one message, read the reply once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/platform.h"
#include "support/system.h"

namespace tarnwick {

// Whether a service that can still make or serve the request pipe is alive:
// the one this client started, or the one the pid file names.
// Asked from the thread that runs the exchange.
class ServiceWatch {
 public:
  virtual ~ServiceWatch() = default;
  ServiceWatch() = default;
  ServiceWatch(const ServiceWatch&) = delete;
  ServiceWatch& operator=(const ServiceWatch&) = delete;

  // False once no service is left that could make or serve the pipe.
  [[nodiscard]] virtual bool alive() = 0;
};

// What the exchange reaches the system through: the pipes, a monotonic
// clock and sleep (the waiting budget), the client's log, and the watch on
// the service.
struct ChannelDeps {
  support::Pipes& pipes;
  support::Clock& clock;
  support::Log& log;
  ServiceWatch& watch;
};

// The waiting budget and the reply buffer.
inline constexpr unsigned kPipeWaitMs = 10000;
inline constexpr int kMaxPipeWaits = 13;
inline constexpr unsigned kPauseMs = 10000;
// The most the whole wait may take: every wait and every pause at full
// length. Instances lost to other clients spend this time, not waits.
inline constexpr std::uint64_t kWaitLimitMs =
    static_cast<std::uint64_t>(kMaxPipeWaits) * (kPipeWaitMs + kPauseMs);
// How often a pause looks at the pipe.
inline constexpr unsigned kPauseSliceMs = 5;
// The breath taken after an instance was lost to another client, before the
// next wait.
inline constexpr unsigned kLostRacePauseMs = 5;
// How often a pause asks whether the service is still alive, and how long no
// service and no pipe must last before the wait is given up: a service that
// lost the race for the lock ends at once, and the winner may not have
// written its id yet.
inline constexpr unsigned kLivenessCheckMs = 50;
inline constexpr unsigned kServiceGoneGraceMs = 1000;
inline constexpr std::size_t kReplyBufferSize = 1024;

inline constexpr const char* kServiceGoneLine =
    "hollin_service is not running: it ended before it could serve the request pipe "
    "(see hollin_service.log)";

// Carries `request` to the service on `pipe_name` and reads its reply into
// `*reply` (left empty on failure). True when the request was written and a
// reply read.
[[nodiscard]] bool exchange_with_service(const ChannelDeps& deps, const std::string& pipe_name,
                                         const std::string& request, std::string* reply);

// The same over the current user's request pipe and the real platform,
// watching the service through `watch` (none: taken to be alive).
[[nodiscard]] bool exchange_with_service(const std::string& request, std::string* reply,
                                         ServiceWatch* watch = nullptr);

}  // namespace tarnwick

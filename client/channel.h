// The client's side of the service channel: wait for the user's request
// pipe, open it, write the request as one message, read the reply once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/platform.h"

namespace tarnwick {

// What a short look at the pipe finds.
enum class PipeState {
  none,  // no pipe of that name: no service serves it (yet)
  busy,  // the pipe exists but every instance is taken
  free,  // an instance is free: a wait would succeed at once
};

// Whether a service that can still make or serve the request pipe is alive:
// the one this client started, or the one the pid file names.
class ServiceWatch {
 public:
  virtual ~ServiceWatch() = default;
  ServiceWatch() = default;
  ServiceWatch(const ServiceWatch&) = delete;
  ServiceWatch& operator=(const ServiceWatch&) = delete;

  [[nodiscard]] virtual bool alive() = 0;
};

// What the exchange needs from the outside world, so that tests can drive
// the waiting budget with a virtual clock and fake pipes.
class ChannelEnv {
 public:
  virtual ~ChannelEnv() = default;
  ChannelEnv() = default;
  ChannelEnv(const ChannelEnv&) = delete;
  ChannelEnv& operator=(const ChannelEnv&) = delete;

  // True when an instance of the pipe is free within `timeout_ms`; false at
  // once when no pipe of that name exists.
  [[nodiscard]] virtual bool wait(const std::string& name, unsigned timeout_ms) = 0;
  // Looks at the pipe; never waits more than a few milliseconds.
  [[nodiscard]] virtual PipeState probe(const std::string& name) = 0;
  // Opens the client end for reading and writing.
  [[nodiscard]] virtual platform::OpenStatus open(const std::string& name,
                                                  std::unique_ptr<platform::ClientPipe>* pipe) = 0;
  virtual void sleep_ms(unsigned milliseconds) = 0;
  // A monotonic clock in milliseconds.
  [[nodiscard]] virtual std::uint64_t now_ms() = 0;
  // False once no service is left that could serve the pipe.
  [[nodiscard]] virtual bool service_alive() = 0;
  // Writes one line to the client's log.
  virtual void log(const std::string& line) = 0;
};

// The platform's pipes, clock and sleep, the client's log, and `watch` (none:
// the service is taken to be alive).
class RealChannelEnv final : public ChannelEnv {
 public:
  explicit RealChannelEnv(ServiceWatch* watch = nullptr) : watch_(watch) {}
  [[nodiscard]] bool wait(const std::string& name, unsigned timeout_ms) override;
  [[nodiscard]] PipeState probe(const std::string& name) override;
  [[nodiscard]] platform::OpenStatus open(const std::string& name,
                                          std::unique_ptr<platform::ClientPipe>* pipe) override;
  void sleep_ms(unsigned milliseconds) override;
  [[nodiscard]] std::uint64_t now_ms() override;
  [[nodiscard]] bool service_alive() override;
  void log(const std::string& line) override;

 private:
  ServiceWatch* watch_;
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
[[nodiscard]] bool exchange_with_service(ChannelEnv& env, const std::string& pipe_name,
                                         const std::string& request, std::string* reply);

// The same over the current user's request pipe and the real platform,
// watching the service through `watch` (none: taken to be alive).
[[nodiscard]] bool exchange_with_service(const std::string& request, std::string* reply,
                                         ServiceWatch* watch = nullptr);

}  // namespace tarnwick

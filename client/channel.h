// The client's side of the service channel: wait for the user's request
// pipe, open it, write the request as one message, read the reply once.
#pragma once

#include <memory>
#include <string>

#include "support/platform.h"

// What the exchange needs from the outside world, so that tests can drive
// the waiting budget with a fake clock and fake pipes.
class ChannelEnv {
 public:
  virtual ~ChannelEnv() = default;
  ChannelEnv() = default;
  ChannelEnv(const ChannelEnv&) = delete;
  ChannelEnv& operator=(const ChannelEnv&) = delete;

  // True when an instance of the pipe is free within `timeout_ms`; false at
  // once when no pipe of that name exists.
  virtual bool wait(const std::string& name, unsigned timeout_ms) = 0;
  // True when a pipe of that name exists, free or busy; never waits long.
  virtual bool exists(const std::string& name) = 0;
  // Opens the client end for reading and writing.
  virtual platform::OpenStatus open(const std::string& name,
                                    std::unique_ptr<platform::ClientPipe>* pipe) = 0;
  virtual void sleep_ms(unsigned milliseconds) = 0;
  // Writes one line to the client's log.
  virtual void log(const std::string& line) = 0;
};

// The platform's pipes, sleep and the client's log.
class RealChannelEnv final : public ChannelEnv {
 public:
  bool wait(const std::string& name, unsigned timeout_ms) override;
  bool exists(const std::string& name) override;
  platform::OpenStatus open(const std::string& name,
                            std::unique_ptr<platform::ClientPipe>* pipe) override;
  void sleep_ms(unsigned milliseconds) override;
  void log(const std::string& line) override;
};

// The waiting budget and the reply buffer.
inline constexpr unsigned kPipeWaitMs = 10000;
inline constexpr int kMaxPipeWaits = 13;
inline constexpr unsigned kPauseMs = 10000;
// How often a pause looks whether the pipe has appeared.
inline constexpr unsigned kPauseSliceMs = 5;
inline constexpr std::size_t kReplyBufferSize = 1024;

// Carries `request` to the service on `pipe_name` and reads its reply into
// `*reply` (left empty on failure). True when the request was written and a
// reply read.
bool exchange_with_service(ChannelEnv& env, const std::string& pipe_name,
                           const std::string& request, std::string* reply);

// The same over the current user's request pipe and the real platform.
bool exchange_with_service(const std::string& request, std::string* reply);

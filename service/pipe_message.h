// The random pipe part and the reading of one whole pipe message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "support/platform.h"

namespace hollin_service {

// Draws the random parts of the wrapper and per-request pipe names: two draws
// from 0 to 32767, multiplied, plus 7137, in decimal. The generator is seeded
// from the system's entropy source rather than the clock, so that services
// started in the same second draw different names and no other local user
// can work the names out from the start time.
class PipePartGenerator {
 public:
  // Seeded from platform::random_bytes (falls back on std::random_device).
  PipePartGenerator();
  // A fixed seed, for tests.
  explicit PipePartGenerator(std::uint64_t seed);

  // One draw from 0 to 32767.
  unsigned draw();
  // One random pipe part: draw() * draw() + 7137, formatted with "%u".
  [[nodiscard]] std::string next();

 private:
  std::mt19937 engine_;
};

// The service's random pipe part, from one generator that the main thread
// seeds at start (seed_random_pipe_part) and is the only one to draw from.
void seed_random_pipe_part();
[[nodiscard]] std::string random_pipe_part();

// One message as read from a pipe: its bytes, with room kept in front of
// them so that a header can be put there and both written with one write,
// without copying the message.
class PipeMessage {
 public:
  PipeMessage() = default;
  const char* data() const { return bytes_ ? bytes_.get() + head_room_ : ""; }
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] std::string text() const { return std::string(data(), size_); }

  // Puts `header` in the room in front of the message and returns the start
  // of header and message (size() then counts both); null when the header
  // is longer than the room left.
  const char* prepend(const std::string& header);

 private:
  friend void read_pipe_message(platform::ServerPipe& pipe, std::size_t head_room,
                                PipeMessage* message);
  struct Free {
    void operator()(char* bytes) const;
  };
  std::unique_ptr<char, Free> bytes_;
  std::size_t head_room_ = 0;  // bytes free in front (shrinks as a header goes there)
  std::size_t size_ = 0;
};

// The chunks a message is counted in from its start: a zero byte inside a
// chunk cuts off the rest of that chunk, while later chunks are still taken.
inline constexpr std::size_t kMessageChunk = 4095;

// Reads one whole message. The first read asks for one chunk, so that a
// short message costs one small read; a longer message is read in larger
// reads straight into one growing buffer (sized for the rest at once where
// the pipe tells how much is left), and the chunk rule above is then
// applied to the bytes by their offset in the message, which gives the same
// text as reading chunk by chunk (each read of a message fills its buffer
// unless it reaches the end). A read that fails ends the message with what
// the earlier reads gathered (possibly nothing). `head_room` bytes are kept
// free in front of the message.
void read_pipe_message(platform::ServerPipe& pipe, std::size_t head_room, PipeMessage* message);
[[nodiscard]] std::string read_pipe_message(platform::ServerPipe& pipe);

}  // namespace hollin_service

// The random pipe part and the reading of one whole pipe message.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "support/platform.h"

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
  std::string next();

 private:
  std::mt19937 engine_;
};

// The service's random pipe part, from one generator that the main thread
// seeds at start (seed_random_pipe_part) and is the only one to draw from.
void seed_random_pipe_part();
std::string random_pipe_part();

// Reads one whole message: chunks of at most 4095 bytes, each cut at its
// first zero byte, for as long as the pipe reports more data. A read that
// fails ends the message with what was gathered so far (possibly nothing).
std::string read_pipe_message(platform::ServerPipe& pipe);

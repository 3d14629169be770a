#include "service/pipe_message.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr unsigned kDrawMax = 32767;
constexpr unsigned kPartOffset = 7137;
constexpr std::size_t kReadBufferSize = 4096;

std::mt19937 entropy_seeded_engine() {
  std::array<std::uint32_t, 8> words{};
  if (!platform::random_bytes(words.data(), sizeof words)) {
    std::random_device device;
    for (auto& word : words) word = device();
  }
  std::seed_seq seq(words.begin(), words.end());
  return std::mt19937(seq);
}

std::unique_ptr<PipePartGenerator>& service_generator() {
  static std::unique_ptr<PipePartGenerator> generator;
  return generator;
}

}  // namespace

PipePartGenerator::PipePartGenerator() : engine_(entropy_seeded_engine()) {}

PipePartGenerator::PipePartGenerator(std::uint64_t seed) {
  std::seed_seq seq{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
  engine_.seed(seq);
}

unsigned PipePartGenerator::draw() {
  // The top 15 bits of one 32-bit output: uniform over 0..32767.
  return static_cast<unsigned>(engine_() >> 17) & kDrawMax;
}

std::string PipePartGenerator::next() {
  const unsigned first = draw();
  const unsigned second = draw();
  char text[16];
  std::snprintf(text, sizeof text, "%u", first * second + kPartOffset);
  return text;
}

void seed_random_pipe_part() { service_generator() = std::make_unique<PipePartGenerator>(); }

std::string random_pipe_part() {
  if (!service_generator()) seed_random_pipe_part();
  return service_generator()->next();
}

std::string read_pipe_message(platform::ServerPipe& pipe) {
  std::string text;
  char buffer[kReadBufferSize];
  for (;;) {
    std::memset(buffer, 0, sizeof buffer);
    const platform::ReadResult result = pipe.read(buffer, kReadBufferSize - 1);
    if (result.status == platform::ReadStatus::failed) return text;
    const std::size_t bytes = result.bytes < kReadBufferSize - 1 ? result.bytes : kReadBufferSize - 1;
    buffer[bytes] = '\0';
    text.append(buffer, std::strlen(buffer));
    if (result.status == platform::ReadStatus::complete) return text;
  }
}

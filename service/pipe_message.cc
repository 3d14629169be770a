#include "service/pipe_message.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace hollin_service {

namespace {

constexpr unsigned kDrawMax = 32767;
constexpr unsigned kPartOffset = 7137;

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

const char* PipeMessage::prepend(const std::string& header) {
  if (header.size() > head_room_) return nullptr;
  head_room_ -= header.size();
  size_ += header.size();
  std::memcpy(bytes_.get() + head_room_, header.data(), header.size());
  return bytes_.get() + head_room_;
}

namespace {

// Applies the chunk rule to `size` bytes at `data` in place: each chunk of
// kMessageChunk bytes, counted from the message's start, is cut at its first
// zero byte. Returns the size kept.
std::size_t cut_chunks_at_zero_bytes(char* data, std::size_t size) {
  if (std::memchr(data, '\0', size) == nullptr) return size;  // the usual case
  std::size_t kept = 0;
  for (std::size_t at = 0; at < size; at += kMessageChunk) {
    const std::size_t chunk = std::min(kMessageChunk, size - at);
    const void* zero = std::memchr(data + at, '\0', chunk);
    const std::size_t length =
        zero == nullptr ? chunk
                        : static_cast<std::size_t>(static_cast<const char*>(zero) - (data + at));
    std::memmove(data + kept, data + at, length);
    kept += length;
  }
  return kept;
}

// The first read after the first chunk; each later one doubles the buffer.
constexpr std::size_t kFirstLargeRead = std::size_t{64} << 10;
constexpr std::size_t kLargestHintedRead = std::size_t{256} << 20;

}  // namespace

void PipeMessage::Free::operator()(char* bytes) const { std::free(bytes); }

void read_pipe_message(platform::ServerPipe& pipe, std::size_t head_room, PipeMessage* message) {
  // The buffer's bytes are never read before a read has written them, so it
  // is not cleared. It grows with realloc, which (with the Linux C library)
  // moves a large block by remapping its pages rather than copying them.
  std::size_t capacity = kMessageChunk;
  std::unique_ptr<char, PipeMessage::Free> bytes(
      static_cast<char*>(std::malloc(head_room + capacity)));
  if (!bytes) throw std::bad_alloc();
  std::size_t size = 0;
  std::size_t left = 0;
  for (;;) {
    if (size == capacity) {
      // When the pipe told how much of the message is left, the buffer takes
      // all of it at once (one byte more, so that the read that takes it
      // need not ask again whether the message goes on).
      const std::size_t grown =
          left > 0 ? size + left + 1 : std::max(kFirstLargeRead, capacity * 2);
      char* larger = static_cast<char*>(std::realloc(bytes.get(), head_room + grown));
      if (larger == nullptr) throw std::bad_alloc();
      (void)bytes.release();
      bytes.reset(larger);
      capacity = grown;
    }
    const platform::ReadResult result = pipe.read(bytes.get() + head_room + size, capacity - size);
    if (result.status == platform::ReadStatus::failed) break;
    size += std::min(result.bytes, capacity - size);
    if (result.status == platform::ReadStatus::complete) break;
    // A hint beyond this is not trusted with one allocation.
    left = result.left_in_message <= kLargestHintedRead ? result.left_in_message : 0;
  }
  size = cut_chunks_at_zero_bytes(bytes.get() + head_room, size);
  message->bytes_ = std::move(bytes);
  message->head_room_ = head_room;
  message->size_ = size;
}

std::string read_pipe_message(platform::ServerPipe& pipe) {
  PipeMessage message;
  read_pipe_message(pipe, 0, &message);
  return message.text();
}

}  // namespace hollin_service

// Fuzzes read_pipe_message over a scripted server pipe. The input is a
// sequence of reads: a status byte (failed, complete or more data, and
// whether the reported count overstates what was written), two bytes of
// length, then that many bytes of data (fewer when the input runs out). An
// input that runs out makes every later read fail.
//
// The message must be exactly the data of the reads up to the first failed
// or complete one, each read's data cut at its first zero byte.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_util.h"
#include "service/pipe_message.h"
#include "support/platform.h"

namespace {

class ScriptedPipe : public platform::ServerPipe {
 public:
  explicit ScriptedPipe(fuzz::ByteReader* input) : input_(input) {}

  platform::ConnectResult connect() override { return platform::ConnectResult::connected; }
  platform::ReadResult read(char* buffer, std::size_t size) override {
    fuzz::check(!finished_, "no read after the message has ended");
    if (input_->empty()) return finish({platform::ReadStatus::failed, 0});
    const std::uint8_t status = input_->byte();
    std::size_t length = static_cast<std::size_t>(input_->byte()) << 8;
    length |= input_->byte();
    if (length > size) length = size;
    const std::string chunk = input_->take(length);
    std::memcpy(buffer, chunk.data(), chunk.size());
    // What the reader must keep of this read: the data up to its first zero.
    const std::size_t zero = chunk.find('\0');
    const std::string kept = zero == std::string::npos ? chunk : chunk.substr(0, zero);
    // A platform may report a count beyond what it wrote (up to the whole
    // buffer and more); the bytes past the written ones must not be taken.
    std::size_t reported = chunk.size();
    if (status & 0x80) reported += status & 0x40 ? size : 1;
    switch (status % 4) {
      case 0:
        return finish({platform::ReadStatus::failed, reported});
      case 1:
        expected += kept;
        return finish({platform::ReadStatus::complete, reported});
      default:
        expected += kept;
        return {platform::ReadStatus::more_data, reported};
    }
  }
  bool write(const char*, std::size_t) override { return true; }
  bool flush() override { return true; }
  void disconnect() override {}

  std::string expected;

 private:
  platform::ReadResult finish(platform::ReadResult result) {
    finished_ = true;
    return result;
  }

  fuzz::ByteReader* input_;
  bool finished_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader input(data, size);
  ScriptedPipe pipe(&input);
  const std::string message = hollin_service::read_pipe_message(pipe);
  fuzz::check(message == pipe.expected, "the message is the reads' data up to their zero bytes");
  return 0;
}

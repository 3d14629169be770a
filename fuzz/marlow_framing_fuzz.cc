// Fuzzes a graphical client's reading of a framed request
// ("POST ... \r\nContent-Length: n\r\n\r\n" and n body bytes) and of its
// wrapper pipe property, as every graphical client of ours reads them.
//
// Input: a byte of read sizes, then the stream the request pipe delivers.
// The stream is handed out in reads whose sizes follow that byte, never more
// than the reader asks for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_util.h"
#include "support/graphical_client.h"
#include "support/platform.h"

namespace {

class StreamPipe : public platform::ClientPipe {
 public:
  StreamPipe(std::string stream, std::uint8_t sizes) : stream_(std::move(stream)), sizes_(sizes) {}

  bool write(const char*, std::size_t) override { return false; }
  bool read(char* buffer, std::size_t size, std::size_t* bytes) override {
    fuzz::check(size > 0 && size <= 4096, "a read asks for 1 to 4096 bytes");
    *bytes = 0;
    if (offset_ == stream_.size()) return false;
    // Sizes cycle through 1, 2, 3 ... 16 times (sizes_ & 15) + 1, or the
    // whole request when the top bit is set.
    std::size_t step = sizes_ & 0x80 ? size : ((reads_++ % 16) + 1) * ((sizes_ & 15) + 1);
    step = std::min({step, size, stream_.size() - offset_});
    std::memcpy(buffer, stream_.data() + offset_, step);
    offset_ += step;
    *bytes = step;
    return true;
  }

 private:
  std::string stream_;
  std::uint8_t sizes_;
  std::size_t offset_ = 0;
  std::size_t reads_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);

  StreamPipe pipe(stream, data[0]);
  const std::string request = support::read_framed_request(pipe);
  fuzz::check(stream.compare(0, request.size(), request) == 0,
              "the request is a prefix of the stream");
  std::size_t body_at = 0;
  const long long length = support::framed_length(request, &body_at);
  if (request.size() < stream.size()) {
    // Reading stopped before the stream ended: only because the header was
    // complete and the body as long as it says.
    fuzz::check(length >= 0, "stops early only after a whole header");
    fuzz::check(request.size() >= body_at + static_cast<std::size_t>(length),
                "stops early only after the whole body");
  }

  // The same input, cut at zero bytes, as the stand-in's argument vector.
  std::vector<std::string> pieces = fuzz::split_on_zero(data, size);
  std::vector<char*> argv;
  std::string program = "marlow";
  argv.push_back(program.data());
  for (std::string& piece : pieces) argv.push_back(piece.data());
  argv.push_back(nullptr);
  const std::string name =
      support::wrapper_pipe_name(static_cast<int>(argv.size() - 1), argv.data());
  fuzz::check(name.size() < size + 1, "the pipe name comes from an argument");
  return 0;
}

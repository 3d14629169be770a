// The graphical client's side of the pipes, shared by every program that
// plays that part (the stand-in, the reference graphical client, test
// peers): the wrapper pipe's name from the command line, the pipe notices,
// and the framed request.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "support/layout.h"
#include "support/platform.h"

namespace support {

// The wrapper pipe's name from the first argument that carries the property,
// without surrounding double quotes; empty text when none does.
std::string wrapper_pipe_name(int argc, const char* const* argv);

// Splits the wrapper pipe's bytes into notices, each two names ended by a
// line feed, however the bytes arrive.
class NoticeSplitter {
 public:
  void feed(const char* data, std::size_t size) { pending_.append(data, size); }
  // The next whole notice (request pipe, response pipe), if one has arrived.
  std::optional<std::pair<std::string, std::string>> next();

 private:
  std::string pending_;
};

// The body length that a complete framed-request header announces (0 when
// it names none), or -1 while the header is incomplete; `*body_at` receives
// the offset of the body.
long long framed_length(const std::string& data, std::size_t* body_at);

// Reads a framed request: the header up to the empty line, then as many body
// bytes as it announces (or up to the end of the message).
std::string read_framed_request(platform::ClientPipe& pipe);

// Connects to the wrapper pipe `name` (from wrapper_pipe_name), for reading.
// Null, with a message on standard error, when the name is empty or the pipe
// cannot be opened.
std::unique_ptr<platform::ClientPipe> connect_wrapper_pipe(const std::string& name);

// Opens one per-request pipe named in a notice, waiting while its only
// instance is busy. Null, with a message on standard error, when it cannot.
std::unique_ptr<platform::ClientPipe> open_request_pipe(const std::string& name,
                                                        platform::PipeAccess access);

}  // namespace support

#include "support/graphical_client.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace support {

std::string wrapper_pipe_name(int argc, const char* const* argv) {
  const std::string property = support::kWrapperPipeProperty;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.compare(0, property.size(), property) != 0) continue;
    std::string name = arg.substr(property.size());
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
      name = name.substr(1, name.size() - 2);
    }
    return name;
  }
  return std::string();
}

std::optional<std::pair<std::string, std::string>> NoticeSplitter::next() {
  const std::size_t first = pending_.find('\n');
  if (first == std::string::npos) return std::nullopt;
  const std::size_t second = pending_.find('\n', first + 1);
  if (second == std::string::npos) return std::nullopt;
  std::pair<std::string, std::string> notice(pending_.substr(0, first),
                                             pending_.substr(first + 1, second - first - 1));
  pending_.erase(0, second + 1);
  return notice;
}

long long framed_length(const std::string& data, std::size_t* body_at) {
  const std::size_t end = data.find("\r\n\r\n");
  if (end == std::string::npos) return -1;
  *body_at = end + 4;
  const std::string key = "Content-Length: ";
  const std::size_t at = data.find(key);
  if (at == std::string::npos || at > end) return 0;
  return std::atoll(data.c_str() + at + key.size());
}

std::string read_framed_request(platform::ClientPipe& pipe) {
  std::string data;
  char buffer[4096];
  // The header first, a buffer at a time; then the body it announces straight
  // into its place, in as few reads as the pipe allows.
  for (;;) {
    std::size_t body_at = 0;
    const long long length = framed_length(data, &body_at);
    if (length >= 0) {
      const std::size_t total = body_at + static_cast<std::size_t>(length);
      std::size_t have = data.size();
      if (have >= total) break;
      while (have < total) {
        // Made room for at once up to a bound, beyond it as bytes arrive, so
        // that a length the sender never meets costs no more memory than
        // what it sent.
        if (data.size() == have)
          data.resize(std::min(total, std::max(have * 2, have + (64u << 20))));
        std::size_t got = 0;
        if (!pipe.read(data.data() + have, data.size() - have, &got) || got == 0) break;
        have += got;
      }
      data.resize(have);
      break;
    }
    std::size_t got = 0;
    if (!pipe.read(buffer, sizeof buffer, &got) || got == 0) break;
    data.append(buffer, got);
  }
  return data;
}

std::unique_ptr<platform::ClientPipe> connect_wrapper_pipe(const std::string& name) {
  std::unique_ptr<platform::ClientPipe> wrapper;
  if (name.empty() ||
      platform::open_client_pipe(name, platform::PipeAccess::read, true, &wrapper).kind !=
          platform::OpenStatus::opened) {
    std::fprintf(stderr, "marlow: cannot connect to the wrapper pipe \"%s\"\n", name.c_str());
    return nullptr;
  }
  return wrapper;
}

std::unique_ptr<platform::ClientPipe> open_request_pipe(const std::string& name,
                                                        platform::PipeAccess access) {
  std::unique_ptr<platform::ClientPipe> pipe;
  for (int attempt = 0; attempt < 10; ++attempt) {
    const platform::OpenStatus status = platform::open_client_pipe(name, access, false, &pipe).kind;
    if (status == platform::OpenStatus::opened) return pipe;
    if (status != platform::OpenStatus::busy) break;
    // Only a pause until an instance is free: the next open decides.
    static_cast<void>(platform::wait_named_pipe(name, 5000));
  }
  std::fprintf(stderr, "marlow: cannot open %s\n", name.c_str());
  return nullptr;
}

}  // namespace support

#include "serve/files.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "serve/serve.h"

namespace marlow {
namespace {

class SystemFiles final : public Files {
 public:
  support::Result<std::string> read_whole(const std::string& path) override {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return support::Status::posix("fopen", errno != 0 ? errno : ENOENT);
    std::string out;
    char buffer[65536];
    for (;;) {
      errno = 0;
      const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
      out.append(buffer, got);
      if (got < sizeof buffer) break;
    }
    const bool failed = std::ferror(file) != 0;  // a directory fails here
    const int code = errno;
    std::fclose(file);
    if (failed) return support::Status::posix("fread", code != 0 ? code : EIO);
    return out;
  }

  support::Status replace_whole(const std::string& path, const std::string& bytes,
                                int stalled_write_ms) override {
    return write_file_replacing(path, bytes, stalled_write_ms);
  }
};

}  // namespace

Files& real_files() {
  static SystemFiles files;
  return files;
}

}  // namespace marlow

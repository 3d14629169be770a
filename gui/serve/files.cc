#include "serve/files.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "serve/serve.h"

namespace marlow {
namespace {

std::string errno_text(int code) { return std::generic_category().message(code); }

class SystemFiles final : public Files {
 public:
  bool read_whole(const std::string& path, std::string* out, std::string* why) override {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      *why = errno_text(errno != 0 ? errno : ENOENT);
      return false;
    }
    out->clear();
    char buffer[65536];
    for (;;) {
      errno = 0;
      const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
      out->append(buffer, got);
      if (got < sizeof buffer) break;
    }
    const bool failed = std::ferror(file) != 0;  // a directory fails here
    const int code = errno;
    std::fclose(file);
    if (failed) *why = errno_text(code != 0 ? code : EIO);
    return !failed;
  }

  bool replace_whole(const std::string& path, const std::string& bytes, std::string* error,
                     int stalled_write_ms) override {
    return write_file_replacing(path, bytes, error, stalled_write_ms);
  }
};

}  // namespace

Files& real_files() {
  static SystemFiles files;
  return files;
}

}  // namespace marlow

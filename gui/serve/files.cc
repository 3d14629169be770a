#include "serve/files.h"

#include "serve/serve.h"

namespace marlow {
namespace {

class SystemFiles final : public Files {
 public:
  support::Result<std::string> read_whole(const std::string& path) override {
    return read_file_whole(path);
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

// The files the serving layer reads and writes, behind a narrow interface:
// the contributors of a call are read whole, and the output is saved whole
// over what was there. Code that prepares a call or saves a result takes a
// Files reference, so that a test can hand it a fake that fails where a disk
// would (a full disk half-way through a write, a rename refused, a read
// error) without making the disk fail.
//
// The real implementation holds no state: the process-wide instance that
// real_files() returns may be used from any thread and lives until the
// process ends.
#pragma once

#include <string>

#include "support/status.h"

namespace marlow {

class Files {
 public:
  virtual ~Files() = default;
  Files() = default;
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;

  // The whole file's bytes, or the system's reason why not (a directory
  // cannot be read either).
  [[nodiscard]] virtual support::Result<std::string> read_whole(const std::string& path) = 0;
  // Saves `bytes` as the file `path`, whole or not at all: a save that fails
  // leaves what was there as it was, and its text names the file and the
  // reason. `stalled_write_ms` bounds the wait on a FIFO's reader
  // (write_file_replacing).
  [[nodiscard]] virtual support::Status replace_whole(const std::string& path,
                                                      const std::string& bytes,
                                                      int stalled_write_ms) = 0;
};

// The system's files (write_file_replacing for saving). Process-wide.
[[nodiscard]] Files& real_files();

// Forwards every call to the target, which must outlive the wrapper. Derive
// and override the calls that should behave differently.
class FilesWrapper : public Files {
 public:
  explicit FilesWrapper(Files& target) : target_(target) {}
  [[nodiscard]] support::Result<std::string> read_whole(const std::string& path) override {
    return target_.read_whole(path);
  }
  [[nodiscard]] support::Status replace_whole(const std::string& path, const std::string& bytes,
                                              int stalled_write_ms) override {
    return target_.replace_whole(path, bytes, stalled_write_ms);
  }

 private:
  Files& target_;
};

}  // namespace marlow

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

namespace marlow {

class Files {
 public:
  virtual ~Files() = default;
  Files() = default;
  Files(const Files&) = delete;
  Files& operator=(const Files&) = delete;

  // Reads the whole file into `*out`; false with the system's reason in
  // `*why` when it cannot (a directory cannot be read either).
  [[nodiscard]] virtual bool read_whole(const std::string& path, std::string* out,
                                        std::string* why) = 0;
  // Saves `bytes` as the file `path`, whole or not at all: a save that fails
  // leaves what was there as it was. False with a sentence in `*error` that
  // names the file and the reason. `stalled_write_ms` bounds the wait on a
  // FIFO's reader (write_file_replacing).
  [[nodiscard]] virtual bool replace_whole(const std::string& path, const std::string& bytes,
                                           std::string* error, int stalled_write_ms) = 0;
};

// The system's files (write_file_replacing for saving). Process-wide.
[[nodiscard]] Files& real_files();

// Forwards every call to the target, which must outlive the wrapper. Derive
// and override the calls that should behave differently.
class FilesWrapper : public Files {
 public:
  explicit FilesWrapper(Files& target) : target_(target) {}
  [[nodiscard]] bool read_whole(const std::string& path, std::string* out,
                                std::string* why) override {
    return target_.read_whole(path, out, why);
  }
  [[nodiscard]] bool replace_whole(const std::string& path, const std::string& bytes,
                                   std::string* error, int stalled_write_ms) override {
    return target_.replace_whole(path, bytes, error, stalled_write_ms);
  }

 private:
  Files& target_;
};

}  // namespace marlow

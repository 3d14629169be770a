// Small helpers shared by the client's tests.
#pragma once

#include <string>
#include <vector>

#include "support/platform.h"

namespace tarnwick {

namespace client_test {

// An argument vector as main receives it, "tarnwick" first.
class Argv {
 public:
  explicit Argv(std::vector<std::string> args) : storage_(std::move(args)) {
    storage_.insert(storage_.begin(), "tarnwick");
    for (const std::string& arg : storage_) pointers_.push_back(arg.c_str());
  }
  int argc() const { return static_cast<int>(pointers_.size()); }
  const char* const* argv() const { return pointers_.data(); }

 private:
  std::vector<std::string> storage_;
  std::vector<const char*> pointers_;
};

// Makes `dir` the current directory for the life of the object. A change
// that fails is not reported here: the test's checks of the paths made
// relative to `dir` fail instead.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir) : old_(platform::current_dir()) {
    static_cast<void>(platform::set_current_dir(dir));
  }
  ~ScopedCurrentDir() { static_cast<void>(platform::set_current_dir(old_)); }
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  std::string old_;
};

}  // namespace client_test

}  // namespace tarnwick

// A directory tree whose full path is longer than the system hands to a
// single call, made and entered one relative step at a time, so that no
// call ever sees the whole path.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "support/platform.h"

namespace testlib {

class DeepDir {
 public:
  // `levels` directories, each named `component`, below `base`; the deepest
  // is the current directory for the life of the object.
  DeepDir(const std::string& base, int levels, const std::string& component)
      : old_(platform::current_dir()), component_(component) {
    if (!platform::set_current_dir(base)) return;
    path_ = platform::current_dir();
    for (; depth_ < levels; ++depth_) {
      std::error_code ec;
      std::filesystem::create_directory(component_, ec);
      if (ec || !platform::set_current_dir(component_)) return;
      path_ += platform::kPathSeparator + component_;
    }
    ok_ = true;
  }
  // Climbs back out, removing each level on the way, and returns to the old
  // current directory.
  ~DeepDir() {
    for (; depth_ > 0; --depth_) {
      if (!platform::set_current_dir("..")) break;
      std::error_code ec;
      std::filesystem::remove_all(component_, ec);
    }
    // Nothing more can be done from a destructor when this fails.
    static_cast<void>(platform::set_current_dir(old_));
  }
  DeepDir(const DeepDir&) = delete;
  DeepDir& operator=(const DeepDir&) = delete;

  bool ok() const { return ok_; }
  // The full path of the deepest directory.
  const std::string& path() const { return path_; }

 private:
  std::string old_;
  std::string component_;
  std::string path_;
  int depth_ = 0;
  bool ok_ = false;
};

}  // namespace testlib

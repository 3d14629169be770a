// The comparison of two directories: every file under either, side by side
// by its path relative to its directory, marked as only on one side,
// identical or different. Paths are UTF-8 on every platform.
#pragma once

#include <string>
#include <vector>

namespace marlow {

struct DirectoryEntry {
  enum class State { only_left, only_right, identical, different };
  std::string path;  // relative, with '/' between its parts
  State state = State::identical;
};

// Every file (and symbolic link to one) under `left` and `right`, by
// relative path in byte order. Files are compared byte for byte.
std::vector<DirectoryEntry> compare_directories(const std::string& left, const std::string& right);

// Whether `path` names a directory (or a link to one).
bool is_directory(const std::string& path);

}  // namespace marlow

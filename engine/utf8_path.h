// File names are UTF-8 throughout the program. The standard library reads a
// narrow name in the ANSI code page on Windows, where most names outside
// it cannot be written at all, so every name reaches the file system as a
// std::filesystem::path made from its UTF-8 bytes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace marlow {

inline std::filesystem::path utf8_path(std::string_view name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// The name of `path` as UTF-8, with forward slashes.
inline std::string utf8_name(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace marlow

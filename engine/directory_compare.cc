#include "engine/directory_compare.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

namespace marlow {
namespace fs = std::filesystem;
namespace {

// A UTF-8 path as the file system's own: on Windows a narrow string would
// be read in the ANSI code page, losing any name outside it.
fs::path from_utf8(const std::string& path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

std::string to_utf8(const fs::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

// Relative path -> full path of every regular file under `root`, and of
// every symbolic link to one. The relative path is the entry's own, taken
// apart lexically: resolving links would name a linked file by where its
// target lies (git difftool -d links to the working tree's files).
std::map<std::string, fs::path> files_under(const std::string& root) {
  std::map<std::string, fs::path> files;
  std::error_code ec;
  const fs::path top = from_utf8(root).lexically_normal();
  fs::recursive_directory_iterator it(top, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    files.emplace(to_utf8(it->path().lexically_relative(top)), it->path());
  }
  return files;
}

bool same_bytes(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
  std::ifstream in_a(a, std::ios::binary);
  std::ifstream in_b(b, std::ios::binary);
  if (!in_a || !in_b) return false;
  std::vector<char> buf_a(1 << 16);
  std::vector<char> buf_b(1 << 16);
  while (in_a && in_b) {
    in_a.read(buf_a.data(), static_cast<std::streamsize>(buf_a.size()));
    in_b.read(buf_b.data(), static_cast<std::streamsize>(buf_b.size()));
    if (in_a.gcount() != in_b.gcount() ||
        !std::equal(buf_a.begin(), buf_a.begin() + in_a.gcount(), buf_b.begin())) {
      return false;
    }
  }
  return in_a.eof() && in_b.eof();
}

}  // namespace

std::vector<DirectoryEntry> compare_directories(const std::string& left, const std::string& right) {
  const std::map<std::string, fs::path> a = files_under(left);
  const std::map<std::string, fs::path> b = files_under(right);
  std::vector<DirectoryEntry> entries;
  auto i = a.begin();
  auto j = b.begin();
  while (i != a.end() || j != b.end()) {
    if (j == b.end() || (i != a.end() && i->first < j->first)) {
      entries.push_back({i->first, DirectoryEntry::State::only_left});
      ++i;
    } else if (i == a.end() || j->first < i->first) {
      entries.push_back({j->first, DirectoryEntry::State::only_right});
      ++j;
    } else {
      entries.push_back({i->first, same_bytes(i->second, j->second)
                                       ? DirectoryEntry::State::identical
                                       : DirectoryEntry::State::different});
      ++i;
      ++j;
    }
  }
  return entries;
}

bool is_directory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(from_utf8(path), ec);
}

}  // namespace marlow

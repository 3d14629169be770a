#include "engine/file_kind.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "engine/utf8_path.h"

namespace marlow {

namespace {

bool starts_with(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

bool is_directory(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(utf8_path(path), ec);
}

}  // namespace

bool is_binary(std::string_view bytes) {
  using namespace std::string_view_literals;
  // The marks of UTF-32 first: the UTF-32LE one begins with the UTF-16LE one.
  for (std::string_view mark :
       {"\xFF\xFE\x00\x00"sv, "\x00\x00\xFE\xFF"sv, "\xFF\xFE"sv, "\xFE\xFF"sv}) {
    if (starts_with(bytes, mark)) return false;
  }
  return bytes.substr(0, kBinaryProbeBytes).find('\0') != std::string_view::npos;
}

bool file_is_binary(const std::string& path) {
  std::ifstream in(utf8_path(path), std::ios::binary);
  if (!in) return false;
  std::string bytes(kBinaryProbeBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return is_binary(bytes);
}

namespace {

// Whether two files hold the same bytes; false when either cannot be read.
bool same_bytes(const std::string& a, const std::string& b) {
  std::ifstream in_a(utf8_path(a), std::ios::binary);
  std::ifstream in_b(utf8_path(b), std::ios::binary);
  if (!in_a || !in_b) return false;
  char buffer_a[65536];
  char buffer_b[65536];
  for (;;) {
    in_a.read(buffer_a, sizeof buffer_a);
    in_b.read(buffer_b, sizeof buffer_b);
    const std::streamsize got = in_a.gcount();
    if (got != in_b.gcount() || !std::equal(buffer_a, buffer_a + got, buffer_b)) return false;
    if (got < static_cast<std::streamsize>(sizeof buffer_a)) return in_a.eof() && in_b.eof();
  }
}

}  // namespace

std::string binary_comparison_note(const std::vector<std::string>& names,
                                   const std::vector<std::string>& paths) {
  std::vector<std::size_t> present;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (!paths[i].empty()) present.push_back(i);
  }
  std::string listed;
  for (std::size_t k = 0; k < present.size(); ++k) {
    if (k != 0) listed += k + 1 == present.size() ? " and " : ", ";
    listed += names[present[k]];
  }
  if (present.size() < 2) {
    return listed + " is a binary file, on one side only; its bytes are not shown as text.";
  }
  bool equal = true;
  for (std::size_t k = 1; k < present.size() && equal; ++k) {
    equal = same_bytes(paths[present[0]], paths[present[k]]);
  }
  return "Binary files (" + listed +
         "): " + (equal ? std::string("they are identical.") : std::string("they differ.")) +
         " Their bytes are not shown as text.";
}

std::optional<std::string> directory_call_problem(const std::vector<std::string>& contributors,
                                                  const std::vector<std::string>& names,
                                                  bool merge) {
  std::size_t directories = 0;
  std::size_t first = contributors.size();
  for (std::size_t i = 0; i < contributors.size(); ++i) {
    if (!is_directory(contributors[i])) continue;
    ++directories;
    first = std::min(first, i);
  }
  if (directories == 0) return std::nullopt;
  if (!merge && (directories == 2 || directories == 3) && contributors.size() == directories) {
    return std::nullopt;
  }
  const std::string name = first < names.size() ? names[first] : contributors[first];
  const std::string what = directories == 1 ? name + " is a directory"
                                            : std::to_string(directories) +
                                                  " of the contributors are directories (" + name +
                                                  " the first)";
  if (merge) {
    return what + ". Directories cannot be merged: a merge takes files only.";
  }
  const std::string not_this = directories == contributors.size()
                                   ? std::to_string(directories) + " directories"
                                   : "directories and files together";
  return what +
         ". A comparison takes either two or three directories (their files are listed to "
         "compare one by one; of three, the first is the base of the other two) or files only, "
         "not " +
         not_this + ".";
}

}  // namespace marlow

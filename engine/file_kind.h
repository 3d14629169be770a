// What kind of file a contributor is, before it is read as text: a file
// that holds binary data, or a directory where the call has no place for one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marlow {

// How many leading bytes are looked at for a NUL byte, as git does.
inline constexpr std::size_t kBinaryProbeBytes = 8000;

// Whether the bytes are binary data rather than text: a NUL byte among the
// first kBinaryProbeBytes. UTF-16 and UTF-32 texts hold NUL bytes too, so a
// text that begins with their byte order mark is text.
bool is_binary(std::string_view bytes);

// Whether the file at `path` is binary by is_binary (reading only the bytes
// it looks at); false for a file that cannot be read.
bool file_is_binary(const std::string& path);

// What a comparison of binary files says instead of their text: that they
// are binary and whether their bytes are equal. `names` as the user knows
// them; a side whose path is empty is absent.
std::string binary_comparison_note(const std::vector<std::string>& names,
                                   const std::vector<std::string>& paths);

// Why a call with these contributors (paths, in order) cannot be served
// because of directories among them, or nullopt when it can: only a
// comparison of two or three directories (and nothing else) compares
// directories, and a merge never does.
std::optional<std::string> directory_call_problem(const std::vector<std::string>& contributors,
                                                  const std::vector<std::string>& names,
                                                  bool merge);

}  // namespace marlow

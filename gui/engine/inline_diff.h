// The changed characters inside a changed line, from libgit2's diff: the
// two lines are cut into words, the words are compared, and a changed word
// range is compared again character by character when most of it is kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace marlow {

// `length` bytes of a UTF-8 text from byte `start`; ranges never split a
// character.
struct TextRange {
  std::size_t start = 0;
  std::size_t length = 0;
  bool operator==(const TextRange&) const = default;
};

struct InlineDiff {
  std::vector<TextRange> base;   // bytes of the first text not in the second
  std::vector<TextRange> other;  // bytes of the second text not in the first
  bool operator==(const InlineDiff&) const = default;
};

// The ranges come in order, do not overlap and never touch. Equal texts give
// none; a text against an empty one is one range covering it.
InlineDiff diff_chars(std::string_view base, std::string_view other);

// The byte length of each character of UTF-8 text (a byte that does not
// start a valid sequence counts as a character of its own).
std::vector<std::size_t> code_point_lengths(std::string_view utf8);

}  // namespace marlow

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

// Lines longer than this (in bytes, either of the two) are not compared
// word by word unless asked: the diff of megabyte lines would hold up the
// window. They get diff_span instead.
inline constexpr std::size_t kCharDiffLimit = 4000;

// The one range of each text between their longest common start and end
// (on character boundaries): where the change lies, in time linear in the
// texts, without what inside it is kept.
InlineDiff diff_span(std::string_view base, std::string_view other);

// diff_chars for texts within kCharDiffLimit, or when `unlimited`; else
// diff_span, and `*coarse` (when given) is set.
InlineDiff diff_chars_within_limit(std::string_view base, std::string_view other, bool unlimited,
                                   bool* coarse);

// Leaves out the ranges that hold only blanks (spaces and tabs), such as a
// changed indentation: differences that a comparison ignoring whitespace
// does not show.
void drop_blank_ranges(InlineDiff* diff, std::string_view base, std::string_view other);

// The byte length of each character of UTF-8 text (a byte that does not
// start a valid sequence counts as a character of its own).
std::vector<std::size_t> code_point_lengths(std::string_view utf8);

}  // namespace marlow

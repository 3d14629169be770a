// What a comparison or a merge does not count as a difference between two
// lines: one options type for every window and for the windowless merge.
#pragma once

#include <string>

namespace marlow {

struct IgnoreOptions {
  // Spaces and tabs anywhere in a line do not count.
  bool ignore_whitespace = false;
  // CRLF, LF, CR and no line end at all count as the same.
  bool ignore_line_ends = false;
  // Upper and lower case letters count as the same (ASCII, Latin-1,
  // Greek and Cyrillic letters).
  bool ignore_case = false;
  // A run of spaces and tabs counts the same as any other run, and blanks
  // at the end of a line do not count; "a b" and "ab" still differ.
  bool ignore_whitespace_amount = false;
  // Lines of only spaces and tabs are left out of the comparison: they
  // stand in rows of their own and are never a difference.
  bool ignore_blank_lines = false;
  // Lines in which this regular expression (ECMAScript syntax) matches are
  // left out of the comparison as blank lines are; empty: none.
  std::string line_filter = {};

  bool operator==(const IgnoreOptions&) const = default;
};

}  // namespace marlow

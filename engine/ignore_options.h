// What a comparison or a merge does not count as a difference between two
// lines: one options type for every window and for the windowless merge.
#pragma once

namespace marlow {

struct IgnoreOptions {
  // Spaces and tabs anywhere in a line do not count.
  bool ignore_whitespace = false;
  // CRLF, LF, CR and no line end at all count as the same.
  bool ignore_line_ends = false;

  bool operator==(const IgnoreOptions&) const = default;
};

}  // namespace marlow

// Rows of text as rich text (RTF) for the rich edit control: loaded in one
// stream, which is fast where colouring line by line is not.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace marlow::win32 {

struct RtfRow {
  std::string_view text;  // UTF-8
  int colour = 0;         // 0: none; else 1-based into the colour table
};

// A document of `rows` separated by paragraph marks (none after the last),
// in a fixed-pitch font named `font` of `half_points` size, with the
// highlight colours `colours` (RGB, 0xRRGGBB).
std::string rtf_document(const std::vector<RtfRow>& rows, const std::vector<unsigned>& colours,
                         const std::string& font, int half_points);

// A row's text as RTF: \, { and } escaped, a tab as \tab, every character
// beyond ASCII as \uN? (UTF-16 units, signed).
std::string rtf_text(std::string_view utf8);

}  // namespace marlow::win32

// The token colours every front end paints: one per class, told apart from
// each other and from the plain text, and readable on a light row.
#include "engine/highlight_palette.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>

namespace marlow {
namespace {

// The relative luminance of a colour (0 black .. 1 white).
double luminance(Rgb c) {
  const auto channel = [](std::uint8_t v) {
    const double x = v / 255.0;
    return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.red) + 0.7152 * channel(c.green) + 0.0722 * channel(c.blue);
}

TEST(HighlightPalette, EveryClassItsOwnReadableColour) {
  // The lightest row colour the panes use (a changed character's mark is
  // darker than this, the plain row is white).
  const double light = luminance(Rgb{255, 255, 255});
  for (std::size_t i = 0; i < kTokenClassCount; ++i) {
    const auto kind = static_cast<TokenClass>(i);
    const Rgb colour = token_rgb(kind);
    EXPECT_NE(colour, (Rgb{0, 0, 0})) << token_class_name(kind) << " looks like plain text";
    // At least 4.5:1 against white, so that it stays readable on the
    // pastel backgrounds too.
    EXPECT_GE((light + 0.05) / (luminance(colour) + 0.05), 4.5) << token_class_name(kind);
    for (std::size_t j = 0; j < i; ++j) {
      EXPECT_NE(colour, token_rgb(static_cast<TokenClass>(j)))
          << token_class_name(kind) << " and " << token_class_name(static_cast<TokenClass>(j));
    }
  }
}

}  // namespace
}  // namespace marlow

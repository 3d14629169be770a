// The colours the panes give each token class, without any toolkit: every
// front end paints the same text in the same colours.
#pragma once

#include <cstdint>

#include "engine/highlight.h"

namespace marlow {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const Rgb&) const = default;
};

// The text colour of a token of class `kind`: dark enough to read on every
// row colour and on the changed characters' marks.
Rgb token_rgb(TokenClass kind);

}  // namespace marlow

#include "engine/highlight_palette.h"

#include <array>
#include <cstddef>

namespace marlow {

Rgb token_rgb(TokenClass kind) {
  static constexpr std::array<Rgb, kTokenClassCount> kColours = {{
      {0, 0, 190},     // keyword
      {0, 105, 115},   // type
      {110, 40, 150},  // function
      {165, 20, 20},   // string
      {0, 115, 0},     // comment
      {150, 70, 0},    // number
      {140, 0, 110},   // constant
      {120, 90, 0},    // preprocessor
  }};
  const auto index = static_cast<std::size_t>(kind);
  return index < kColours.size() ? kColours[index] : Rgb{};
}

}  // namespace marlow

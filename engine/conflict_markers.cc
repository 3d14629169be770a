#include "engine/conflict_markers.h"

namespace marlow {

std::vector<Line> conflict_marker_lines(const Region& region, bool has_base,
                                        const std::vector<std::string>& labels,
                                        std::string_view line_end) {
  const std::string eol(line_end.empty() ? std::string_view("\n") : line_end);
  const auto label = [&labels](std::size_t i) {
    return i < labels.size() && !labels[i].empty() ? " " + labels[i] : std::string();
  };
  std::vector<Line> out;
  const auto marker = [&](char c, const std::string& text) {
    out.push_back(Line{std::string(7, c) + text, eol});
  };
  const auto side = [&](std::size_t s) {
    if (s >= region.sides.size()) return;
    for (const Line& line : region.sides[s]) {
      out.push_back(line);
      // The next marker starts a line of its own.
      if (out.back().eol.empty()) out.back().eol = eol;
    }
  };
  const std::size_t first = has_base ? 1 : 0;
  marker('<', label(first));
  side(first);
  if (has_base) {
    marker('|', label(0));
    side(0);
  }
  for (std::size_t s = first + 1; s < region.sides.size(); ++s) {
    marker('=', std::string());
    side(s);
  }
  marker('>', label(region.sides.size() - 1));
  return out;
}

}  // namespace marlow

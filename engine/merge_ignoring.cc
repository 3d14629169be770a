#include "engine/merge_ignoring.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace marlow {
namespace {

Line compared(const Line& line, const IgnoreOptions& options) {
  return line_as_compared(line, options);
}

// The contributor's own lines for a region side planned on compared lines.
std::vector<Line> own_lines(const std::vector<Line>& text, std::size_t start, std::size_t count) {
  const auto from = text.begin() + static_cast<std::ptrdiff_t>(std::min(start, text.size()));
  const auto to = text.begin() + static_cast<std::ptrdiff_t>(std::min(start + count, text.size()));
  return std::vector<Line>(from, to);
}

// A settled conflict's lines as the sides have them: each compared line of
// the settlement is found among the sides' compared lines (the current
// side first); nullopt when one is in no side.
std::optional<std::vector<Line>> own_settlement(
    const std::vector<Line>& settled, const std::vector<std::vector<Line>>& compared_sides,
    const std::vector<std::vector<Line>>& own_sides, std::size_t current) {
  std::vector<std::size_t> order{current};
  for (std::size_t s = 0; s < compared_sides.size(); ++s) {
    if (s != current) order.push_back(s);
  }
  std::vector<Line> out;
  for (const Line& line : settled) {
    bool found = false;
    for (std::size_t s : order) {
      const auto at = std::find(compared_sides[s].begin(), compared_sides[s].end(), line);
      if (at == compared_sides[s].end()) continue;
      out.push_back(own_sides[s][static_cast<std::size_t>(at - compared_sides[s].begin())]);
      found = true;
      break;
    }
    if (!found) return std::nullopt;
  }
  return out;
}

}  // namespace

MergePlan plan_merge_ignoring(const std::vector<std::vector<Line>>& contributors,
                              const SettleOptions& settle, const IgnoreOptions& options) {
  if (!options.ignore_whitespace && !options.ignore_line_ends)
    return plan_merge(contributors, settle);
  std::vector<std::vector<Line>> keys(contributors.size());
  for (std::size_t s = 0; s < contributors.size(); ++s) {
    keys[s].reserve(contributors[s].size());
    for (const Line& line : contributors[s]) keys[s].push_back(compared(line, options));
  }
  MergePlan plan = plan_merge(keys, settle);
  // take_all's line end comes from the texts as they are.
  plan.line_end = first_line_end(contributors);
  const std::size_t current = plan.has_base ? 1 : 0;
  for (Region& region : plan.regions) {
    std::vector<std::vector<Line>> own(region.sides.size());
    for (std::size_t s = 0; s < region.sides.size(); ++s) {
      own[s] = own_lines(contributors[s], region.starts[s], region.sides[s].size());
    }
    if (region.kind == RegionKind::common) {
      region.result = own[std::min(current, own.size() - 1)];
    } else if (region.kind == RegionKind::changed) {
      const auto maker = std::find(region.changed_by.begin(), region.changed_by.end(), true);
      const std::size_t s = maker == region.changed_by.end()
                                ? current
                                : static_cast<std::size_t>(maker - region.changed_by.begin());
      region.result = own[s];
    } else if (region.settled_by != SettleRule::none) {
      if (std::optional<std::vector<Line>> lines =
              own_settlement(region.result, region.sides, own, current)) {
        region.result = std::move(*lines);
      } else {
        region.settled_by = SettleRule::none;
        region.result.clear();
        --plan.settled;
      }
    }
    region.sides = std::move(own);
  }
  return plan;
}

}  // namespace marlow

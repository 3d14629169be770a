// A merge that is not finished, written out as git writes one: the lines
// settled so far, and every conflict still open between conflict markers,
// so that the work done is kept and what is left is plain to see.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/diff.h"

namespace marlow {

// The lines of one open conflict between markers, with `labels` by
// contributor (the base first when there is one):
//   <<<<<<< L1 / side 1 / ||||||| L0 / base / ======= / side 2 / >>>>>>> L2
// with a base, and <<<<<<< L0 / side 0 / ======= / side 1 / >>>>>>> L1
// without. More sides follow the second, each after its own "=======".
// Markers end in `line_end`, and so does a side's last line that has none.
std::vector<Line> conflict_marker_lines(const Region& region, bool has_base,
                                        const std::vector<std::string>& labels,
                                        std::string_view line_end);

// The whole merge: each region's lines as `lines_of` gives them, and for a
// region it gives none of (an open conflict) conflict_marker_lines.
// `open`, when given, receives the number of conflicts written with markers.
template <typename LinesOf>
std::vector<Line> lines_with_conflict_markers(const MergePlan& plan,
                                              const std::vector<std::string>& labels,
                                              LinesOf&& lines_of, std::size_t* open = nullptr) {
  std::vector<Line> out;
  if (open != nullptr) *open = 0;
  for (std::size_t r = 0; r < plan.regions.size(); ++r) {
    if (auto lines = lines_of(r)) {
      out.insert(out.end(), lines->begin(), lines->end());
      continue;
    }
    std::vector<Line> marked =
        conflict_marker_lines(plan.regions[r], plan.has_base, labels, plan.line_end);
    out.insert(out.end(), marked.begin(), marked.end());
    if (open != nullptr) ++*open;
  }
  return out;
}

}  // namespace marlow

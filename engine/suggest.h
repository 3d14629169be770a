// Ranked resolutions for a conflict the engine leaves to the user: what
// each side's lines, both together, or a finer merge would give, the likeliest
// first, so that a front end or a script can offer them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/diff.h"

namespace marlow {

struct Suggestion {
  std::vector<Line> lines;  // what replaces the whole conflict
  std::string reason;       // a few words: "current side", "word merge", ...
};

inline constexpr std::size_t kMaxSuggestions = 5;

// At most kMaxSuggestions resolutions of `conflict`, likeliest first, no
// two with the same lines. Lines kept from both sides end in a line end
// where another follows (`line_end` for one that has none).
std::vector<Suggestion> suggest_resolutions(const MarkedConflict& conflict,
                                            const std::string& line_end = "\n");

// Suggestions for every conflict render_with_markers writes out, in order.
std::vector<std::vector<Suggestion>> suggest_for_plan(const MergePlan& plan, MarkerStyle style);

}  // namespace marlow

// A merge that counts lines as equal when they differ only in blanks or
// only in line ends: the merge is planned on copies of the lines with those
// characters taken out, and the plan is then given the lines as they are.
#pragma once

#include <vector>

#include "engine/diff.h"
#include "engine/ignore_options.h"

namespace marlow {

// plan_merge on the lines as compared under `options`, with every region's
// sides holding the contributors' own lines. Where the sides differ only in
// what is ignored, the merged lines are those of the current contributor
// (the first one after the base, or the first one when there is no base):
// a region nobody changed otherwise keeps the current side's blanks and line
// ends, and a change keeps the bytes of the first contributor that made it.
// A conflict the engine settled keeps its settlement only when every line
// of it is some side's line; otherwise it is left to the user.
MergePlan plan_merge_ignoring(const std::vector<std::vector<Line>>& contributors,
                              const SettleOptions& settle, const IgnoreOptions& options);

}  // namespace marlow

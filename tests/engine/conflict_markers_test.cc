// A merge saved before every conflict is settled: the open conflicts
// between git's conflict markers, the settled ones as settled.
#include "engine/conflict_markers.h"

#include <gtest/gtest.h>

namespace marlow {
namespace {

std::vector<Line> L(const std::string& text) { return split_lines(text); }

// The plan's lines with `settled` conflicts (by index) taking side 1.
std::string written(const MergePlan& plan, const std::vector<std::string>& labels,
                    const std::vector<bool>& settled, std::size_t* open) {
  std::size_t conflict = 0;
  const std::vector<Line> lines = lines_with_conflict_markers(
      plan, labels,
      [&](std::size_t r) -> std::optional<std::vector<Line>> {
        const Region& region = plan.regions[r];
        if (region.kind != RegionKind::conflict) return region.result;
        const bool done = conflict < settled.size() && settled[conflict];
        ++conflict;
        if (!done) return std::nullopt;
        return region.sides[1];
      },
      open);
  return join_lines(lines);
}

TEST(GuiConflictMarkers, OpenConflictsAreWrittenBetweenMarkers) {
  const MergePlan plan =
      plan_merge({L("a\nb\nc\nd\ne\n"), L("a\nB1\nc\nd\nE1\n"), L("a\nB2\nc\nd\nE2\n")});
  ASSERT_EQ(plan.conflicts, 2u);
  std::size_t open = 0;
  EXPECT_EQ(written(plan, {"base", "mine", "theirs"}, {true, false}, &open),
            "a\nB1\nc\nd\n"
            "<<<<<<< mine\nE1\n||||||| base\ne\n=======\nE2\n>>>>>>> theirs\n");
  EXPECT_EQ(open, 1u);
  EXPECT_EQ(written(plan, {"base", "mine", "theirs"}, {true, true}, &open), "a\nB1\nc\nd\nE1\n");
  EXPECT_EQ(open, 0u);
}

TEST(GuiConflictMarkers, MarkersEndLikeTheTextAndEndEveryLine) {
  // CRLF lines: markers end in CRLF; a last line without a line end gets
  // one before the next marker.
  const MergePlan crlf = plan_merge({L("a\r\nb"), L("a\r\nB1"), L("a\r\nB2")});
  std::size_t open = 0;
  EXPECT_EQ(written(crlf, {"o", "x", "y"}, {}, &open),
            "a\r\n<<<<<<< x\r\nB1\r\n||||||| o\r\nb\r\n=======\r\nB2\r\n>>>>>>> y\r\n");
  // Lines that end in CR.
  const MergePlan cr = plan_merge({L("a\rb\r"), L("a\rB1\r"), L("a\rB2\r")});
  EXPECT_EQ(written(cr, {"o", "x", "y"}, {}, &open),
            "a\r<<<<<<< x\rB1\r||||||| o\rb\r=======\rB2\r>>>>>>> y\r");
  // Two contributors, no base: each side under its own label.
  const MergePlan two = plan_merge({L("a\nb\n"), L("a\nc\n")});
  EXPECT_EQ(written(two, {"left", "right"}, {}, &open),
            "a\n<<<<<<< left\nb\n=======\nc\n>>>>>>> right\n");
  // Without labels, the markers stand alone.
  EXPECT_EQ(written(two, {}, {}, &open), "a\n<<<<<<<\nb\n=======\nc\n>>>>>>>\n");
}

}  // namespace
}  // namespace marlow

// Merges with blanks or line ends ignored: planned on the lines as
// compared, holding the contributors' own lines.
#include <gtest/gtest.h>

#include "engine/merge_ignoring.h"

namespace marlow {
namespace {

std::vector<Line> L(const std::string& text) { return split_lines(text); }

std::string merged(const MergePlan& plan) {
  std::optional<std::vector<Line>> lines = merged_lines(plan, automatic_resolutions(plan));
  return lines ? join_lines(*lines) : std::string("<conflict>");
}

TEST(GuiMergeIgnoring, BlanksOnlyChangesGiveWayAndTheCurrentSideKeepsItsBytes) {
  const std::vector<std::vector<Line>> texts{L("a\nif (x) {\nb\n"), L("a\nif(x){\nb\n"),
                                             L("a\nif (y) {\nb\n")};
  // Counted as is: one side reformatted the line, the other changed it.
  EXPECT_EQ(plan_merge_ignoring(texts, {}, {}).conflicts, 1u);
  const MergePlan plan = plan_merge_ignoring(texts, {}, {.ignore_whitespace = true});
  EXPECT_EQ(plan.conflicts, 0u);
  EXPECT_EQ(merged(plan), "a\nif (y) {\nb\n");
  // Every side holds its own lines, blanks and all.
  for (const Region& region : plan.regions) {
    for (std::size_t s = 0; s < 3; ++s) {
      for (std::size_t i = 0; i < region.sides[s].size(); ++i) {
        EXPECT_EQ(region.sides[s][i], texts[s][region.starts[s] + i]);
      }
    }
  }
  // Where only blanks differ everywhere, the current side's bytes are kept.
  EXPECT_EQ(merged(plan_merge_ignoring({L("x = 1\n"), L("x  =  1\n"), L("x=1\n")}, {},
                                       {.ignore_whitespace = true})),
            "x  =  1\n");
  // Two contributors: the first is the current one.
  EXPECT_EQ(
      merged(plan_merge_ignoring({L("p\tq\nr\n"), L("p q\nr\n")}, {}, {.ignore_whitespace = true})),
      "p\tq\nr\n");
}

TEST(GuiMergeIgnoring, LineEndsConvertedByOneSideDoNotConflictWithTheOthersChange) {
  const std::vector<std::vector<Line>> texts{L("a\nb\nc\n"), L("a\r\nb\r\nc\r\n"), L("a\nB\nc\n")};
  EXPECT_EQ(plan_merge_ignoring(texts, {}, {}).conflicts, 1u);
  const MergePlan plan = plan_merge_ignoring(texts, {}, {.ignore_line_ends = true});
  EXPECT_EQ(plan.conflicts, 0u);
  // The current side's line ends where it is kept; the other's change as made.
  EXPECT_EQ(merged(plan), "a\r\nB\nc\r\n");
  EXPECT_EQ(plan.line_end, "\n");
  // A conflict that remains holds each side's own lines.
  const MergePlan open = plan_merge_ignoring({L("a\nb\n"), L("a\r\nX\r\n"), L("a\nY\n")}, {},
                                             {.ignore_line_ends = true});
  ASSERT_EQ(open.conflicts, 1u);
  for (const Region& region : open.regions) {
    if (region.kind != RegionKind::conflict) continue;
    EXPECT_EQ(region.sides[1], L("X\r\n"));
    EXPECT_EQ(region.sides[2], L("Y\n"));
  }
}

TEST(GuiMergeIgnoring, AnEngineSettlementKeepsTheSidesLines) {
  // Both sides raised the version: the higher one is kept, with its blanks.
  const MergePlan plan = plan_merge_ignoring(
      {L("v = 1.2.0\n"), L("v  = 1.3.0\n"), L("v = 1.2.1\n")}, {}, {.ignore_whitespace = true});
  EXPECT_EQ(plan.settled, 1u);
  EXPECT_EQ(merged(plan), "v  = 1.3.0\n");
}

}  // namespace
}  // namespace marlow

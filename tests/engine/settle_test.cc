// The engine's own settlements and narrowing of conflicts.
#include <gtest/gtest.h>

#include "engine/diff.h"
#include "engine/settle.h"

namespace marlow {
namespace {

std::vector<Line> L(const std::string& text) { return split_lines(text); }

std::optional<std::string> settle(const std::string& base, const std::string& one,
                                  const std::string& other, const SettleOptions& options = {}) {
  std::optional<Settlement> s = settle_conflict(L(base), L(one), L(other), options);
  if (!s) return std::nullopt;
  return join_lines(s->lines);
}

TEST(GuiSettle, HigherVersionsWhenBothRaisedTheSameNumbers) {
  EXPECT_EQ(settle("v = 1.2.0\n", "v = 1.3.0\n", "v = 1.2.1\n"), "v = 1.3.0\n");
  EXPECT_EQ(settle("v = 1.2.0\n", "v = 1.2.1\n", "v = 1.3.0\n"), "v = 1.3.0\n");
  // A release is above its pre-release; a branch's "x" above its releases.
  EXPECT_EQ(settle("v = '1.9'\n", "v = '2.0'\n", "v = '2.0.rc1'\n"), "v = '2.0'\n");
  EXPECT_EQ(settle("const V = '11.1.0';\n", "const V = '12.x-dev';\n", "const V = '11.2.0';\n"),
            "const V = '12.x-dev';\n");
  // Pre-releases numbered after a dot.
  EXPECT_EQ(settle("2.53.1\n", "3.0.0-alpha.0\n", "2.54.0-rc.1\n"), "3.0.0-alpha.0\n");
  EXPECT_EQ(
      settle("\"v\": \"0.54.1\",\n", "\"v\": \"0.300.0-beta.0\",\n", "\"v\": \"0.55.0-rc.0\",\n"),
      "\"v\": \"0.300.0-beta.0\",\n");
  // Several lines: each keeps its higher version.
  EXPECT_EQ(settle("a v0.1.0\nb v0.1.0\n", "a v0.3.0\nb v0.3.0\n", "a v0.2.0\nb v0.2.0\n"),
            "a v0.3.0\nb v0.3.0\n");
  EXPECT_EQ(settle("a 1.0.0\nb 1.0.0\n", "a 2.0.0\nb 1.1.0\n", "a 1.1.0\nb 2.0.0\n"),
            "a 2.0.0\nb 2.0.0\n");
}

TEST(GuiSettle, VersionsStayConflictedWhenTheyDoNotAllRiseOneWay) {
  // Higher on one side in one place of a line and on the other in another.
  EXPECT_EQ(settle("1.0.0 1.0.0\n", "2.0.0 1.1.0\n", "1.1.0 2.0.0\n"), std::nullopt);
  // Two pre-releases of one version are not ordered.
  EXPECT_EQ(settle("v 1.9\n", "v 2.0.0-rc.1\n", "v 2.0.0-beta.0\n"), std::nullopt);
  // Pre-release words are not ordered: "rc1" did not move away from "dev".
  EXPECT_EQ(settle("v = '2.0.dev'\n", "v = '2.0'\n", "v = '2.0.rc1'\n"), std::nullopt);
  // Other text changed too.
  EXPECT_EQ(settle("v = 1.2.0\n", "w = 1.3.0\n", "v = 1.2.1\n"), std::nullopt);
  // One side did not move this version away from the base.
  EXPECT_EQ(settle("a 1.0\nb 1.0\n", "a 2.0\nb 1.0\n", "a 1.0\nb 3.0\n"), std::nullopt);
  // Numbers that are not versions (one part) stay a conflict.
  EXPECT_EQ(settle("width = 10\n", "width = 12\n", "width = 11\n"), std::nullopt);
  // Equal numbers with different pre-release words cannot be ordered.
  EXPECT_EQ(settle("v 1.0\n", "v 1.1a\n", "v 1.1b\n"), std::nullopt);
  EXPECT_EQ(settle("v = 1.2.0\n", "v = 1.3.0\n", "v = 1.2.1\n", SettleOptions::none()),
            std::nullopt);
}

TEST(GuiSettle, ContainedChangeKeepsTheSideThatHoldsBoth) {
  SettleOptions contained = SettleOptions::none();
  contained.contained = true;
  // "other" fixed a typo; "one" fixed it too and went on.
  const std::string base = "call(recieve)\nerror = -1\n";
  const std::string one = "call(receive)\nerror = AUTH\n";
  const std::string other = "call(receive)\nerror = -1\n";
  EXPECT_EQ(settle(base, one, other, contained), one);
  EXPECT_EQ(settle(base, other, one, contained), one);
  // Each side holds a line the other lacks: no settlement.
  EXPECT_EQ(settle("x\n", "x1\nshared\n", "shared\nx2\n", contained), std::nullopt);
  // Neither side's change is in the other.
  EXPECT_EQ(settle("keep\nold\n", "keep\nold\nnew\n", "keep\nnew2\n", contained), std::nullopt);
  // "one" only added "new"; "other" added it too and removed the rest.
  EXPECT_EQ(settle("keep\nold\n", "keep\nold\nnew\n", "new\n", contained), "new\n");
  // Lines without a letter or digit are not enough to tell.
  EXPECT_EQ(settle("a\n", "}\n", "}\nb\n", contained), std::nullopt);
  // Right about seven times in eight on real merges: off by default.
  EXPECT_EQ(settle(base, one, other), std::nullopt);
}

TEST(GuiSettle, WordsMergeOnlyChangesThatStandApart) {
  SettleOptions words = SettleOptions::none();
  words.words = true;
  // Neighbouring lines, one changed by each side.
  EXPECT_EQ(settle("x = 0\ny = 0\n", "x = 1\ny = 0\n", "x = 0\ny = 2\n", words), "x = 1\ny = 2\n");
  // On one line: only when same-line merges are allowed.
  EXPECT_EQ(settle("f(a, b)\n", "g(a, b)\n", "f(a, c)\n", words), std::nullopt);
  words.separate_lines = false;
  EXPECT_EQ(settle("f(a, b)\n", "g(a, b)\n", "f(a, c)\n", words), "g(a, c)\n");
  // Touching words conflict unless asked; insertions at one place always.
  EXPECT_EQ(settle("ab cd\n", "abX cd\n", "ab Ycd\n", words), "abX Ycd\n");
  EXPECT_EQ(settle("a b\n", "A b\n", "a-b\n", words), std::nullopt);
  EXPECT_EQ(settle("f(a)\n", "f(a, b)\n", "f(a, c)\n", words), std::nullopt);
  words.touching = true;
  EXPECT_EQ(settle("a b\n", "A b\n", "a-b\n", words), "A-b\n");
  EXPECT_EQ(settle("f(a)\n", "f(a, b)\n", "f(a, c)\n", words), std::nullopt);
  // The same change on both sides, next to a change of one.
  EXPECT_EQ(settle("p q r\n", "P q R\n", "P q r\n", words), "P q R\n");
  // Bytes are kept: CRLF and non-ASCII words.
  EXPECT_EQ(settle("x é\r\ny 0\r\n", "x è\r\ny 0\r\n", "x é\r\ny 1\r\n", words), "x è\r\ny 1\r\n");
}

TEST(GuiSettle, WhitespaceChangeGivesWayToContent) {
  SettleOptions blanks = SettleOptions::none();
  blanks.whitespace = true;
  EXPECT_EQ(settle("  a(1)\n", "    a(1)\n", "  a(2)\n", blanks), "  a(2)\n");
  // Only line ends changed, all to CRLF: the content change takes them.
  EXPECT_EQ(settle("a\nb\n", "a\r\nb\r\n", "a\nB\n", blanks), "a\r\nB\r\n");
  // Both changed content: no settlement.
  EXPECT_EQ(settle("a\n", " A\n", "b\n", blanks), std::nullopt);
  // Text rewrapped to other lines changed only blanks and line ends; kept
  // line for line, it does not.
  const std::string base = "one two\nthree\n";
  const std::string rewrapped = "one\ntwo three\n";
  const std::string edited = "one two\nfour\n";
  EXPECT_EQ(settle(base, rewrapped, edited, blanks), edited);
  blanks.whitespace_lines = true;
  EXPECT_EQ(settle(base, rewrapped, edited, blanks), std::nullopt);
  EXPECT_EQ(settle(base, "one  two\nthree\n", edited, blanks), edited);
}

TEST(GuiNarrowing, IdenticalEdgesLeaveTheConflict) {
  // Both sides inserted "head" and "tail" around different middles.
  const MergePlan plan =
      plan_merge({L("a\nb\nz\n"), L("a\nhead\nX\ntail\nz\n"), L("a\nhead\nY\ntail\nz\n")},
                 SettleOptions::none());
  ASSERT_EQ(plan.conflicts, 1u);
  std::vector<const Region*> conflict;
  for (const Region& r : plan.regions) {
    if (r.kind == RegionKind::conflict) conflict.push_back(&r);
  }
  ASSERT_EQ(conflict.size(), 1u);
  EXPECT_EQ(conflict[0]->sides[1], L("X\n"));
  EXPECT_EQ(conflict[0]->sides[2], L("Y\n"));
  EXPECT_EQ(conflict[0]->sides[0], L("b\n"));  // every base line stays with it
  EXPECT_EQ(conflict[0]->starts, (std::vector<std::size_t>{1, 2, 2}));
  // "Take both" keeps the shared edges once.
  using K = Resolution::Kind;
  EXPECT_EQ(join_lines(*merged_lines(plan, {Resolution{K::take_all, 0, {}}})),
            "a\nhead\nX\nY\ntail\nz\n");
  EXPECT_EQ(join_lines(*merged_lines(plan, {Resolution{K::take, 1, {}}})), "a\nhead\nX\ntail\nz\n");
  // diff3 markers show the conflict as found; git's style shows it narrowed.
  EXPECT_EQ(render_with_markers(plan, {"B", "O", "T"}),
            "a\n<<<<<<< O\nhead\nX\ntail\n||||||| B\nb\n=======\nhead\nY\ntail\n>>>>>>> T\nz\n");
  EXPECT_EQ(render_with_markers(plan, {"B", "O", "T"}, MarkerStyle::merge),
            "a\nhead\n<<<<<<< O\nX\n=======\nY\n>>>>>>> T\ntail\nz\n");
}

TEST(GuiNarrowing, SettledConflictsAreResolvedAutomaticallyAndNotMarked) {
  const MergePlan plan = plan_merge({L("v 1.0.0\nq\nr\ns\nt\nx\n"), L("v 1.1.0\nq\nr\ns\nt\nX1\n"),
                                     L("v 1.0.1\nq\nr\ns\nt\nX2\n")});
  ASSERT_EQ(plan.conflicts, 2u);
  EXPECT_EQ(plan.settled, 1u);
  EXPECT_EQ(plan.regions[0].settled_by, SettleRule::versions);
  EXPECT_FALSE(automatic_merge(plan).has_value());  // one conflict is still open
  EXPECT_EQ(marked_conflicts(plan, MarkerStyle::merge), 1u);
  EXPECT_EQ(render_with_markers(plan, {"B", "O", "T"}, MarkerStyle::merge),
            "v 1.1.0\nq\nr\ns\nt\n<<<<<<< O\nX1\n=======\nX2\n>>>>>>> T\n");
  std::vector<Resolution> r = automatic_resolutions(plan);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].kind, Resolution::Kind::automatic);
  EXPECT_EQ(r[1].kind, Resolution::Kind::unresolved);
  r[1] = Resolution{Resolution::Kind::take, 2, {}};
  EXPECT_EQ(join_lines(*merged_lines(plan, r)), "v 1.1.0\nq\nr\ns\nt\nX2\n");
  // Undone, the settled conflict is open again.
  r[0] = Resolution{};
  EXPECT_FALSE(merged_lines(plan, r).has_value());
  // Every conflict settled: the automatic merge is whole.
  const MergePlan all = plan_merge({L("v 1.0.0\n"), L("v 1.1.0\n"), L("v 1.0.1\n")});
  ASSERT_TRUE(automatic_merge(all).has_value());
  EXPECT_EQ(join_lines(*automatic_merge(all)), "v 1.1.0\n");
}

std::optional<std::string> releases(const std::string& one, const std::string& other,
                                    const std::string& after) {
  SettleOptions options = SettleOptions::none();
  options.releases = true;
  std::optional<Settlement> s = settle_conflict({}, L(one), L(other), options, L(after));
  if (!s) return std::nullopt;
  EXPECT_EQ(s->rule, SettleRule::releases);
  return join_lines(s->lines);
}

TEST(GuiSettle, ReleasesAddedAtOnePlaceStayNewestFirst) {
  const std::string older = "## 2.1.0 / 2024-01-02\n\n* fix\n";
  const std::string a = "## 2.3.0 / 2024-03-01\n\n* feature\n\n";
  const std::string b = "## 2.2.1 / 2024-02-11\n\n* other fix\n\n";
  EXPECT_EQ(releases(a, b, older), a + b);
  EXPECT_EQ(releases(b, a, older), a + b);
  // A pre-release is older than its release; link lines are a list too.
  EXPECT_EQ(releases("[2.10.0-RC1]: https://x/compare/2.9.5...2.10.0-RC1\n",
                     "[2.9.8]: https://x/compare/2.9.7...2.9.8\n",
                     "[2.9.5]: https://x/compare/2.9.4...2.9.5\n"),
            "[2.10.0-RC1]: https://x/compare/2.9.5...2.10.0-RC1\n"
            "[2.9.8]: https://x/compare/2.9.7...2.9.8\n");
  // The older section may come after other lines.
  EXPECT_EQ(releases(a, b, "\n" + older), a + b);
}

TEST(GuiSettle, ReleasesStayConflictedWithoutANewestFirstListOrWithOneDraft) {
  const std::string older = "## 2.1.0 / 2024-01-02\n\n* fix\n";
  const std::string a = "## 2.3.0 / 2024-03-01\n\n* feature\n\n";
  const std::string b = "## 2.2.1 / 2024-02-11\n\n* other fix\n\n";
  // Nothing older after the place, or something newer: not a newest-first list.
  EXPECT_EQ(releases(a, b, "text\n"), std::nullopt);
  EXPECT_EQ(releases(a, b, "## 2.2.5 / 2023-01-01\n"), std::nullopt);
  EXPECT_EQ(releases(a, b, "- 2.0.0 released\n"), std::nullopt);
  // One version, or a first line without one ("## HEAD").
  EXPECT_EQ(releases(a, a, older), std::nullopt);
  EXPECT_EQ(releases("## HEAD\n\n* feature\n", b, older), std::nullopt);
  // Headings of different shapes.
  EXPECT_EQ(releases("Version 2.3.0\n", b, older), std::nullopt);
  // A line with words in both: two drafts of one section.
  EXPECT_EQ(releases("## 2.3.0 / 2024-03-01\n\n* fix\n", b + "* fix\n", older), std::nullopt);
  // Blank lines at the edges differ: the separator was edited.
  EXPECT_EQ(releases(a, b + "\n", older), std::nullopt);
  // Lines were removed or changed, not only added.
  SettleOptions options = SettleOptions::none();
  options.releases = true;
  EXPECT_EQ(settle_conflict(L("## 2.2.0\n"), L(a), L(b), options, L(older)), std::nullopt);
  // Off unless asked for.
  EXPECT_EQ(settle_conflict({}, L(a), L(b), SettleOptions{}, L(older)), std::nullopt);
}

}  // namespace
}  // namespace marlow

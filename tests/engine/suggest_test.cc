// Ranked resolutions of the conflicts the engine leaves.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/diff.h"
#include "engine/settle.h"
#include "engine/suggest.h"

namespace marlow {
namespace {

std::vector<Line> L(const std::string& text) { return split_lines(text); }

MarkedConflict conflict(const std::string& base, const std::string& current,
                        const std::string& other, const std::string& after = "") {
  MarkedConflict c;
  c.base = L(base);
  c.current = L(current);
  c.other = L(other);
  c.after = L(after);
  return c;
}

std::vector<std::string> texts(const std::vector<Suggestion>& list) {
  std::vector<std::string> out;
  for (const Suggestion& s : list) out.push_back(join_lines(s.lines));
  return out;
}

std::vector<std::string> reasons(const std::vector<Suggestion>& list) {
  std::vector<std::string> out;
  for (const Suggestion& s : list) out.push_back(s.reason);
  return out;
}

TEST(GuiSuggest, PlainConflictOffersEachSideThenBothInEitherOrder) {
  const auto list = suggest_resolutions(conflict("x = f(a)\n", "x = g(a)\n", "y = h(a)\n"));
  EXPECT_EQ(reasons(list), (std::vector<std::string>{"current side", "other side",
                                                     "both, current first", "both, other first"}));
  EXPECT_EQ(texts(list)[2], "x = g(a)\ny = h(a)\n");
  EXPECT_EQ(texts(list)[3], "y = h(a)\nx = g(a)\n");
}

TEST(GuiSuggest, SignsInTheTextsComeFirst) {
  // Both sides added at one place: both stay, current first.
  EXPECT_EQ(suggest_resolutions(conflict("", "a()\n", "b()\n")).front().reason,
            "both, current first");
  // One side deleted what the other changed: the deletion first.
  const auto deleted = suggest_resolutions(conflict("old()\n", "", "changed()\n"));
  EXPECT_EQ(texts(deleted).front(), "");
  EXPECT_EQ(deleted.front().reason, "current side");
  // Version numbers both raised: the higher first.
  EXPECT_EQ(texts(suggest_resolutions(conflict("v 1.0.0\n", "v 1.1.0\n", "v 1.2.0\n"))).front(),
            "v 1.2.0\n");
  // Changes of different lines: the word merge first.
  const auto words =
      suggest_resolutions(conflict("x = 0\ny = 0\n", "x = 1\ny = 0\n", "x = 0\ny = 2\n"));
  EXPECT_EQ(words.front().reason, "word merge");
  EXPECT_EQ(texts(words).front(), "x = 1\ny = 2\n");
  // Release sections added at one place of a newest-first list.
  const auto releases = suggest_resolutions(
      conflict("", "## 2.1.0\n- a\n\n", "## 2.0.1\n- b\n\n", "## 2.0.0\n- c\n"));
  EXPECT_EQ(releases.front().reason, "release sections, newest first");
  EXPECT_EQ(texts(releases).front(), "## 2.1.0\n- a\n\n## 2.0.1\n- b\n\n");
}

TEST(GuiSuggest, ListsBothSidesChangedKeepWhatEachAddedAndDropWhatEachRemoved) {
  // Imports: one side renamed two, the other added one.
  const auto imports =
      suggest_resolutions(conflict("\"pkg/exemplar\"\n\"pkg/labels\"\n",
                                   "\"model/histogram\"\n\"pkg/exemplar\"\n\"pkg/labels\"\n",
                                   "\"model/exemplar\"\n\"model/labels\"\n"));
  ASSERT_GE(imports.size(), 3u);
  EXPECT_EQ(imports[2].reason, "sorted lines of both");
  EXPECT_EQ(texts(imports)[2], "\"model/exemplar\"\n\"model/histogram\"\n\"model/labels\"\n");
  // Unsorted: in the sides' order, last.
  const auto members =
      suggest_resolutions(conflict("x = 1\nold\n", "x = 2\nold\nnew1\n", "x = 3\n"));
  EXPECT_EQ(members.back().reason, "lines of both, without those either removed")
      << testing::PrintToString(reasons(members));
  EXPECT_EQ(texts(members).back(), "x = 2\nnew1\nx = 3\n");
}

TEST(GuiSuggest, AtMostFiveAndNoneTwice) {
  for (const MarkedConflict& c :
       {conflict("a\n", "b\n", "c\n"), conflict("", "same\n", "same\n"),
        conflict("f(a, b)\n", "g(a, b)\n", "f(a, c)\n"), conflict("v 1\n", "", "v 2\n")}) {
    const auto list = suggest_resolutions(c);
    EXPECT_LE(list.size(), kMaxSuggestions);
    EXPECT_GE(list.size(), 1u);
    const std::vector<std::string> t = texts(list);
    EXPECT_EQ(std::set<std::string>(t.begin(), t.end()).size(), t.size());
    for (const Suggestion& s : list) EXPECT_FALSE(s.reason.empty());
  }
}

TEST(GuiSuggest, BothSidesGetALineEndBetweenThemButKeepTheLastOnesOwn) {
  const auto list = suggest_resolutions(conflict("a\n", "b", "c"), "\r\n");
  EXPECT_EQ(texts(list), (std::vector<std::string>{"b", "c", "b\r\nc", "c\r\nb"}));
}

TEST(GuiSuggest, MarkedConflictsAreThoseWrittenOutWithTheirBaseAndSurroundings) {
  // Two changes near each other with a shared line between them: git's
  // style writes them as one conflict, diff3 as two, each with its base.
  const std::string base = "head\nk1\nshared\nk2\ntail\n";
  const std::string current = "head\nc1\nshared\nc2\ntail\n";
  const std::string other = "head\no1\nshared\no2\ntail\n";
  const MergePlan plan = plan_merge({L(base), L(current), L(other)}, SettleOptions::none());
  const std::vector<MarkedConflict> joined = marked_conflict_list(plan, MarkerStyle::merge);
  ASSERT_EQ(joined.size(), marked_conflicts(plan, MarkerStyle::merge));
  ASSERT_EQ(joined.size(), 1u);
  EXPECT_EQ(join_lines(joined[0].current), "c1\nshared\nc2\n");
  EXPECT_EQ(join_lines(joined[0].other), "o1\nshared\no2\n");
  EXPECT_EQ(join_lines(joined[0].base), "k1\nshared\nk2\n");
  EXPECT_EQ(join_lines(joined[0].before), "head\n");
  EXPECT_EQ(join_lines(joined[0].after), "tail\n");
  const std::vector<MarkedConflict> apart = marked_conflict_list(plan, MarkerStyle::diff3);
  ASSERT_EQ(apart.size(), marked_conflicts(plan, MarkerStyle::diff3));
  ASSERT_EQ(apart.size(), 2u);
  EXPECT_EQ(join_lines(apart[0].base), "k1\n");
  EXPECT_EQ(join_lines(apart[0].after), "shared\n");
  EXPECT_EQ(join_lines(apart[1].before), "shared\n");
  EXPECT_EQ(join_lines(apart[1].other), "o2\n");
  // Sides that share lines at their ends are cut narrower in git's style;
  // the base kept is the one against the lines left.
  const MergePlan narrowed =
      plan_merge({L("a\nb\nc\n"), L("a\nS\nB1\nc\n"), L("a\nS\nB2\nc\n")}, SettleOptions::none());
  const std::vector<MarkedConflict> cut = marked_conflict_list(narrowed, MarkerStyle::merge);
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(join_lines(cut[0].current), "B1\n");
  EXPECT_EQ(join_lines(cut[0].other), "B2\n");
  EXPECT_EQ(join_lines(cut[0].base), "b\n");
}

TEST(GuiSuggest, EveryConflictOfAPlanGetsItsList) {
  const MergePlan plan =
      plan_merge({L("a\nx\nx\nx\nx\nb\n"), L("A1\nx\nx\nx\nx\nB1\n"), L("A2\nx\nx\nx\nx\nB2\n")},
                 SettleOptions::none());
  const auto lists = suggest_for_plan(plan, MarkerStyle::merge);
  ASSERT_EQ(lists.size(), 2u);
  EXPECT_EQ(texts(lists[0]).front(), "A1\n");
  EXPECT_EQ(texts(lists[1]).front(), "B1\n");
}

}  // namespace
}  // namespace marlow

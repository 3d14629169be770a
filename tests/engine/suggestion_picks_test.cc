// Which suggestion each open conflict shows, accepting and cycling, as any
// front end keeps them.
#include <gtest/gtest.h>

#include <string>

#include "engine/diff.h"
#include "engine/suggestion_picks.h"

namespace marlow {
namespace {

std::vector<std::size_t> conflicts_of(const MergePlan& plan) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < plan.regions.size(); ++i) {
    if (plan.regions[i].kind == RegionKind::conflict) out.push_back(i);
  }
  return out;
}

class SuggestionPicksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plan = plan_merge({split_lines("the quick fox\nkeep\nend\n"),
                       split_lines("the slow fox\nkeep\nEND1\n"),
                       split_lines("the quick dog\nkeep\nEND2\n")});
    picks.reset(plan, conflicts_of(plan));
  }
  MergePlan plan;
  SuggestionPicks picks;
};

TEST_F(SuggestionPicksTest, WorkedOutOnlyWhenAskedAndOnce) {
  ASSERT_EQ(conflicts_of(plan).size(), 2U);
  EXPECT_EQ(picks.computed(), 0U);
  const std::vector<Suggestion>& first = picks.suggestions(0);
  EXPECT_EQ(picks.computed(), 1U);
  EXPECT_EQ(&picks.suggestions(0), &first);
  EXPECT_TRUE(picks.suggestions(7).empty());
}

TEST_F(SuggestionPicksTest, ShownOnlyWhileUnsettledWithNoBlockChosen) {
  const Suggestion* shown = picks.shown(0, Resolution{});
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(join_lines(shown->lines), "the slow dog\n");
  EXPECT_EQ(picks.label(0),
            "suggestion 1 of " + std::to_string(picks.suggestions(0).size()) + ": word merge");
  EXPECT_EQ(picks.shown(0, Resolution{Resolution::Kind::take, 1, {}}), nullptr);
  EXPECT_EQ(picks.shown(0, Resolution{Resolution::Kind::unresolved, 1, {}}), nullptr);
}

TEST_F(SuggestionPicksTest, CyclingGoesRoundBothWays) {
  const std::size_t n = picks.suggestions(0).size();
  ASSERT_GE(n, 3U);
  EXPECT_EQ(picks.cycled(0, 1).shown, 1U);
  EXPECT_EQ(picks.cycled(0, -1).shown, n - 1);
  picks.set_pick(0, SuggestionPick{n - 1, true});
  const SuggestionPick round = picks.cycled(0, 1);
  EXPECT_EQ(round.shown, 0U);
  EXPECT_TRUE(round.accepted);
}

TEST_F(SuggestionPicksTest, AcceptedUntilTheLinesChange) {
  picks.set_pick(0, SuggestionPick{1, true});
  const std::optional<Resolution> accepted = picks.accepted_resolution(0);
  ASSERT_TRUE(accepted.has_value());
  EXPECT_EQ(accepted->kind, Resolution::Kind::edited);
  EXPECT_EQ(accepted->lines, picks.suggestions(0)[1].lines);
  EXPECT_TRUE(picks.settled_by_suggestion(0, *accepted));
  Resolution edited = *accepted;
  edited.lines.front() = split_lines("typed\n").front();
  EXPECT_FALSE(picks.settled_by_suggestion(0, edited));
  picks.set_pick(0, SuggestionPick{1, false});
  EXPECT_FALSE(picks.settled_by_suggestion(0, *accepted));
}

}  // namespace
}  // namespace marlow

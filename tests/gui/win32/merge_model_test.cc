// The merge as the Windows merge window edits it: takes, typing into the
// result's rows, and the one history of both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32/merge_model.h"

namespace marlow::win32 {
namespace {

std::vector<Line> lines(const std::vector<std::string>& texts) {
  std::vector<Line> out;
  for (const std::string& t : texts) out.push_back({t, "\n"});
  return out;
}

std::vector<std::string> texts(const std::vector<Line>& rows) {
  std::vector<std::string> out;
  for (const Line& line : rows) out.push_back(line.text.str());
  return out;
}

// Two conflicts (rows b and g) and a clean change (row e).
class Win32MergeModel : public ::testing::Test {
 protected:
  MergeModel model{{lines({"a", "b", "c", "d", "e", "f", "g", "h"}),
                    lines({"a", "B1", "c", "d", "e", "f", "G1", "h"}),
                    lines({"a", "B2", "c", "d", "E2", "f", "G2", "h"})}};
};

TEST_F(Win32MergeModel, AnUnsettledConflictIsOneEmptyRowAndTakesFillIt) {
  ASSERT_EQ(model.conflict_count(), 2u);
  EXPECT_EQ(texts(model.rows()), (std::vector<std::string>{"a", "", "c", "d", "E2", "f", "", "h"}));
  EXPECT_EQ(model.look(model.conflict_region(0)), RegionLook::unresolved);
  EXPECT_FALSE(model.merged());
  model.take(0, 2);
  model.take(1, 1);
  EXPECT_EQ(model.look(model.conflict_region(0)), RegionLook::taken);
  ASSERT_TRUE(model.merged());
  EXPECT_EQ(texts(*model.merged()),
            (std::vector<std::string>{"a", "B2", "c", "d", "E2", "f", "G1", "h"}));
  // Every row knows its region.
  EXPECT_EQ(model.row_regions()[1], model.conflict_region(0));
  EXPECT_EQ(model.first_row(model.conflict_region(1)), 6u);
}

TEST_F(Win32MergeModel, TypedRowsBecomeTheRowsAndSettleTheConflictTheyAreIn) {
  std::vector<std::string> typed = {"a", "mine", "c", "d", "E2", "f", "", "h"};
  model.typed(typed);
  EXPECT_EQ(texts(model.rows()), typed);
  EXPECT_EQ(model.resolution(0).kind, Resolution::Kind::edited);
  EXPECT_EQ(model.unresolved_count(), 1u);
  // A line break typed inside a clean change, and rows joined over two
  // regions: the rows are still what was typed.
  typed = {"a", "mine", "c", "d", "E", "2", "f", "", "h"};
  model.typed(typed);
  EXPECT_EQ(texts(model.rows()), typed);
  EXPECT_EQ(model.look(model.row_regions()[4]), RegionLook::edited);
  typed = {"a", "minec", "d", "E", "2", "f", "", "h"};
  model.typed(typed);
  EXPECT_EQ(texts(model.rows()), typed);
  // Rows added at the very end, and every row removed.
  typed.push_back("tail");
  model.typed(typed);
  EXPECT_EQ(texts(model.rows()), typed);
  model.typed({""});
  EXPECT_EQ(texts(model.rows()), (std::vector<std::string>{""}));
  EXPECT_EQ(model.unresolved_count(), 0u);
}

TEST_F(Win32MergeModel, TakesAndTypingShareOneHistory) {
  model.take(0, 1);
  model.typed({"a", "B1", "c", "d", "E2", "f", "x", "h"});
  model.typed({"a", "B1", "c", "d", "E2", "f", "xy", "h"});  // the same run of typing
  model.take_remaining(2);                                   // nothing is left unresolved: no step
  EXPECT_EQ(texts(model.rows())[6], "xy");
  ASSERT_TRUE(model.undo());  // the typing, whole
  EXPECT_EQ(texts(model.rows())[6], "");
  EXPECT_EQ(model.resolution(1).kind, Resolution::Kind::unresolved);
  ASSERT_TRUE(model.undo());  // the take
  EXPECT_EQ(texts(model.rows())[1], "");
  EXPECT_FALSE(model.undo());
  ASSERT_TRUE(model.redo());
  ASSERT_TRUE(model.redo());
  EXPECT_EQ(texts(model.rows())[6], "xy");
  EXPECT_FALSE(model.redo());
  // A new step drops what could have been done again.
  model.undo();
  model.take(1, 2);
  EXPECT_FALSE(model.can_redo());
  EXPECT_EQ(texts(model.rows())[6], "G2");
}

TEST_F(Win32MergeModel, TakeRemainingIsOneStepForEveryUnsettledConflict) {
  model.take(0, 1);
  model.take_remaining(2);
  EXPECT_EQ(texts(*model.merged()),
            (std::vector<std::string>{"a", "B1", "c", "d", "E2", "f", "G2", "h"}));
  model.undo();
  EXPECT_EQ(model.unresolved_count(), 1u);
  EXPECT_EQ(model.resolution(0).kind, Resolution::Kind::take);
}

TEST(Win32MergeModelEnds, TheLastRowKeepsItsLackOfALineEndWhenTypedOver) {
  std::vector<Line> base = lines({"a", "b"});
  base.back().eol = "";
  std::vector<Line> mine = base;
  std::vector<Line> theirs = base;
  MergeModel model({base, mine, theirs});
  model.typed({"a", "bb"});
  ASSERT_TRUE(model.merged());
  EXPECT_TRUE(model.merged()->back().eol.empty());
  EXPECT_EQ(model.merged()->front().eol, "\n");
}

}  // namespace
}  // namespace marlow::win32

// A merge session without any window: takes, blocks, lines picked, typing
// and clean changes in one history; what typed rows give each region; the
// notifications a view hears.
#include "engine/merge_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace marlow {
namespace {

std::vector<std::vector<Line>> texts(const std::string& base, const std::string& one,
                                     const std::string& two) {
  return {split_lines(base), split_lines(one), split_lines(two)};
}

// Conflicts on lines 2 and 4, a clean change of side 1 on line 6.
std::vector<std::vector<Line>> two_conflicts_and_a_clean_change() {
  return texts("a\nb\nc\nd\ne\nf\ng\n", "a\nB1\nc\nD1\ne\nF\ng\n", "a\nB2\nc\nD2\ne\nf\ng\n");
}

std::string text_of(const MergeSession& session) {
  const std::optional<std::vector<Line>> lines = session.merged();
  return lines ? join_lines(*lines) : std::string("<open>");
}

// What a view hears, in order.
struct Recorder : MergeSessionObserver {
  void regions_changed(const std::vector<std::size_t>& regions) override {
    for (std::size_t r : regions) events.push_back("regions " + std::to_string(r));
  }
  void current_changed(std::size_t conflict) override {
    events.push_back("current " + std::to_string(conflict));
  }
  void history_changed() override { events.push_back("history"); }
  std::vector<std::string> events;
};

// A view of the whole result as rows of text, kept as a front end keeps it:
// each region's rows, and edits typed anywhere in the joined text.
struct RowsView {
  explicit RowsView(MergeSession* s) : session(s) { rebuild(); }
  void rebuild() {
    rows.clear();
    for (std::size_t r = 0; r < session->region_count(); ++r)
      rows.push_back(session->shown_region(r).rows);
  }
  std::string text() const {
    std::string out;
    bool first = true;
    for (const auto& region : rows) {
      for (const std::string& row : region) {
        if (!first) out += '\n';
        out += row;
        first = false;
      }
    }
    return out;
  }
  std::size_t region_at_row(std::size_t row) const {
    std::size_t start = 0;
    std::size_t found = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (start > row) break;
      found = r;
      start += rows[r].size();
    }
    while (found > 0 && rows[found].empty()) --found;
    return found;
  }
  // Replaces text [at, at + removed) with `inserted`, as typing would.
  void edit(std::size_t at, std::size_t removed, const std::string& inserted) {
    const std::string before = text();
    std::size_t old_total = 0;
    for (const auto& region : rows) old_total += region.size();
    const std::string after = before.substr(0, at) + inserted + before.substr(at + removed);
    const auto row_of = [](const std::string& s, std::size_t pos) {
      return static_cast<std::size_t>(
          std::count(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
    };
    const std::size_t first_row = row_of(before, at);
    const long delta = static_cast<long>(std::count(after.begin(), after.end(), '\n')) -
                       static_cast<long>(std::count(before.begin(), before.end(), '\n'));
    const long added_breaks = std::count(inserted.begin(), inserted.end(), '\n');
    const std::size_t r1 = region_at_row(first_row);
    const std::size_t r2 = std::max(r1, region_at_row(static_cast<std::size_t>(
                                            static_cast<long>(first_row) + added_breaks - delta)));
    std::size_t span_first = 0;
    std::size_t span_rows = 0;
    for (std::size_t r = 0; r < r1; ++r) span_first += rows[r].size();
    for (std::size_t r = r1; r <= r2; ++r) span_rows += rows[r].size();
    std::vector<std::string> all;
    std::size_t from = 0;
    for (std::size_t cut; (cut = after.find('\n', from)) != std::string::npos; from = cut + 1)
      all.push_back(after.substr(from, cut - from));
    all.push_back(after.substr(from));
    if (old_total == 0 && after.empty()) all.clear();
    const std::vector<std::string> typed(all.begin() + static_cast<std::ptrdiff_t>(span_first),
                                         all.begin() + static_cast<std::ptrdiff_t>(span_first) +
                                             (static_cast<long>(span_rows) + delta));
    session->type_rows(r1, r2, typed);
    rows.clear();
    rebuild();
    ASSERT_EQ(text(), after) << "the regions no longer hold what the view shows";
  }
  MergeSession* session;
  std::vector<std::vector<std::string>> rows;
};

// ---------------------------------------------------------------------------
// Settling and the one history.

TEST(MergeSession, TakesUndoAndRedoInOneHistory) {
  MergeSession session(two_conflicts_and_a_clean_change(), {});
  ASSERT_EQ(session.conflict_count(), 2U);
  EXPECT_EQ(session.unresolved_count(), 2U);
  EXPECT_FALSE(session.merged());
  EXPECT_FALSE(session.has_unsaved_choices());
  ASSERT_TRUE(session.take(1).ok());
  ASSERT_TRUE(session.set_current(1));
  ASSERT_TRUE(session.take(2).ok());
  EXPECT_EQ(text_of(session), "a\nB1\nc\nD2\ne\nF\ng\n");
  EXPECT_TRUE(session.has_unsaved_choices());
  // Undo follows the conflict it changes.
  ASSERT_TRUE(session.set_current(0));
  EXPECT_EQ(session.undo(), session.region_of_conflict(1));
  EXPECT_EQ(session.current(), 1U);
  EXPECT_EQ(session.unresolved_count(), 1U);
  EXPECT_EQ(session.redo(), session.region_of_conflict(1));
  EXPECT_EQ(text_of(session), "a\nB1\nc\nD2\ne\nF\ng\n");
  // A new step ends what could be done again.
  session.undo();
  ASSERT_TRUE(session.take_all().ok());
  EXPECT_FALSE(session.can_redo());
  EXPECT_EQ(text_of(session), "a\nB1\nc\nD1\nD2\ne\nF\ng\n");
  EXPECT_EQ(session.redo(), MergeSession::kNone);
  // Refusals change nothing.
  EXPECT_EQ(session.take(7).code(), EINVAL);
  EXPECT_EQ(session.undo_automatic().code(), EINVAL);
  session.mark_saved();
  EXPECT_FALSE(session.has_unsaved_choices());
}

TEST(MergeSession, TypingRunsJoinUntilAnotherStep) {
  MergeSession session(two_conflicts_and_a_clean_change(), {});
  ASSERT_TRUE(session.edit_current(split_lines("x\n")).ok());
  ASSERT_TRUE(session.edit_current(split_lines("xy\n")).ok());
  ASSERT_TRUE(session.take(1).ok());
  ASSERT_TRUE(session.edit_current(split_lines("B1!\n")).ok());
  EXPECT_EQ(join_lines(*session.region_lines(session.region_of_conflict(0))), "B1!\n");
  session.undo();
  EXPECT_EQ(session.resolution(0).kind, Resolution::Kind::take);
  // What was typed before the take comes back with its undo, as one step.
  session.undo();
  EXPECT_EQ(join_lines(*session.region_lines(session.region_of_conflict(0))), "xy\n");
  session.undo();
  EXPECT_EQ(session.resolution(0).kind, Resolution::Kind::unresolved);
  EXPECT_FALSE(session.can_undo());
}

TEST(MergeSession, TakeRemainingIsOneStepAndAdvanceMovesOn) {
  MergeSession session(texts("1\n2\n3\n4\n5\n", "A\n2\nC\n4\nE\n", "a\n2\nc\n4\ne\n"), {});
  ASSERT_EQ(session.conflict_count(), 3U);
  ASSERT_TRUE(session.set_current(1));
  ASSERT_TRUE(session.take(1).ok());
  EXPECT_EQ(session.current(), 1U);  // off by default
  ASSERT_TRUE(session.take_remaining(2).ok());
  EXPECT_EQ(text_of(session), "a\n2\nC\n4\ne\n");
  session.undo();
  EXPECT_EQ(session.unresolved_count(), 2U);
  // Moving on after a take: to the next open conflict, round the end.
  session.set_advance_after_take(true);
  ASSERT_TRUE(session.set_current(2));
  ASSERT_TRUE(session.take(1).ok());
  EXPECT_EQ(session.current(), 0U);
  ASSERT_TRUE(session.take_all(true).ok());
  EXPECT_EQ(session.current(), 0U);  // none left open: stays
  EXPECT_EQ(session.next_unresolved(true), MergeSession::kNone);
}

TEST(MergeSession, BothSidesEitherOrder) {
  // Side 1 ends without a line end: joined to the other, it gets one.
  MergeSession session(texts("a\nb", "a\nB1", "a\nB2"), {});
  ASSERT_EQ(session.conflict_count(), 1U);
  ASSERT_TRUE(session.take_all().ok());
  EXPECT_EQ(text_of(session), "a\nB1\nB2");
  ASSERT_TRUE(session.take_all(true).ok());
  EXPECT_EQ(text_of(session), "a\nB2\nB1");
  EXPECT_TRUE(session.side_taken(0, 1));
  EXPECT_TRUE(session.side_taken(0, 2));
  EXPECT_FALSE(session.side_taken(0, 0));
  session.undo();
  EXPECT_EQ(text_of(session), "a\nB1\nB2");
}

// ---------------------------------------------------------------------------
// Blocks and lines picked.

TEST(MergeSession, BlocksChosenOneByOne) {
  MergeSession session(texts("a\nb\nc\nd\ne\n", "a\nB\nC\nD\ne\n", "a\nb2\nC\nd2\ne\n"), {});
  ASSERT_EQ(session.conflict_count(), 1U);
  ASSERT_EQ(session.block_count(0), 2U);
  ASSERT_TRUE(session.take_block(1, 2).ok());
  EXPECT_EQ(session.unresolved_count(), 1U);  // not every block yet
  EXPECT_EQ(session.blocks_chosen(0), 1U);
  EXPECT_EQ(session.first_open_block(0), 0U);
  EXPECT_EQ(session.suggestion_shown(session.region_of_conflict(0)), nullptr);
  EXPECT_EQ(session.block_lines_taken(0, 2), (std::vector<int>{-1, -1, 1}));
  EXPECT_EQ(session.block_lines_taken(0, 1), (std::vector<int>{-1, -1, 0}));
  ASSERT_TRUE(session.take_block(0, 1).ok());
  EXPECT_EQ(text_of(session), "a\nB\nC\nd2\ne\n");
  // A side taken whole counts for every block.
  ASSERT_TRUE(session.take(2).ok());
  ASSERT_TRUE(session.take_block(0, 1).ok());
  EXPECT_EQ(text_of(session), "a\nB\nC\nd2\ne\n");
  EXPECT_EQ(session.block_at_line(0, 2, 2), 1U);
  EXPECT_EQ(session.block_at_line(0, 1, 0), 0U);
  EXPECT_EQ(session.block_at_line(0, 0, 0), MergeSession::kNone);
  EXPECT_EQ(session.take_block(2, 1).code(), EINVAL);
  EXPECT_EQ(session.take_block(0, 0).code(), EINVAL);
  session.undo();
  session.undo();
  session.undo();
  EXPECT_EQ(session.blocks_chosen(0), 1U);
}

TEST(MergeSession, TooManyBlocksAreRefused) {
  // Both sides change every line, in the same way only on odd lines: one
  // conflict of 40 blocks.
  std::string base;
  std::string one;
  std::string two;
  for (int i = 0; i < 80; ++i) {
    const std::string n = std::to_string(i);
    base += "x" + n + "\n";
    one += "one" + n + "\n";
    two += (i % 2 == 0 ? "two" : "one") + n + "\n";
  }
  MergeSession session(texts(base, one, two), {});
  ASSERT_EQ(session.conflict_count(), 1U);
  ASSERT_GT(session.block_count(0), sizeof(std::size_t) * 4);
  EXPECT_EQ(session.take_block(0, 1).code(), E2BIG);
  EXPECT_FALSE(session.can_undo());
}

TEST(MergeSession, LinesPickedFromEitherSideInTheirOrder) {
  MergeSession session(texts("a\nb\nc\nz\n", "a\nB1\nB2\nB3\nz\n", "a\nC1\nC2\nz\n"), {});
  ASSERT_EQ(session.conflict_count(), 1U);
  ASSERT_TRUE(session.pick_lines(2, 1, 1).ok());  // C2
  ASSERT_TRUE(session.pick_lines(1, 0, 1).ok());  // B1
  ASSERT_TRUE(session.pick_lines(1, 2, 1).ok());  // B3
  // Down the conflict's rows: B1 (row 0), C2 (row 1), B3 (row 2).
  EXPECT_EQ(text_of(session), "a\nB1\nC2\nB3\nz\n");
  EXPECT_EQ(session.line_picks(0).size(), 3U);
  // Taken away again; all taken away leaves the conflict open.
  ASSERT_TRUE(session.pick_lines(1, 0, 3, false).ok());
  EXPECT_EQ(text_of(session), "a\nC2\nz\n");
  // Each pick is one step of the history.
  session.undo();
  EXPECT_EQ(text_of(session), "a\nB1\nC2\nB3\nz\n");
  session.undo();
  session.undo();
  session.undo();
  EXPECT_EQ(session.unresolved_count(), 1U);
  EXPECT_TRUE(session.line_picks(0).empty());
  session.redo();
  EXPECT_EQ(text_of(session), "a\nC2\nz\n");
  // No such side, no such line.
  EXPECT_EQ(session.pick_lines(3, 0, 1).code(), EINVAL);
  EXPECT_EQ(session.pick_lines(2, 1, 2).code(), EINVAL);
  // A take in between starts the picks afresh.
  ASSERT_TRUE(session.take(1).ok());
  EXPECT_TRUE(session.line_picks(0).empty());
  ASSERT_TRUE(session.pick_lines(1, 1, 1).ok());
  EXPECT_EQ(text_of(session), "a\nB2\nz\n");
  // So does typing; the base's lines may be picked too.
  ASSERT_TRUE(session.edit_current(split_lines("typed\n")).ok());
  EXPECT_TRUE(session.picked_lines(0, 1).empty());
  ASSERT_TRUE(session.pick_lines(0, 0, 1).ok());
  EXPECT_EQ(text_of(session), "a\nb\nz\n");
  EXPECT_EQ(session.picked_lines(0, 0), (std::vector<int>{1, 0}));
  EXPECT_EQ(session.picked_lines(0, 2), (std::vector<int>{0, 0}));
}

TEST(MergeSession, SavedLineEnds) {
  const std::vector<Line> lines = split_lines("a\r\nb\nc");
  EXPECT_EQ(join_lines(with_line_ends(lines, SavedLineEnds::as_merged)), "a\r\nb\nc");
  EXPECT_EQ(join_lines(with_line_ends(lines, SavedLineEnds::lf)), "a\nb\nc");
  EXPECT_EQ(join_lines(with_line_ends(lines, SavedLineEnds::crlf)), "a\r\nb\r\nc");
  EXPECT_EQ(join_lines(with_line_ends(split_lines("a\nb\n"), SavedLineEnds::cr)), "a\rb\r");
}

TEST(MergeSession, PickedLastLineWithoutLineEndGetsOneBeforeAnother) {
  MergeSession session(texts("a\nb", "a\nB1", "a\nC1\nC2"), {});
  ASSERT_EQ(session.conflict_count(), 1U);
  ASSERT_TRUE(session.pick_lines(1, 0, 1).ok());
  ASSERT_TRUE(session.pick_lines(2, 1, 1).ok());
  EXPECT_EQ(text_of(session), "a\nB1\nC2");
}

// ---------------------------------------------------------------------------
// Clean changes and suggestions.

TEST(MergeSession, CleanChangesRejectedEditedAndAcceptedAgain) {
  MergeSession session(two_conflicts_and_a_clean_change(), {});
  ASSERT_TRUE(session.take_remaining(1).ok());
  const std::size_t clean = session.next_clean_change(0, true);
  ASSERT_NE(clean, MergeSession::kNone);
  EXPECT_TRUE(session.clean_change_kept(clean));
  ASSERT_TRUE(session.toggle_clean_change(clean).ok());
  EXPECT_TRUE(session.clean_change_rejected(clean));
  EXPECT_EQ(text_of(session), "a\nB1\nc\nD1\ne\nf\ng\n");
  ASSERT_TRUE(session.edit_region(clean, split_lines("G\n")).ok());
  EXPECT_TRUE(session.region_edited(clean));
  EXPECT_EQ(text_of(session), "a\nB1\nc\nD1\ne\nG\ng\n");
  ASSERT_TRUE(session.toggle_clean_change(clean).ok());
  EXPECT_EQ(text_of(session), "a\nB1\nc\nD1\ne\nF\ng\n");
  session.undo();
  session.undo();
  EXPECT_TRUE(session.clean_change_rejected(clean));
  EXPECT_EQ(session.toggle_clean_change(0).code(), EINVAL);
  EXPECT_EQ(session.next_clean_change(clean, false), clean);  // the only one, round the end
}

TEST(MergeSession, SuggestionsShownAcceptedCycledAndTypedOver) {
  MergeSession session(texts("the quick fox\n", "the slow fox\n", "the quick dog\n"), {});
  const std::size_t region = session.region_of_conflict(0);
  const Suggestion* shown = session.suggestion_shown(region);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(session.shown_region(region).rows, std::vector<std::string>{"the slow dog"});
  EXPECT_FALSE(session.shown_region(region).lines);
  EXPECT_FALSE(session.merged());  // never saved unaccepted
  ASSERT_TRUE(session.accept_suggestion().ok());
  EXPECT_EQ(text_of(session), "the slow dog\n");
  // Cycling an accepted one accepts the next.
  const std::size_t count = session.suggestion_picks().suggestions(0).size();
  if (count > 1) {
    ASSERT_TRUE(session.cycle_suggestion(1).ok());
    EXPECT_TRUE(session.suggestion_picks().pick(0).accepted);
    EXPECT_NE(text_of(session), "the slow dog\n");
    session.undo();
  }
  session.undo();
  EXPECT_EQ(session.unresolved_count(), 1U);
  // Typing over: the suggestion gives way to an empty row until the user
  // is elsewhere with nothing typed.
  session.type_over_suggestion(0);
  EXPECT_EQ(session.suggestion_shown(region), nullptr);
  EXPECT_EQ(session.shown_region(region).rows, std::vector<std::string>{""});
  EXPECT_EQ(session.restore_typed_over(), MergeSession::kNone);  // still current
  ASSERT_TRUE(session.take(1).ok());
  EXPECT_EQ(session.typing_over(), MergeSession::kNone);
  EXPECT_EQ(session.accept_suggestion().code(), ENOENT);  // settled
  EXPECT_EQ(session.cycle_suggestion(1).code(), ENOENT);
}

TEST(MergeSession, ASuggestionTypedOverComesBackElsewhere) {
  MergeSession session(two_conflicts_and_a_clean_change(), {});
  const std::size_t first = session.region_of_conflict(0);
  ASSERT_NE(session.suggestion_shown(first), nullptr);
  session.type_over_suggestion(0);
  ASSERT_TRUE(session.set_current(1));
  // Nothing typed, and the user is elsewhere: it shows again.
  EXPECT_EQ(session.restore_typed_over(), first);
  EXPECT_NE(session.suggestion_shown(first), nullptr);
  EXPECT_EQ(session.restore_typed_over(), MergeSession::kNone);
  // Text put on its rows by other means than keys settles it by hand, and
  // the view that put it there hears only of the step.
  Recorder heard;
  session.set_observer(&heard);
  ASSERT_TRUE(session.put_on_conflict(first, split_lines("put\n")).ok());
  EXPECT_EQ(join_lines(*session.region_lines(first)), "put\n");
  EXPECT_EQ(session.current(), 0U);
  EXPECT_EQ(heard.events, (std::vector<std::string>{"history", "current 0"}));
  EXPECT_EQ(session.put_on_conflict(0, {}).code(), EINVAL);  // not a conflict
}

// ---------------------------------------------------------------------------
// Typed rows to regions.

TEST(TypedRows, AnEditInsideAnOpenConflictSettlesItByHand) {
  const MergePlan plan = plan_merge(two_conflicts_and_a_clean_change());
  // Region 1 is the first conflict, shown as one empty row.
  std::vector<ShownRegion> before{{1, {""}, std::nullopt}};
  const std::optional<TypedRegions> typed = typed_rows_to_regions(plan, before, {"x", "y"});
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->target, 1U);
  ASSERT_EQ(typed->changes.size(), 1U);
  EXPECT_EQ(join_lines(typed->changes[0].second), "x\ny\n");
  EXPECT_FALSE(typed_rows_to_regions(plan, before, {""}));  // nothing changed
}

TEST(TypedRows, AJoinGivesTheRowsToTheRegionWhereItStarts) {
  const MergePlan plan = plan_merge(two_conflicts_and_a_clean_change());
  std::vector<ShownRegion> before{{0, {"a"}, split_lines("a\n")},
                                  {1, {"B"}, split_lines("B\n")},
                                  {2, {"c"}, split_lines("c\n")}};
  // "a" and "B" joined into one row: region 0 holds it, region 1 is left
  // with no lines, region 2 keeps its own.
  std::optional<TypedRegions> typed = typed_rows_to_regions(plan, before, {"aB", "c"});
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->target, 0U);
  ASSERT_EQ(typed->changes.size(), 2U);
  EXPECT_EQ(typed->changes[0], (std::pair<std::size_t, std::vector<Line>>{0, split_lines("aB\n")}));
  EXPECT_EQ(typed->changes[1], (std::pair<std::size_t, std::vector<Line>>{1, {}}));
  // A row put in between two regions goes to the one where it starts.
  typed = typed_rows_to_regions(plan, before, {"a", "new", "B", "c"});
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->target, 0U);
  ASSERT_EQ(typed->changes.size(), 1U);
  EXPECT_EQ(join_lines(typed->changes[0].second), "a\nnew\n");
  // Rows taken out of a region's middle leave it the rest.
  typed = typed_rows_to_regions(plan, before, {"a", "c"});
  ASSERT_TRUE(typed);
  ASSERT_EQ(typed->changes.size(), 1U);
  EXPECT_EQ(typed->changes[0], (std::pair<std::size_t, std::vector<Line>>{1, {}}));
}

TEST(TypedRows, TheLastLineEndsAsTheTextsDo) {
  // No final line end: a row typed at the end keeps it so.
  const MergePlan plan = plan_merge(texts("a\nb", "a\nB1", "a\nB2"));
  const std::size_t last = plan.regions.size() - 1;
  EXPECT_EQ(join_lines(lines_from_rows(plan, {"x", "y"}, last)), "x\ny");
  EXPECT_EQ(join_lines(lines_from_rows(plan, {"x"}, 0)), "x\n");
  const MergePlan crlf = plan_merge(texts("a\r\nb\r\n", "a\r\nB1\r\n", "a\r\nB2\r\n"));
  EXPECT_EQ(join_lines(lines_from_rows(crlf, {"x"}, crlf.regions.size() - 1)), "x\r\n");
}

// Random edits anywhere, across regions and line breaks: after each, the
// regions hold what the view shows, an undo and a redo give the same text
// back, and undoing them all gives the text the merge opened with.
TEST(TypedRows, RandomEditsKeepTheRegionsAndTheViewTogether) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    MergeSession session(two_conflicts_and_a_clean_change(), {});
    // Suggestions give way before typing, as a view does on a key.
    for (std::size_t c = 0; c < session.conflict_count(); ++c) {
      ASSERT_TRUE(session.set_current(c));
      ASSERT_TRUE(session.take(c % 2 + 1).ok());
    }
    RowsView view(&session);
    const std::string start = view.text();
    std::mt19937 random(seed);
    const std::string alphabet = "ab\n";
    for (int edit = 0; edit < 60; ++edit) {
      const std::string now = view.text();
      const std::size_t at = random() % (now.size() + 1);
      const std::size_t removed = std::min<std::size_t>(now.size() - at, random() % 5);
      std::string inserted;
      for (unsigned n = random() % 4; n > 0; --n) inserted += alphabet[random() % 3];
      view.edit(at, removed, inserted);
      if (HasFatalFailure()) return;
      const std::string edited = view.text();
      session.undo();
      session.redo();
      view.rebuild();
      ASSERT_EQ(view.text(), edited) << "seed " << seed << " edit " << edit;
    }
    while (session.can_undo()) session.undo();
    for (std::size_t c = 0; c < session.conflict_count(); ++c) {
      ASSERT_TRUE(session.set_current(c));
      ASSERT_TRUE(session.take(c % 2 + 1).ok());
    }
    view.rebuild();
    EXPECT_EQ(view.text(), start) << "seed " << seed;
  }
}

// ---------------------------------------------------------------------------
// Notifications.

TEST(MergeSession, TellsItsViewWhatChanged) {
  MergeSession session(two_conflicts_and_a_clean_change(), {});
  Recorder heard;
  session.set_observer(&heard);
  const std::string first = std::to_string(session.region_of_conflict(0));
  const std::string second = std::to_string(session.region_of_conflict(1));
  ASSERT_TRUE(session.take(1).ok());
  EXPECT_EQ(heard.events, (std::vector<std::string>{"regions " + first, "history"}));
  heard.events.clear();
  session.set_current(1);
  session.set_current(1);  // no change, no word
  EXPECT_EQ(heard.events, (std::vector<std::string>{"current 1"}));
  heard.events.clear();
  session.undo();
  EXPECT_EQ(heard.events, (std::vector<std::string>{"regions " + first, "current 0", "history"}));
  heard.events.clear();
  // Rows typed in the view are shown there already: only the history.
  session.type_rows(session.region_of_conflict(1), session.region_of_conflict(1), {"typed"});
  EXPECT_EQ(heard.events, (std::vector<std::string>{"history", "current 1"}));
  heard.events.clear();
  ASSERT_TRUE(session.take_remaining(2).ok());
  EXPECT_EQ(heard.events, (std::vector<std::string>{"regions " + first, "history"}));
  session.set_observer(nullptr);
  session.undo();
  EXPECT_EQ(heard.events.size(), 2U);
}

TEST(MergeSession, ReplanDropsTheChoices) {
  MergeSession session(texts("a\nb \nc\n", "a\nb\nc\n", "a\nb  \nC\n"), {});
  const std::size_t conflicts = session.conflict_count();
  if (conflicts > 0) {
    ASSERT_TRUE(session.take(1).ok());
  }
  session.replan(IgnoreOptions{true, false});
  EXPECT_EQ(session.ignoring(), (IgnoreOptions{true, false}));
  EXPECT_FALSE(session.can_undo());
  EXPECT_FALSE(session.changed_since_save());
  EXPECT_EQ(session.conflict_count(), 0U);
  EXPECT_EQ(text_of(session), "a\nb\nC\n");
}

}  // namespace
}  // namespace marlow

// The comparison session that the compare windows are views of: its rows,
// changed characters, line ends shown, facts about the texts, the
// differences and the current one, and what it tells its observers.
#include "engine/compare_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace marlow {
namespace {

TextDocument doc(const std::string& text, Encoding encoding = Encoding::utf8, bool bom = false) {
  TextDocument d;
  d.encoding = encoding;
  d.bom = bom;
  d.lines = split_lines(text);
  return d;
}

std::unique_ptr<CompareSession> open(std::vector<TextDocument> texts,
                                     const IgnoreOptions& options = {}) {
  support::Result<std::unique_ptr<CompareSession>> session =
      CompareSession::open(std::move(texts), options);
  EXPECT_TRUE(session.ok()) << session.status().text();
  return std::move(session).value();
}

// The changed bytes of a cell as the substrings they mark.
std::vector<std::string> changed_text(const CompareSession& session, std::size_t text,
                                      std::size_t row) {
  const Cell cell = session.cell(text, row);
  std::vector<std::string> out;
  for (const RowChars& c : cell.changed) {
    out.emplace_back(
        session.text(text).lines[cell.line].text.substr(c.range.start, c.range.length));
  }
  return out;
}

// Records what an observer is told, and the current difference then.
struct Recorder : CompareObserver {
  std::vector<std::string> told;
  void rows_changed(const CompareSession& s) override {
    told.push_back("rows " + std::to_string(s.differences().size()));
  }
  void current_changed(const CompareSession& s) override {
    told.push_back(s.current() ? "current " + std::to_string(*s.current()) : "current none");
  }
};

TEST(CompareSession, NoTextIsAnErrorNotASession) {
  const support::Result<std::unique_ptr<CompareSession>> none = CompareSession::open({}, {});
  EXPECT_FALSE(none.ok());
  EXPECT_EQ(none.value(), nullptr);
}

TEST(CompareSession, CellsGiveLinesKindsAndTheChangedBytesOfEachSide) {
  const auto s = open({doc("same\nold word here\ngone\nend\n"), doc("same\nnew word here\nend\n")});
  ASSERT_EQ(s->row_count(), 4u);
  EXPECT_EQ(s->cell(0, 0).kind, CellKind::same);
  EXPECT_EQ(s->cell(1, 1).kind, CellKind::changed);
  EXPECT_EQ(s->cell(0, 2).kind, CellKind::removed);
  EXPECT_EQ(s->cell(1, 2).kind, CellKind::filler);
  EXPECT_EQ(s->cell(1, 2).line, kNoLine);
  EXPECT_EQ(s->cell(1, 3).line, 2u);
  EXPECT_EQ(changed_text(*s, 0, 1), std::vector<std::string>{"old"});
  EXPECT_EQ(changed_text(*s, 1, 1), std::vector<std::string>{"new"});
  EXPECT_TRUE(s->cell(0, 0).changed.empty());
  EXPECT_TRUE(s->cell(1, 0).changed.empty());
  ASSERT_EQ(s->differences().size(), 1u);
  EXPECT_EQ(s->differences()[0], (Difference{1, 3}));
  // Out of range: an empty filler, never a crash.
  EXPECT_EQ(s->cell(2, 0).kind, CellKind::filler);
  EXPECT_EQ(s->cell(0, 99).line, kNoLine);
}

TEST(CompareSession, TextZeroShowsWhatAnyOtherTextChangedOnce) {
  const auto s =
      open({doc("alpha beta gamma\n"), doc("ALPHA beta gamma\n"), doc("alpha beta GAMMA\n")});
  EXPECT_EQ(changed_text(*s, 0, 0), (std::vector<std::string>{"alpha", "gamma"}));
  EXPECT_EQ(changed_text(*s, 1, 0), std::vector<std::string>{"ALPHA"});
  EXPECT_EQ(changed_text(*s, 2, 0), std::vector<std::string>{"GAMMA"});
  // Both others change the same word: one range in text 0, not two.
  const auto same = open({doc("x = 1\n"), doc("x = 2\n"), doc("x = 3\n")});
  EXPECT_EQ(same->cell(0, 0).changed.size(), 1u);
}

TEST(CompareSession, LineEndsAreShownOnlyWhereTheyDifferAndCanBeIgnored) {
  const auto s = open({doc("a\r\nb\nc"), doc("a\nb\nc\n")});
  EXPECT_EQ(s->line_end_rows(0), (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(s->line_end_rows(1), (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(s->cell(0, 0).line_end, LineEnd("\r\n"));
  EXPECT_EQ(s->cell(1, 0).line_end, LineEnd("\n"));
  EXPECT_EQ(s->cell(0, 2).line_end, LineEnd(""));
  EXPECT_FALSE(s->cell(0, 1).line_end.has_value());
  EXPECT_EQ(s->differences().size(), 2u);
  ASSERT_TRUE(s->set_options({.ignore_line_ends = true}).ok());
  EXPECT_TRUE(s->differences().empty());
  EXPECT_FALSE(s->texts_identical());
  // Still shown: the rows look the same but are not.
  EXPECT_EQ(s->line_end_rows(0).size(), 2u);
}

TEST(CompareSession, IgnoringWhitespaceDropsBlankOnlyChangedCharacters) {
  const auto s = open({doc("if (a) {\n  call(x);\n"), doc("if (a)  {\n  call(y);\n")});
  EXPECT_EQ(s->differences().size(), 1u);
  EXPECT_FALSE(s->cell(1, 0).changed.empty());
  ASSERT_TRUE(s->set_options({.ignore_whitespace = true}).ok());
  ASSERT_EQ(s->differences().size(), 1u);
  EXPECT_EQ(s->differences()[0], (Difference{1, 2}));
  // Row 0 now counts as same; in row 1 only the letter changed.
  EXPECT_TRUE(s->cell(1, 0).changed.empty());
  EXPECT_EQ(changed_text(*s, 0, 1), std::vector<std::string>{"x"});
}

TEST(CompareSession, FactsTellEncodingMarkAndLineEnds) {
  const auto s = open({doc("a\r\nb\nc\rd", Encoding::utf16le, true), doc("x\n")});
  const TextFacts& f = s->facts(0);
  EXPECT_EQ(f.encoding, encoding_name(Encoding::utf16le));
  EXPECT_TRUE(f.bom);
  EXPECT_EQ(f.crlf, 1u);
  EXPECT_EQ(f.lf, 1u);
  EXPECT_EQ(f.cr, 0u);  // a return before other line ends is inside the line
  EXPECT_TRUE(f.returns_inside_lines);
  EXPECT_TRUE(f.no_end_at_end);
  EXPECT_EQ(f.lines, 3u);
  EXPECT_FALSE(s->facts(1).no_end_at_end);
  EXPECT_FALSE(s->facts(1).bom);
  EXPECT_EQ(text_facts(doc("p\rq\r")).cr, 2u);
}

TEST(CompareSession, LongLinesAreMarkedCoarselyUntilAsked) {
  const std::string tail(kCharDiffLimit, 'z');
  const auto s = open({doc("a b c " + tail + "\n"), doc("a B c " + tail + "!\n")});
  EXPECT_EQ(s->coarse_rows(), 1u);
  // One stretch from the first to the last change.
  EXPECT_EQ(s->cell(1, 0).changed.size(), 1u);
  Recorder recorder;
  s->add_observer(&recorder);
  s->set_mark_long_lines(true);
  EXPECT_EQ(s->coarse_rows(), 0u);
  EXPECT_EQ(s->cell(1, 0).changed.size(), 2u);
  EXPECT_EQ(recorder.told, (std::vector<std::string>{"rows 1", "current 0"}));
}

TEST(CompareSession, NextAndPreviousFromARowAndTheDifferenceHoldingIt) {
  // Differences at rows [1,2), [3,5) and [7,8).
  const auto s = open({doc("a\nb\nc\nd\ne\nf\ng\nh\n"), doc("a\nB\nc\nD\nE\nf\ng\nH\n")});
  ASSERT_EQ(s->differences(), (std::vector<Difference>{{1, 2}, {3, 5}, {7, 8}}));
  EXPECT_EQ(s->next_difference(0), 0u);
  EXPECT_EQ(s->next_difference(1), 1u);
  EXPECT_EQ(s->next_difference(3), 2u);
  EXPECT_EQ(s->next_difference(7), std::nullopt);
  EXPECT_EQ(s->previous_difference(0), std::nullopt);
  EXPECT_EQ(s->previous_difference(1), std::nullopt);
  EXPECT_EQ(s->previous_difference(4), 1u);
  EXPECT_EQ(s->previous_difference(7), 1u);
  EXPECT_EQ(s->previous_difference(100), 2u);
  EXPECT_EQ(s->difference_at(4), 1u);
  EXPECT_EQ(s->difference_at(5), std::nullopt);
  EXPECT_EQ(s->difference_at(0), std::nullopt);
  EXPECT_EQ(s->row_of_line(1, 4), 4u);
  EXPECT_EQ(s->row_of_line(1, 8), std::nullopt);
}

TEST(CompareSession, RowOfLineFindsLinesAcrossFillers) {
  const auto s = open({doc("a\nx\ny\nz\nb\n"), doc("a\nb\nc\nd\ne\nf\n")});
  for (std::size_t t = 0; t < 2; ++t) {
    for (std::size_t line = 0; line < s->text(t).lines.size(); ++line) {
      const std::optional<std::size_t> row = s->row_of_line(t, line);
      ASSERT_TRUE(row.has_value()) << t << ":" << line;
      EXPECT_EQ(s->cell(t, *row).line, line);
    }
  }
}

TEST(CompareSession, TheCurrentDifferenceMovesWithinRangeAndTellsObservers) {
  const auto s = open({doc("a\nb\nc\nd\n"), doc("A\nb\nC\nd\n")});
  Recorder recorder;
  s->add_observer(&recorder);
  EXPECT_EQ(s->current(), std::nullopt);
  // Without a current one: the last going back, the first going on.
  EXPECT_TRUE(s->go_previous().ok());
  EXPECT_EQ(s->current(), 1u);
  EXPECT_EQ(s->go_previous().code(), 0);
  EXPECT_EQ(s->go_previous().code(), ERANGE);
  EXPECT_TRUE(s->go_next().ok());
  EXPECT_EQ(s->go_next().code(), ERANGE);
  EXPECT_EQ(s->go_to(2).code(), EINVAL);
  EXPECT_EQ(s->current(), 1u);
  EXPECT_TRUE(s->go_to(1).ok());  // already there: nothing to tell
  EXPECT_TRUE(s->go_previous().ok());
  EXPECT_EQ(recorder.told,
            (std::vector<std::string>{"current 1", "current 0", "current 1", "current 0"}));
  s->remove_observer(&recorder);
  EXPECT_TRUE(s->go_next().ok());
  EXPECT_EQ(recorder.told.size(), 4u);
  const auto fresh = open({doc("a\nb\n"), doc("A\nb\nc\n")});
  EXPECT_TRUE(fresh->go_next().ok());
  EXPECT_EQ(fresh->current(), 0u);
}

TEST(CompareSession, NewOptionsRealignAndKeepTheUserNearWhereTheyWere) {
  // Blank-only changes at rows 0 and 2, real ones at rows 1 and 3.
  const auto s = open({doc("a b\nx\nc d\ny\n"), doc("a  b\nX\nc  d\nY\n")});
  ASSERT_EQ(s->differences().size(), 1u);  // rows 0 to 4 all differ
  Recorder recorder;
  s->add_observer(&recorder);
  ASSERT_TRUE(s->set_options({.ignore_whitespace = true}).ok());
  ASSERT_EQ(s->differences(), (std::vector<Difference>{{1, 2}, {3, 4}}));
  // The old current one started at row 0 (none: the top row, 0): the first.
  EXPECT_EQ(s->current(), 0u);
  ASSERT_TRUE(s->go_to(1).ok());
  recorder.told.clear();
  ASSERT_TRUE(s->set_options({.ignore_whitespace = true, .ignore_line_ends = true}, 0).ok());
  // From the current one's start (row 3): the one ending below it.
  EXPECT_EQ(s->current(), 1u);
  EXPECT_EQ(recorder.told, (std::vector<std::string>{"rows 2", "current 1"}));
  // Same options: nothing laid out, nothing told.
  recorder.told.clear();
  ASSERT_TRUE(s->set_options({.ignore_whitespace = true, .ignore_line_ends = true}, 0).ok());
  EXPECT_TRUE(recorder.told.empty());
  // Without a current difference the top row in view decides.
  const auto t = open({doc("a b\nx\nc d\ny\n"), doc("a  b\nX\nc  d\nY\n")});
  ASSERT_TRUE(t->set_options({.ignore_whitespace = true}, 3).ok());
  EXPECT_EQ(t->current(), 1u);
  // Everything ignored away: none current, and the observers hear so.
  const auto u = open({doc("a b\n"), doc("a  b\n")});
  Recorder quiet;
  u->add_observer(&quiet);
  ASSERT_TRUE(u->go_next().ok());
  quiet.told.clear();
  ASSERT_TRUE(u->set_options({.ignore_whitespace = true}).ok());
  EXPECT_EQ(u->current(), std::nullopt);
  EXPECT_EQ(quiet.told, (std::vector<std::string>{"rows 0", "current none"}));
}

// --- What may be ignored beside blanks and line ends.

TEST(CompareSessionIgnoring, CaseFoldsLettersOfSeveralScriptsAndMarksOnlyRealChanges) {
  EXPECT_EQ(folded_case("Hello \xC3\x84rger \xD0\x9F\xD0\x81 \xCE\xA3 \xC3\x97"),
            "hello \xC3\xA4rger \xD0\xBF\xD1\x91 \xCF\x83 \xC3\x97");
  const auto s = open(
      {doc("Hello World\n\xC3\x84RGER\nFoo bar\n"), doc("hello world\n\xC3\xA4rger\nfoo baz\n")});
  EXPECT_EQ(s->differences().size(), 1u);
  ASSERT_TRUE(s->set_options({.ignore_case = true}).ok());
  ASSERT_EQ(s->differences(), (std::vector<Difference>{{2, 3}}));
  // Only what differs in more than case is marked.
  EXPECT_EQ(changed_text(*s, 0, 2), std::vector<std::string>{"r"});
  EXPECT_EQ(changed_text(*s, 1, 2), std::vector<std::string>{"z"});
}

TEST(CompareSessionIgnoring, TheAmountOfWhitespaceIsNotWhetherThereIsAny) {
  const std::vector<TextDocument> texts{doc("a b\nx\ty\nab\nend\n"),
                                        doc("a   b  \nx y\na b\nend\n")};
  const auto amount = open(texts, {.ignore_whitespace_amount = true});
  // "ab" against "a b" still differs; the other two do not.
  EXPECT_EQ(amount->differences(), (std::vector<Difference>{{2, 3}}));
  const auto all = open(texts, {.ignore_whitespace = true});
  EXPECT_TRUE(all->differences().empty());
  // Blanks added at the end of a line alone are no difference.
  EXPECT_TRUE(
      open({doc("v\n"), doc("v \t\n")}, {.ignore_whitespace_amount = true})->differences().empty());
}

TEST(CompareSessionIgnoring, BlankLinesTakeRowsOfTheirOwnAndAreNoDifference) {
  const auto s = open({doc("a\n\nb\nc\n"), doc("a\nb\n  \n\nc\n"), doc("a\nb\nc\n\n")},
                      {.ignore_blank_lines = true});
  EXPECT_TRUE(s->differences().empty());
  // Every line of every text is in some row, in order, once.
  for (std::size_t t = 0; t < s->text_count(); ++t) {
    std::size_t expect = 0;
    for (std::size_t row = 0; row < s->row_count(); ++row) {
      if (s->cell(t, row).line == kNoLine) continue;
      EXPECT_EQ(s->cell(t, row).line, expect++) << t << " row " << row;
    }
    EXPECT_EQ(expect, s->text(t).lines.size()) << t;
  }
  // The compared lines stay side by side.
  const std::optional<std::size_t> c = s->row_of_line(0, 3);
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(s->cell(1, *c).line, 4u);
  EXPECT_EQ(s->cell(2, *c).line, 2u);
  // A real change around a left-out line stays one difference.
  const auto d = open({doc("a\nx\n\ny\nb\n"), doc("a\nX\nY\nb\n")}, {.ignore_blank_lines = true});
  ASSERT_EQ(d->differences().size(), 1u);
  EXPECT_EQ(d->cell(0, d->differences()[0].first).line, 1u);
  EXPECT_EQ(d->cell(0, d->differences()[0].end - 1).line, 3u);
}

TEST(CompareSessionIgnoring, FilteredLinesAreNoDifferenceAndABadFilterChangesNothing) {
  const auto s =
      open({doc("int a;\n// old note\nint b;\n"), doc("int a;\n// new note\n// more\nint c;\n")});
  ASSERT_EQ(s->differences().size(), 1u);
  ASSERT_TRUE(s->set_options({.line_filter = "^\\s*//"}).ok());
  // Only "int b;" against "int c;" is left.
  ASSERT_EQ(s->differences().size(), 1u);
  const Difference d = s->differences()[0];
  EXPECT_EQ(d.end - d.first, 1u);
  EXPECT_EQ(s->cell(0, d.first).line, 2u);
  EXPECT_EQ(s->cell(1, d.first).line, 3u);
  Recorder recorder;
  s->add_observer(&recorder);
  const support::Status bad = s->set_options({.line_filter = "(unclosed"});
  EXPECT_EQ(bad.code(), EINVAL);
  EXPECT_EQ(s->options().line_filter, "^\\s*//");
  EXPECT_TRUE(recorder.told.empty());
  EXPECT_FALSE(valid_line_filter("[z-a]"));
  EXPECT_TRUE(valid_line_filter(""));
}

// --- Editing: copying differences, typing, undo, reloading.

std::string text_of(const CompareSession& s, std::size_t text) {
  return join_lines(s.text(text).lines);
}

TEST(CompareSessionEditing, CopyingADifferenceEitherWayMakesTheTextsEqualThere) {
  const auto s = open({doc("a\nold\nb\nonly left\nc\n"), doc("a\nnew\nmore\nb\nc\n")});
  ASSERT_EQ(s->differences().size(), 2u);
  // Read-only until the front end says the file can be written.
  EXPECT_EQ(s->copy_difference(0, 1, 0).code(), EROFS);
  s->set_writable(0, true);
  EXPECT_EQ(s->copy_difference(0, 0, 0).code(), EINVAL);
  EXPECT_EQ(s->copy_difference(2, 1, 0).code(), EINVAL);
  ASSERT_TRUE(s->copy_difference(0, 1, 0).ok());
  EXPECT_EQ(text_of(*s, 0), "a\nnew\nmore\nb\nonly left\nc\n");
  ASSERT_EQ(s->differences().size(), 1u);
  EXPECT_EQ(s->current(), 0u);
  EXPECT_TRUE(s->modified(0));
  EXPECT_FALSE(s->modified(1));
  // A difference where the other text has no lines: they are taken out.
  ASSERT_TRUE(s->copy_difference(0, 1, 0).ok());
  EXPECT_EQ(text_of(*s, 0), text_of(*s, 1));
  EXPECT_TRUE(s->differences().empty());
  EXPECT_EQ(s->current(), std::nullopt);
  // And back into the left, into a place where it has no lines.
  s->set_writable(1, true);
  const auto t = open({doc("a\nb\n"), doc("a\nnew\nb\n")});
  t->set_writable(0, true);
  ASSERT_TRUE(t->copy_difference(0, 1, 0).ok());
  EXPECT_EQ(text_of(*t, 0), "a\nnew\nb\n");
}

TEST(CompareSessionEditing, CopiedLinesTakeTheLineEndsOfTheTextTheyGoInto) {
  const auto s = open({doc("a\r\nb\r\nc\r\n"), doc("a\nB\nc\n"), doc("a\nb\nc")});
  s->set_writable(0, true);
  s->set_writable(2, true);
  ASSERT_TRUE(s->copy_difference(0, 1, 0).ok());
  EXPECT_EQ(text_of(*s, 0), "a\r\nB\r\nc\r\n");
  // A text whose last line has no line end keeps it so; a copied last line
  // put before other lines gets one.
  const auto t = open({doc("x\ny"), doc("x\nz\ny")});
  t->set_writable(0, true);
  t->set_writable(1, true);
  ASSERT_TRUE(t->copy_difference(0, 1, 0).ok());
  EXPECT_EQ(text_of(*t, 0), "x\nz\ny");
  const auto u = open({doc("p\nq"), doc("p\nq\nr")});
  u->set_writable(0, true);
  ASSERT_TRUE(u->replace_lines(0, 2, 0, {Line{"r", ""}}).ok());
  EXPECT_EQ(text_of(*u, 0), "p\nq\nr");
}

TEST(CompareSessionEditing, EditsUndoAndRedoAndModifiedFollowsTheSavedText) {
  const auto s = open({doc("one\ntwo\nthree\n"), doc("one\n2\nthree\n")});
  s->set_writable(1, true);
  EXPECT_EQ(s->replace_lines(1, 2, 5, {}).code(), EINVAL);
  EXPECT_EQ(s->replace_lines(0, 0, 1, {}).code(), EROFS);
  ASSERT_TRUE(s->replace_lines(1, 1, 1, {Line{"two", "\n"}}).ok());
  EXPECT_TRUE(s->differences().empty());
  EXPECT_TRUE(s->modified(1));
  s->mark_saved(1);
  EXPECT_FALSE(s->modified(1));
  ASSERT_TRUE(s->replace_lines(1, 3, 0, {Line{"four", "\n"}}).ok());
  EXPECT_EQ(text_of(*s, 1), "one\ntwo\nthree\nfour\n");
  Recorder recorder;
  s->add_observer(&recorder);
  ASSERT_TRUE(s->undo().ok());
  EXPECT_FALSE(s->modified(1));  // back to what was saved
  ASSERT_TRUE(s->undo().ok());
  EXPECT_EQ(text_of(*s, 1), "one\n2\nthree\n");
  EXPECT_EQ(s->undo().code(), ERANGE);
  EXPECT_EQ(s->undo().text(), "there is nothing to undo");  // said, not a system call's text
  ASSERT_TRUE(s->redo().ok());
  EXPECT_EQ(text_of(*s, 1), "one\ntwo\nthree\n");
  EXPECT_EQ(recorder.told.front(), "rows 0");  // after the first undo
  // A new edit ends what could be redone.
  ASSERT_TRUE(s->replace_lines(1, 0, 1, {Line{"ONE", "\n"}}).ok());
  EXPECT_FALSE(s->can_redo());
  EXPECT_EQ(s->redo().code(), ERANGE);
}

TEST(CompareSessionEditing, ReloadReplacesATextKeepsOptionsAndDropsItsEdits) {
  const auto s = open({doc("a\nb\nc\n"), doc("a\nB\nc\n")}, {.ignore_case = true});
  s->set_writable(0, true);
  ASSERT_TRUE(s->replace_lines(0, 0, 1, {Line{"x", "\n"}}).ok());
  ASSERT_TRUE(s->reload(0, doc("a\nb\nc\nd\n")).ok());
  EXPECT_FALSE(s->modified(0));
  EXPECT_FALSE(s->can_undo());
  EXPECT_TRUE(s->options().ignore_case);
  ASSERT_EQ(s->differences().size(), 1u);  // "d" only: case is still ignored
  EXPECT_EQ(s->facts(0).lines, 4u);
  EXPECT_EQ(s->reload(2, doc("")).code(), EINVAL);
}

TEST(CompareSessionEditing, TypedRowsBecomeLinesAndFillersLeftEmptyStayFillers) {
  const auto s = open({doc("a\nb\nc\nd"), doc("a\nc\nd")});
  s->set_writable(1, true);
  // Right pane rows: "a", filler, "c", "d".
  ASSERT_EQ(s->row_count(), 4u);
  const auto rows_of = [&s](std::size_t text) {
    std::vector<std::string> rows;
    for (std::size_t row = 0; row < s->row_count(); ++row) {
      const Cell cell = s->cell(text, row);
      rows.push_back(cell.line == kNoLine ? "" : s->text(text).lines[cell.line].text.str());
    }
    return rows;
  };
  EXPECT_EQ(s->replace_rows(0, rows_of(0)).code(), EROFS);
  // Nothing typed: nothing changes.
  ASSERT_TRUE(s->replace_rows(1, rows_of(1)).ok());
  EXPECT_FALSE(s->can_undo());
  // Typing into the filler makes it a line.
  std::vector<std::string> rows = rows_of(1);
  rows[1] = "b";
  ASSERT_TRUE(s->replace_rows(1, rows).ok());
  EXPECT_EQ(text_of(*s, 1), "a\nb\nc\nd");
  EXPECT_TRUE(s->differences().empty());
  // Changing the last line keeps it without a line end; a new row after it
  // gives it one.
  rows = rows_of(1);
  rows[3] = "D";
  ASSERT_TRUE(s->replace_rows(1, rows).ok());
  EXPECT_EQ(text_of(*s, 1), "a\nb\nc\nD");
  rows = rows_of(1);
  rows.push_back("e");
  ASSERT_TRUE(s->replace_rows(1, rows).ok());
  EXPECT_EQ(text_of(*s, 1), "a\nb\nc\nD\ne");
  // Joining two rows (a removed row) removes a line.
  rows = rows_of(1);
  rows.erase(rows.begin() + 1);
  rows[0] = "ab";
  ASSERT_TRUE(s->replace_rows(1, rows).ok());
  EXPECT_EQ(text_of(*s, 1), "ab\nc\nD\ne");
  // An edit that leaves a filler empty beside a typed row keeps the filler.
  const auto t = open({doc("x\ny\nz\n"), doc("x\nz\n")});
  t->set_writable(1, true);
  ASSERT_TRUE(t->replace_rows(1, {"X", "", "z"}).ok());
  EXPECT_EQ(text_of(*t, 1), "X\nz\n");
}

TEST(CompareSessionEditing, TwoPanesTypedInAtOnceKeepBothEdits) {
  // Rows: "a"/"a", "b"/filler, "c"/"c". The left pane gets a new line
  // before "c", which moves the rows; the right pane's typing was against
  // the rows as they were and must land on its own lines all the same.
  const auto s = open({doc("a\nb\nc\n"), doc("a\nc\n")});
  s->set_writable(0, true);
  s->set_writable(1, true);
  ASSERT_EQ(s->row_count(), 3u);
  ASSERT_TRUE(s->replace_typed_rows({{0, {"a", "b", "new", "c"}}, {1, {"a", "", "C"}}}).ok());
  EXPECT_EQ(text_of(*s, 0), "a\nb\nnew\nc\n");
  EXPECT_EQ(text_of(*s, 1), "a\nC\n");
  // One undo step a text.
  ASSERT_TRUE(s->undo().ok());
  ASSERT_TRUE(s->undo().ok());
  EXPECT_EQ(text_of(*s, 0), "a\nb\nc\n");
  EXPECT_EQ(text_of(*s, 1), "a\nc\n");
  // A refused text among them changes nothing.
  s->set_writable(1, false);
  EXPECT_EQ(s->replace_typed_rows({{0, {"A", "b", "c"}}, {1, {"A", "", "c"}}}).code(), EROFS);
  EXPECT_EQ(text_of(*s, 0), "a\nb\nc\n");
}

}  // namespace
}  // namespace marlow

// Side-by-side rows for several texts and the changed characters of a line.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "engine/diff.h"
#include "engine/inline_diff.h"

namespace marlow {
namespace {

std::vector<Line> L(const std::string& text) { return split_lines(text); }

using R = TextRange;

}  // namespace

void PrintTo(const InlineDiff& d, std::ostream* os) {
  const auto list = [&](const std::vector<TextRange>& ranges) {
    *os << "[";
    for (const TextRange& r : ranges) *os << " " << r.start << "+" << r.length;
    *os << " ]";
  };
  list(d.base);
  list(d.other);
}

namespace {

constexpr std::size_t X = kNoLine;

// A text that holds line feeds (several lines at once) still gets ranges
// inside it: a line feed must not shift the pieces the ranges come from.
TEST(GuiInlineDiff, LineFeedsInsideTheTextKeepRangesInBounds) {
  EXPECT_EQ(diff_chars("ab\ncd x", "ab\ncd y"), (InlineDiff{{R{6, 1}}, {R{6, 1}}}));
  EXPECT_EQ(diff_chars("a\n\nb", "a\nb"), (InlineDiff{{R{2, 1}}, {}}));
  EXPECT_EQ(diff_chars("\n", "x"), (InlineDiff{{R{0, 1}}, {R{0, 1}}}));
}

TEST(GuiInlineDiff, ChangedWordsAndCharacters) {
  // Identical and empty texts: nothing to mark.
  EXPECT_EQ(diff_chars("same text", "same text"), InlineDiff{});
  EXPECT_EQ(diff_chars("", ""), InlineDiff{});
  // Against an empty line, the whole other line.
  EXPECT_EQ(diff_chars("", "abc def"), (InlineDiff{{}, {R{0, 7}}}));
  EXPECT_EQ(diff_chars("abc", ""), (InlineDiff{{R{0, 3}}, {}}));
  // A wholly different line is one range on each side, not scattered letters.
  EXPECT_EQ(diff_chars("foo(bar)", "xyz[qux]"), (InlineDiff{{R{0, 8}}, {R{0, 8}}}));
  // One changed word among equal ones; within it, only the changed letter.
  EXPECT_EQ(diff_chars("int colour = 1;", "int color = 1;"), (InlineDiff{{R{8, 1}}, {}}));
  EXPECT_EQ(diff_chars("x = alpha + 1", "x = beta + 1"), (InlineDiff{{R{4, 5}}, {R{4, 4}}}));
  // A word inserted with its blank.
  EXPECT_EQ(diff_chars("a c", "a b c"), (InlineDiff{{}, {R{2, 2}}}));
}

TEST(GuiInlineDiff, MultiByteCharactersAreNeverSplit) {
  // "ä" and "ö" are two bytes each, "€" three, "😀" four.
  EXPECT_EQ(diff_chars("Gr\xC3\xA4\xC3\x9F"
                       "e",
                       "Gr\xC3\xB6\xC3\x9F"
                       "e"),
            (InlineDiff{{R{2, 2}}, {R{2, 2}}}));
  EXPECT_EQ(diff_chars("a na\xC3\xAFve b", "a naive b"), (InlineDiff{{R{4, 2}}, {R{4, 1}}}));
  EXPECT_EQ(diff_chars("price 1000\xE2\x82\xAC", "price 1000$"),
            (InlineDiff{{R{10, 3}}, {R{10, 1}}}));
  EXPECT_EQ(diff_chars("ok \xF0\x9F\x98\x80!", "ok !"), (InlineDiff{{R{3, 4}}, {}}));
  // Two similar characters sharing a lead byte are still different characters.
  EXPECT_EQ(diff_chars("\xC3\xA4", "\xC3\xB6"), (InlineDiff{{R{0, 2}}, {R{0, 2}}}));
  EXPECT_EQ(code_point_lengths("a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\xFF"),
            (std::vector<std::size_t>{1, 2, 3, 4, 1}));
  EXPECT_EQ(code_point_lengths("\xE2\x82"), (std::vector<std::size_t>{1, 1}));
}

TEST(GuiInlineDiff, LongLinesGetTheStretchWhereTheyChange) {
  // From the first to the last differing byte, on both sides.
  EXPECT_EQ(diff_span("abcXYZdef", "abcQdef"), (InlineDiff{{R{3, 3}}, {R{3, 1}}}));
  EXPECT_EQ(diff_span("same", "same"), InlineDiff{});
  // An insertion: nothing on the side without it.
  EXPECT_EQ(diff_span("abdef", "abcdef"), (InlineDiff{{}, {R{2, 1}}}));
  // The common start and end never take part of a character: "é" (C3 A9)
  // against "è" (C3 A8) share a first byte, "aé" against "bé" a last one.
  EXPECT_EQ(diff_span("x\xC3\xA9y", "x\xC3\xA8y"), (InlineDiff{{R{1, 2}}, {R{1, 2}}}));
  EXPECT_EQ(diff_span("\xE2\x82\xAC", "\xE2\x84\xAC"), (InlineDiff{{R{0, 3}}, {R{0, 3}}}));
  // A change that overlaps what both start and end with.
  EXPECT_EQ(diff_span("aa", "aaa"), (InlineDiff{{}, {R{2, 1}}}));

  // Past the limit only the stretch, and the caller is told; within it, or
  // when asked, the words and characters.
  const std::string base = std::string(kCharDiffLimit, 'a') + " one two three";
  const std::string other = std::string(kCharDiffLimit, 'a') + " one TWO three";
  bool coarse = false;
  const InlineDiff fast = diff_chars_within_limit(base, other, false, &coarse);
  EXPECT_TRUE(coarse);
  EXPECT_EQ(fast.other, (std::vector<R>{R{kCharDiffLimit + 5, 3}}));
  coarse = false;
  const InlineDiff full = diff_chars_within_limit(base, other, true, &coarse);
  EXPECT_FALSE(coarse);
  EXPECT_EQ(full, diff_chars(base, other));
  EXPECT_FALSE(diff_chars_within_limit("a b", "a c", false, &coarse).other.empty());
  EXPECT_FALSE(coarse);
}

TEST(GuiAlignRows, TwoTextsLikeTheBlocks) {
  const RowAlignment a = align_rows({L("a\nb\nc\nd\n"), L("a\nB\nc\nd\ne\nf\n")});
  ASSERT_EQ(a.rows, 6u);
  EXPECT_EQ(a.line[0], (std::vector<std::size_t>{0, 1, 2, 3, X, X}));
  EXPECT_EQ(a.line[1], (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(a.kind[0][1], CellKind::changed);
  EXPECT_EQ(a.kind[1][1], CellKind::changed);
  EXPECT_EQ(a.kind[0][4], CellKind::filler);
  EXPECT_EQ(a.kind[1][4], CellKind::added);
  using D = std::pair<std::size_t, std::size_t>;
  EXPECT_EQ(a.differences, (std::vector<D>{{1, 2}, {4, 6}}));

  // Equal texts: rows, no differences; empty texts: nothing.
  EXPECT_TRUE(align_rows({L("x\ny\n"), L("x\ny\n")}).differences.empty());
  EXPECT_EQ(align_rows({L(""), L("")}).rows, 0u);
  // Deleted lines are `removed` on text 0 and fillers on the other.
  const RowAlignment d = align_rows({L("a\nb\nc\n"), L("a\n")});
  EXPECT_EQ(d.kind[0],
            (std::vector<CellKind>{CellKind::same, CellKind::removed, CellKind::removed}));
  EXPECT_EQ(d.line[1], (std::vector<std::size_t>{0, X, X}));
}

TEST(GuiAlignRows, ThreeTextsAlignAgainstTheFirst) {
  // Text 1 changes b and inserts x before d; text 2 replaces d by y and z:
  // x gets a row before d, y stands against d, z gets a row after it.
  const RowAlignment a =
      align_rows({L("a\nb\nc\nd\ne\n"), L("a\nB\nc\nx\nd\ne\n"), L("a\nb\nc\ny\nz\ne\n")});
  ASSERT_EQ(a.rows, 7u);
  EXPECT_EQ(a.line[0], (std::vector<std::size_t>{0, 1, 2, X, 3, X, 4}));
  EXPECT_EQ(a.line[1], (std::vector<std::size_t>{0, 1, 2, 3, 4, X, 5}));
  EXPECT_EQ(a.line[2], (std::vector<std::size_t>{0, 1, 2, X, 3, 4, 5}));
  EXPECT_EQ(a.kind[1], (std::vector<CellKind>{CellKind::same, CellKind::changed, CellKind::same,
                                              CellKind::added, CellKind::same, CellKind::filler,
                                              CellKind::same}));
  EXPECT_EQ(a.kind[2],
            (std::vector<CellKind>{CellKind::same, CellKind::same, CellKind::same, CellKind::filler,
                                   CellKind::changed, CellKind::added, CellKind::same}));
  // Text 0's b and d are changed (by one text each); its gap rows are fillers.
  EXPECT_EQ(a.kind[0], (std::vector<CellKind>{CellKind::same, CellKind::changed, CellKind::same,
                                              CellKind::filler, CellKind::changed, CellKind::filler,
                                              CellKind::same}));
  // Insertions of two texts at the same place share rows.
  const RowAlignment b = align_rows({L("a\n"), L("a\np\n"), L("a\nq\nr\n")});
  EXPECT_EQ(b.line[1], (std::vector<std::size_t>{0, 1, X}));
  EXPECT_EQ(b.line[2], (std::vector<std::size_t>{0, 1, 2}));
  using D = std::pair<std::size_t, std::size_t>;
  EXPECT_EQ(a.differences, (std::vector<D>{{1, 2}, {3, 6}}));
}

TEST(GuiAlignRows, AnEditedLineStaysBesideItsOriginal) {
  // Two lines became one: the edited one stands against its original, the
  // deleted one against a filler, whichever comes first.
  const RowAlignment a = align_rows({L("a\nprintf(x);\nreturn 0;\nz\n"), L("a\nreturn 1;\nz\n")});
  EXPECT_EQ(a.line[1], (std::vector<std::size_t>{0, X, 1, 2}));
  EXPECT_EQ(a.kind[0][1], CellKind::removed);
  EXPECT_EQ(a.kind[0][2], CellKind::changed);
  // Lines with nothing in common still pair from the top.
  const RowAlignment b = align_rows({L("a\nfoo\nbar\n"), L("a\nxyz\n")});
  EXPECT_EQ(b.line[1], (std::vector<std::size_t>{0, 1, X}));
  // An inserted line before an edited one gets its own row.
  const RowAlignment c = align_rows({L("a\nint x = 1;\n"), L("a\n// new\nint x = 2;\n")});
  EXPECT_EQ(c.line[0], (std::vector<std::size_t>{0, X, 1}));
  EXPECT_EQ(c.line[1], (std::vector<std::size_t>{0, 1, 2}));
}

TEST(GuiAlignRows, LinesThatDifferInTheirEndsStillPairUp) {
  // Every line end differs, so the whole text is one change; the lines with
  // equal text still stand against each other, and the real edits (a
  // deleted line, an inserted one) get their own rows.
  const RowAlignment a = align_rows({L("a\nb\nc\nd\n"), L("a\r\nc\r\nx\r\nd\r\n")});
  ASSERT_EQ(a.rows, 5u);
  EXPECT_EQ(a.line[0], (std::vector<std::size_t>{0, 1, 2, X, 3}));
  EXPECT_EQ(a.line[1], (std::vector<std::size_t>{0, X, 1, 2, 3}));
  EXPECT_EQ(a.kind[1],
            (std::vector<CellKind>{CellKind::changed, CellKind::filler, CellKind::changed,
                                   CellKind::added, CellKind::changed}));
  EXPECT_EQ(a.kind[0][1], CellKind::removed);
  EXPECT_EQ(a.differences.size(), 1u);
}

}  // namespace
}  // namespace marlow

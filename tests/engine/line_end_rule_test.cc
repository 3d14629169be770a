// Where lines end: at LF and CRLF, or at CR in a text without LF; a lone
// CR elsewhere is a character of its line. The diff and the merge count
// lines by that one rule.
#include <gtest/gtest.h>

#include "engine/diff.h"
#include "engine/text_codec.h"

namespace marlow {
namespace {

std::vector<Line> L(const std::string& text) { return split_lines(text); }

TEST(GuiLineEndRule, CrEndsLinesOnlyInATextWithoutLineFeeds) {
  EXPECT_EQ(L("a\rb\r"), (std::vector<Line>{Line{"a", "\r"}, Line{"b", "\r"}}));
  EXPECT_EQ(L("a\rb"), (std::vector<Line>{Line{"a", "\r"}, Line{"b", ""}}));
  EXPECT_EQ(L("a\r\rb\r"), (std::vector<Line>{Line{"a", "\r"}, Line{"", "\r"}, Line{"b", "\r"}}));
  // With a line feed anywhere, a CR not before one is part of the text.
  EXPECT_EQ(L("a\rb\nc\n"), (std::vector<Line>{Line{"a\rb", "\n"}, Line{"c", "\n"}}));
  EXPECT_EQ(L("a\r\nb\rc"), (std::vector<Line>{Line{"a", "\r\n"}, Line{"b\rc", ""}}));
  // The bytes come back unchanged.
  for (const char* text : {"a\rb\r", "a\r\rb", "a\rb\nc\n", "\r", "x\r\r\r"}) {
    EXPECT_EQ(join_lines(L(text)), text);
    support::Result<TextDocument> decoded = decode_text(text, Encoding::automatic);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(encode_text(decoded.value()).value(), text);
  }
}

TEST(GuiLineEndRule, DiffsCountCrEndedLinesOneByOne) {
  EXPECT_EQ(diff_lines(L("a\rx\rz\r"), L("a\rY\rz\r")), (std::vector<Hunk>{Hunk{1, 1, 1, 1}}));
  EXPECT_TRUE(diff_lines(L("a\rx\r"), L("a\rx\r")).empty());
  // The same text with another line end is another line.
  EXPECT_EQ(diff_lines(L("a\rb\r"), L("a\nb\r\n")), (std::vector<Hunk>{Hunk{0, 2, 0, 2}}));
  EXPECT_EQ(diff_lines(L("a\rb\r"), L("a\rb")), (std::vector<Hunk>{Hunk{1, 1, 1, 1}}));
  // A CR inside a line is text: the rows below keep their numbers.
  const RowAlignment rows = align_rows({L("a\rb\nc\nd\n"), L("a\rb\nc\nD\n")});
  ASSERT_EQ(rows.rows, 3u);
  EXPECT_EQ(rows.differences, (std::vector<std::pair<std::size_t, std::size_t>>{{2, 3}}));
}

TEST(GuiLineEndRule, MergesOfCrEndedLinesKeepTheirLineEnds) {
  const MergePlan plan = plan_merge({L("a\rx\rz\r"), L("a\rX1\rz\r"), L("a\rx\rz\rw\r")});
  EXPECT_EQ(plan.conflicts, 0u);
  const std::optional<std::vector<Line>> merged = automatic_merge(plan);
  ASSERT_TRUE(merged.has_value());
  EXPECT_EQ(join_lines(*merged), "a\rX1\rz\rw\r");
  const MergePlan conflict = plan_merge({L("a\rx\rz\r"), L("a\rX1\rz\r"), L("a\rX2\rz\r")});
  EXPECT_EQ(conflict.conflicts, 1u);
  EXPECT_EQ(conflict.line_end, "\r");
}

}  // namespace
}  // namespace marlow

// The Windows client's own platform-free parts: the rows a comparison window
// paints, the text the panes draw, and the rich text of the merged result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32/compare_rows.h"
#include "win32/rtf.h"
#include "win32/wide.h"

namespace marlow::win32 {
namespace {

TextDocument doc(std::vector<Line> lines) {
  TextDocument d;
  d.lines = std::move(lines);
  return d;
}

TEST(Win32CompareRows, RowsKindsAndChangedBytesOfTwoAndThreeSides) {
  CompareRows two({doc({{"a", "\n"}, {"b x", "\n"}, {"c", "\n"}}),
                   doc({{"a", "\n"}, {"b y", "\n"}, {"c", "\n"}, {"d", "\n"}})},
                  {});
  ASSERT_EQ(two.rows(), 4u);
  EXPECT_EQ(two.kind(0, 1), CellKind::changed);
  EXPECT_EQ(two.kind(1, 3), CellKind::added);
  EXPECT_EQ(two.kind(0, 3), CellKind::filler);
  EXPECT_EQ(two.line(0, 3), kNoLine);
  EXPECT_EQ(two.text(0, 3), "");
  EXPECT_EQ(two.changed_bytes(0, 1), (std::vector<ByteRange>{{2, 1}}));
  EXPECT_EQ(two.changed_bytes(1, 1), (std::vector<ByteRange>{{2, 1}}));
  EXPECT_TRUE(two.changed_bytes(0, 0).empty());
  ASSERT_EQ(two.differences().size(), 2u);
  EXPECT_EQ(two.difference_at_or_after(0), 0u);
  EXPECT_EQ(two.difference_at_or_after(2), 1u);
  EXPECT_EQ(two.difference_at_or_after(4), 2u);

  // Side 0 marks what any other side changed in the row.
  CompareRows three({doc({{"abcd", "\n"}}), doc({{"Xbcd", "\n"}}), doc({{"abcY", "\n"}})}, {});
  EXPECT_EQ(three.changed_bytes(0, 0), (std::vector<ByteRange>{{0, 1}, {3, 1}}));
  EXPECT_EQ(three.changed_bytes(2, 0), (std::vector<ByteRange>{{3, 1}}));
}

TEST(Win32CompareRows, LineEndsAreNotedOnlyWhereTheyDifferAndCanBeIgnored) {
  const std::vector<TextDocument> docs = {doc({{"a", "\n"}, {"b", "\r\n"}, {"c", ""}}),
                                          doc({{"a", "\n"}, {"b", "\n"}, {"c", "\n"}})};
  CompareRows rows(docs, {});
  EXPECT_EQ(rows.line_end_note(0, 0), "");
  EXPECT_EQ(rows.line_end_note(0, 1), "CRLF");
  EXPECT_EQ(rows.line_end_note(1, 1), "LF");
  EXPECT_EQ(rows.line_end_note(0, 2), "no EOL");
  EXPECT_EQ(rows.differences().size(), 1u);
  rows.set_options({.ignore_line_ends = true});
  EXPECT_TRUE(rows.differences().empty());
  EXPECT_FALSE(rows.identical());

  CompareRows blanks({doc({{"a  b", "\n"}}), doc({{"a\tb", "\n"}})}, {.ignore_whitespace = true});
  EXPECT_TRUE(blanks.differences().empty());
}

TEST(Win32CompareRows, FileNotesAndSearch) {
  TextDocument d = doc({{"a", "\r\n"}, {"b", "\n"}, {"c", ""}});
  d.bom = true;
  EXPECT_EQ(
      file_note(text_facts(d), false),
      "UTF-8 \xC2\xB7 BOM \xC2\xB7 mixed line ends (1 LF, 1 CRLF) \xC2\xB7 no line end at the "
      "end \xC2\xB7 3 lines");
  EXPECT_EQ(file_note(text_facts(d), true), "absent: no such file on this side");
  EXPECT_EQ(find_ignoring_case("Hello World", "world"), 6u);
  EXPECT_EQ(find_ignoring_case("Hello World", "o", 5), 7u);
  EXPECT_EQ(find_ignoring_case("abc", "abcd"), std::string_view::npos);
  EXPECT_EQ(find_ignoring_case("abc", ""), std::string_view::npos);
}

TEST(Win32Text, WideAndNarrowRoundTripAndReplaceWhatIsNotUtf8) {
  const std::string text = "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a ü € 😀 z
  const std::wstring w = wide(text);
  EXPECT_EQ(w, std::wstring(L"a\u00FC\u20AC") + wchar_t(0xD83D) + wchar_t(0xDE00) + L"z");
  EXPECT_EQ(narrow(w), text);
  EXPECT_EQ(wide("a\xFF"
                 "b"),
            L"a\uFFFDb");
  EXPECT_EQ(wide("\xE2\x82"), L"\uFFFD\uFFFD");                         // cut short
  EXPECT_EQ(narrow(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");  // a lone surrogate
}

TEST(Win32Text, ShownRowExpandsTabsAndMapsBytesToWhatIsDrawn) {
  const ShownRow row = shown_row("a\tb\xC3\xBC\tc\r", 4);
  EXPECT_EQ(row.text, L"a   b\u00FC  c\u240D");
  // Byte -> position in the drawn text: the tab after "a" ends at column 4,
  // the two bytes of ü share one position.
  EXPECT_EQ(row.units, (std::vector<std::size_t>{0, 1, 4, 5, 5, 6, 8, 9, 10}));
  EXPECT_EQ(shown_row("", 8).units, (std::vector<std::size_t>{0}));
}

TEST(Win32Rtf, EscapesTextAndHighlightsRowsWithoutATrailingParagraph) {
  EXPECT_EQ(rtf_text("a{b}\\c\td"), "a\\{b\\}\\\\c\\tab d");
  EXPECT_EQ(rtf_text("\xC3\xBC\xE2\x82\xAC"), "\\u252?\\u8364?");
  EXPECT_EQ(rtf_text("\xF0\x9F\x98\x80"), "\\u-10179?\\u-8704?");  // a surrogate pair, signed
  EXPECT_EQ(rtf_text(std::string("a\x01", 2)), "a\\'01");
  const std::string doc =
      rtf_document({{"one", 0}, {"two", 2}}, {0xFFF0AA, 0xCDF5CD}, "Consolas", 20);
  EXPECT_NE(doc.find("{\\colortbl;\\red255\\green240\\blue170;\\red205\\green245\\blue205;}"),
            std::string::npos);
  EXPECT_NE(doc.find("one\\par\n{\\highlight2 two}}"), std::string::npos);
  EXPECT_EQ(doc.find("\\par", doc.find("two")), std::string::npos);
}

}  // namespace
}  // namespace marlow::win32

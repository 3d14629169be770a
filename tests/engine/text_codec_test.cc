#include "engine/text_codec.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marlow {
namespace {

using namespace std::string_literals;

// Decoding then encoding gives back the very same bytes.
void expect_round_trip(const std::string& bytes, Encoding encoding, Encoding expect_encoding,
                       bool expect_bom) {
  const support::Result<TextDocument> decoded = decode_text(bytes, encoding);
  ASSERT_TRUE(decoded.ok()) << decoded.status().text();
  EXPECT_EQ(decoded.value().encoding, expect_encoding);
  EXPECT_EQ(decoded.value().bom, expect_bom);
  const support::Result<std::string> encoded = encode_text(decoded.value());
  ASSERT_TRUE(encoded.ok()) << encoded.status().text();
  EXPECT_EQ(encoded.value(), bytes);
}

TEST(GuiTextCodec, TypeNamesSelectEncodings) {
  EXPECT_EQ(encoding_for_type("utf8_file_delta"), Encoding::utf8);
  EXPECT_EQ(encoding_for_type("utf16le_file_delta"), Encoding::utf16le);
  EXPECT_EQ(encoding_for_type("utf16be_file_delta"), Encoding::utf16be);
  EXPECT_EQ(encoding_for_type("utf32le_file_delta"), Encoding::utf32le);
  EXPECT_EQ(encoding_for_type("utf32be_file_delta"), Encoding::utf32be);
  EXPECT_EQ(encoding_for_type(""), Encoding::automatic);
  EXPECT_EQ(encoding_for_type("UTF8_file_delta"), Encoding::automatic);
}

TEST(GuiTextCodec, LinesKeepTheirOwnEnds) {
  const std::vector<Line> lines = split_lines("a\r\nb\nc\rd\r\n\ne");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], (Line{"a", "\r\n"}));
  EXPECT_EQ(lines[1], (Line{"b", "\n"}));
  EXPECT_EQ(lines[2], (Line{"c\rd", "\r\n"}));  // a lone CR is text
  EXPECT_EQ(lines[3], (Line{"", "\n"}));
  EXPECT_EQ(lines[4], (Line{"e", ""}));
  EXPECT_EQ(join_lines(lines), "a\r\nb\nc\rd\r\n\ne");
  EXPECT_TRUE(split_lines("").empty());
  EXPECT_EQ(split_lines("x\n").size(), 1u);
}

// Decoded lines view their file's bytes: the views must end where each
// line's text ends, at the buffer's end too, and skip a mark; a CRLF whose
// LF is the last byte, an empty file and a file of one line end are edges.
TEST(GuiTextCodec, DecodedLinesViewTheBytesUpToEveryEdge) {
  const struct {
    std::string bytes;
    std::vector<Line> lines;
  } cases[] = {
      {"", {}},
      {"\n", {Line{"", "\n"}}},
      {"\r\n", {Line{"", "\r\n"}}},
      {"\r", {Line{"", "\r"}}},
      {"a\rb", {Line{"a", "\r"}, Line{"b", ""}}},
      {"a\r\r", {Line{"a", "\r"}, Line{"", "\r"}}},
      {"ab", {Line{"ab", ""}}},
      {"a\r\nb\r", {Line{"a", "\r\n"}, Line{"b\r", ""}}},
      {"a\r\n\r\n", {Line{"a", "\r\n"}, Line{"", "\r\n"}}},
      {"\xEF\xBB\xBF", {}},
      {"\xEF\xBB\xBFx\r\ny", {Line{"x", "\r\n"}, Line{"y", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    support::Result<TextDocument> decoded = decode_text(c.bytes, Encoding::automatic);
    ASSERT_TRUE(decoded.ok()) << decoded.status().text();
    EXPECT_EQ(decoded.value().lines, c.lines);
    EXPECT_EQ(encode_text(decoded.value()).value(), c.bytes);
    // The views lie one after the other: a diff reads them in place.
    const std::optional<std::string_view> bytes =
        contiguous_bytes(decoded.value().lines, 0, decoded.value().lines.size());
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, join_lines(decoded.value().lines));
  }
}

// Lines outlive the document they came from, copies share the bytes, and a
// line assigned another text or line end leaves the others alone.
TEST(GuiTextCodec, LinesShareTheirBytesAndStayValid) {
  std::vector<Line> kept;
  {
    support::Result<TextDocument> decoded = decode_text("one\ntwo\r\nthree", Encoding::utf8);
    ASSERT_TRUE(decoded.ok());
    kept = decoded.value().lines;
    const std::vector<Line> copy = kept;
    EXPECT_TRUE(copy[0].text.shares_buffer_with(kept[2].text));
  }
  EXPECT_EQ(join_lines(kept), "one\ntwo\r\nthree");
  std::vector<Line> edited = kept;
  edited[1].text = "TWO";
  edited[1].eol = "\n";
  edited[2].eol.clear();
  EXPECT_EQ(join_lines(edited), "one\nTWO\nthree");
  EXPECT_EQ(join_lines(kept), "one\ntwo\r\nthree");
  // Edited lines no longer lie in one buffer: they must be joined, and a
  // line end that differs from the bytes after the text breaks the run too.
  EXPECT_FALSE(contiguous_bytes(edited, 0, 3).has_value());
  EXPECT_EQ(contiguous_bytes(edited, 2, 1), std::optional<std::string_view>("three"));
  std::vector<Line> other_ends = kept;
  other_ends[0].eol = "\r\n";
  EXPECT_FALSE(contiguous_bytes(other_ends, 0, 2).has_value());
  // Lines of two files side by side are not one run either.
  std::vector<Line> two_files = split_lines("a\n");
  const std::vector<Line> more = split_lines("b\n");
  two_files.push_back(more[0]);
  EXPECT_FALSE(contiguous_bytes(two_files, 0, 2).has_value());
  // Anything but LF, CRLF and CR is no line end.
  EXPECT_EQ(LineEnd("\r").view(), "\r");
  EXPECT_TRUE(LineEnd("\n\r").empty());
  EXPECT_EQ(LineEnd(std::string("\r\n")).view(), "\r\n");
}

TEST(GuiTextCodec, Utf16And32RoundTripWithAndWithoutMark) {
  // "aé€𝄞" then CRLF and LF line ends, no final line end.
  const std::string le16 = "a\0\xE9\0\xAC\x20\x34\xD8\x1E\xDD\r\0\n\0x\0\n\0y\0"s;
  const std::string be16 = "\0a\0\xE9\x20\xAC\xD8\x34\xDD\x1E\0\r\0\n\0x\0\n\0y"s;
  expect_round_trip(le16, Encoding::utf16le, Encoding::utf16le, false);
  expect_round_trip("\xFF\xFE"s + le16, Encoding::utf16le, Encoding::utf16le, true);
  expect_round_trip(be16, Encoding::utf16be, Encoding::utf16be, false);
  expect_round_trip("\xFE\xFF"s + be16, Encoding::utf16be, Encoding::utf16be, true);
  const std::string le32 = "a\0\0\0\x1E\xD1\x01\0\r\0\0\0\n\0\0\0"s;
  const std::string be32 = "\0\0\0a\0\x01\xD1\x1E\0\0\0\r\0\0\0\n"s;
  expect_round_trip(le32, Encoding::utf32le, Encoding::utf32le, false);
  expect_round_trip("\xFF\xFE\0\0"s + le32, Encoding::utf32le, Encoding::utf32le, true);
  expect_round_trip(be32, Encoding::utf32be, Encoding::utf32be, false);
  expect_round_trip("\0\0\xFE\xFF"s + be32, Encoding::utf32be, Encoding::utf32be, true);

  const support::Result<TextDocument> d = decode_text(le16, Encoding::utf16le);
  ASSERT_EQ(d.value().lines.size(), 3u);
  EXPECT_EQ(d.value().lines[0].text, "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E");
  EXPECT_EQ(d.value().lines[0].eol, "\r\n");
  EXPECT_EQ(d.value().lines[2].eol, "");
}

TEST(GuiTextCodec, AutomaticPicksMarkThenUtf8ThenLatin1) {
  expect_round_trip("\xFF\xFE\0\0a\0\0\0"s, Encoding::automatic, Encoding::utf32le, true);
  expect_round_trip("\xFF\xFEx\0"s, Encoding::automatic, Encoding::utf16le, true);
  expect_round_trip("\xFE\xFF\0x"s, Encoding::automatic, Encoding::utf16be, true);
  expect_round_trip("\xEF\xBB\xBFh\xC3\xA9\r\n", Encoding::automatic, Encoding::utf8, true);
  expect_round_trip("h\xC3\xA9\r\n", Encoding::automatic, Encoding::utf8, false);
  expect_round_trip("caf\xE9\r\nna\xEFve\n", Encoding::automatic, Encoding::latin1, false);
  expect_round_trip("", Encoding::automatic, Encoding::utf8, false);
  const support::Result<TextDocument> latin = decode_text("caf\xE9", Encoding::automatic);
  EXPECT_EQ(latin.value().lines[0].text, "caf\xC3\xA9");
}

// Bytes that begin like a UTF-16 or UTF-32 mark but are no text in that
// encoding are read the way a file without a mark is, never refused.
TEST(GuiTextCodec, AutomaticFallsBackWhenTheMarkLies) {
  expect_round_trip(
      "\xFF\xFE"
      "caf\xE9\n"s,
      Encoding::automatic, Encoding::latin1, false);
  expect_round_trip("\xFF\xFE\0\0a\0"s, Encoding::automatic, Encoding::utf16le, true);
  expect_round_trip("\xFE\xFF\xD8\x00"s, Encoding::automatic, Encoding::latin1, false);
}

TEST(GuiTextCodec, InvalidBytesAreErrorsNotReplacements) {
  EXPECT_FALSE(decode_text("abc", Encoding::utf16le).ok());           // odd length
  EXPECT_FALSE(decode_text("\x00\xD8x\0"s, Encoding::utf16le).ok());  // lone high surrogate
  EXPECT_FALSE(decode_text("\x00\xDC"s, Encoding::utf16le).ok());     // lone low surrogate
  EXPECT_FALSE(decode_text("\0\0\x11\0"s, Encoding::utf32le).ok());   // above U+10FFFF
  EXPECT_FALSE(decode_text("caf\xE9", Encoding::utf8).ok());
  EXPECT_FALSE(decode_text("\xC0\xAF", Encoding::utf8).ok());         // overlong
  EXPECT_FALSE(decode_text("\xED\xA0\x80", Encoding::utf8).ok());     // surrogate
  EXPECT_FALSE(decode_text("\xE2\x82", Encoding::utf8).ok());         // cut short
  EXPECT_TRUE(decode_text("\xF4\x8F\xBF\xBF", Encoding::utf8).ok());  // U+10FFFF
}

// Errors say where: the line and the column in characters (both from 1),
// and for bytes read, the byte in the file (from 1, after any mark).
TEST(GuiTextCodec, ErrorsNameTheLineAndColumn) {
  EXPECT_EQ(decode_text("ab\ncd\n\xC3\xA9x\xE9y\n", Encoding::utf8).status().text(),
            "the text is not valid UTF-8 at line 3, column 3 (byte 10)");
  EXPECT_EQ(decode_text("\xEF\xBB\xBF\xFF", Encoding::utf8).status().text(),
            "the text is not valid UTF-8 at line 1, column 1 (byte 4)");
  // UTF-16LE "a\nb" then a lone low surrogate: line 2, column 2, byte 7.
  EXPECT_EQ(decode_text("a\0\n\0b\0\x00\xDC"s, Encoding::utf16le).status().text(),
            "an invalid code unit at line 2, column 2 (byte 7)");
  EXPECT_EQ(decode_text("\xFF\xFE"
                        "a\0\x00\xD8"s,
                        Encoding::utf16le)
                .status().text(),
            "a high surrogate ends the text at line 1, column 2 (byte 5)");
  EXPECT_EQ(decode_text("a\0\n\0b"s, Encoding::utf16le).status().text(),
            "the length is not a whole number of 2-byte units: a part of one ends the text at "
            "line 2, column 1");
  TextDocument doc;
  doc.encoding = Encoding::latin1;
  doc.lines = split_lines("caf\xC3\xA9\nA \xE2\x82\xAC sign\n");
  EXPECT_EQ(
      encode_text(doc).status().text(),
      "the text holds a character that Latin-1 cannot represent (U+20AC at line 2, column 3)");
  doc.lines = split_lines("\xF0\x9F\x98\x80");
  EXPECT_EQ(
      encode_text(doc).status().text(),
      "the text holds a character that Latin-1 cannot represent (U+1F600 at line 1, column 1)");
}

TEST(GuiTextCodec, EncodingRejectsWhatTheTargetCannotHold) {
  TextDocument doc;
  doc.encoding = Encoding::latin1;
  doc.lines = split_lines("\xE2\x82\xAC\n");  // the euro sign
  EXPECT_FALSE(encode_text(doc).ok());
  doc.lines = split_lines("\xC3\xBF\n");  // U+00FF fits
  const support::Result<std::string> ok = encode_text(doc);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.value(), "\xFF\n");
}

// A merge's output takes the encoding that keeps every contributor's bytes:
// ASCII text in UTF-8 is the same bytes in Latin-1, so a Latin-1 side
// added to an ASCII base stays Latin-1, not the base's detected UTF-8.
TEST(GuiTextCodec, MergeEncodingKeepsTheContributorsBytes) {
  const auto doc = [](const std::string& bytes) {
    return decode_text(bytes, Encoding::automatic).value();
  };
  const auto encoded = [](const MergeEncoding& chosen, const std::string& utf8) {
    TextDocument out;
    out.encoding = chosen.encoding;
    out.bom = chosen.bom;
    out.lines = split_lines(utf8);
    return encode_text(out).value();
  };
  const TextDocument ascii = doc("a\nb\n");
  const TextDocument latin1 = doc("a\nb\xE9\n");
  const TextDocument utf8 = doc("a\nb\xC3\xBC\n");
  MergeEncoding chosen = merge_encoding({ascii, ascii, latin1}, Encoding::automatic);
  EXPECT_EQ(chosen.encoding, Encoding::latin1);
  EXPECT_TRUE(chosen.converted.empty());
  EXPECT_EQ(encoded(chosen, "a\nb\xC3\xA9\n"), "a\nb\xE9\n");
  chosen = merge_encoding({ascii, utf8, ascii}, Encoding::automatic);
  EXPECT_EQ(chosen.encoding, Encoding::utf8);
  EXPECT_TRUE(chosen.converted.empty());
  chosen = merge_encoding({latin1, ascii, latin1}, Encoding::automatic);
  EXPECT_EQ(chosen.encoding, Encoding::latin1);
  EXPECT_TRUE(chosen.converted.empty());
  // Latin-1 and UTF-8 beside each other: one of them is converted, and said so.
  chosen = merge_encoding({ascii, latin1, utf8}, Encoding::automatic);
  EXPECT_EQ(chosen.converted.size(), 1u);
  chosen = merge_encoding({utf8, latin1, ascii}, Encoding::automatic);
  EXPECT_EQ(chosen.encoding, Encoding::utf8);
  EXPECT_EQ(chosen.converted, std::vector<std::size_t>{1});
  // ASCII in UTF-8 is not the bytes of UTF-16.
  const TextDocument wide =
      doc("\xFF\xFE"
          "a\0\n\0"s);
  chosen = merge_encoding({ascii, wide, wide}, Encoding::automatic);
  EXPECT_EQ(chosen.encoding, Encoding::utf16le);
  EXPECT_EQ(chosen.converted, std::vector<std::size_t>{0});
  // A named encoding is what every file was read in: nothing is converted.
  chosen = merge_encoding({ascii, utf8, ascii}, Encoding::utf8);
  EXPECT_EQ(chosen.encoding, Encoding::utf8);
  EXPECT_TRUE(chosen.converted.empty());
  // The mark: the base's, unless a side added or removed it.
  const TextDocument marked =
      doc("\xEF\xBB\xBF"
          "a\nb\n");
  EXPECT_FALSE(merge_encoding({ascii, ascii, ascii}, Encoding::automatic).bom);
  EXPECT_TRUE(merge_encoding({ascii, marked, ascii}, Encoding::automatic).bom);
  EXPECT_FALSE(merge_encoding({marked, marked, ascii}, Encoding::automatic).bom);
  EXPECT_TRUE(merge_encoding({marked, marked, marked}, Encoding::automatic).bom);
}

}  // namespace
}  // namespace marlow

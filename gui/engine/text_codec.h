// Text files as the graphical client sees them: bytes in one of a few
// encodings, decoded to UTF-8 lines that keep their own line ends, and
// encoded back to the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace marlow {

enum class Encoding { automatic, utf8, latin1, utf16le, utf16be, utf32le, utf32be };

// The encoding a file type name of the call selects: "utf8_file_delta" and
// the UTF-16/32 names; anything else (and the empty name) is `automatic`.
Encoding encoding_for_type(const std::string& type_name);
const char* encoding_name(Encoding encoding);

// One line: its text in UTF-8 without the line end, and the line end as it
// stood in the file ("\n", "\r\n", or empty for a last line without one).
struct Line {
  std::string text;
  std::string eol;
  bool operator==(const Line&) const = default;
};

struct TextDocument {
  Encoding encoding = Encoding::utf8;  // never `automatic` once decoded
  bool bom = false;                    // the file began with a byte order mark
  std::vector<Line> lines;
};

struct DecodeResult {
  bool ok = false;
  std::string error;  // why the bytes are not text in that encoding
  TextDocument doc;
};

struct EncodeResult {
  bool ok = false;
  std::string error;
  std::string bytes;
};

// Decodes `bytes`. With `automatic`: a UTF-32 or UTF-16 byte order mark
// selects that encoding; otherwise UTF-8 when the bytes are valid UTF-8
// (with or without its mark), else Latin-1. With a named encoding, a leading
// mark of that encoding is recorded and removed; bytes that are not valid in
// it are an error (never silently replaced, so that saving cannot corrupt).
DecodeResult decode_text(const std::string& bytes, Encoding encoding);
// Encodes the lines in `doc.encoding`, with the mark when `doc.bom`.
// Characters the encoding cannot hold (Latin-1 above U+00FF) are an error.
EncodeResult encode_text(const TextDocument& doc);

// Splits UTF-8 text at every line feed; a carriage return right before a
// line feed belongs to the line end. Joining gives back the same text.
std::vector<Line> split_lines(const std::string& utf8);
std::string join_lines(const std::vector<Line>& lines);
std::string join_lines(const std::vector<Line>& lines, std::size_t start, std::size_t count);

bool is_valid_utf8(const std::string& bytes);

}  // namespace marlow

// Text files as the graphical client sees them: bytes in one of a few
// encodings, decoded to UTF-8 lines that keep their own line ends, and
// encoded back to the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/status.h"

namespace marlow {

enum class Encoding { automatic, utf8, latin1, utf16le, utf16be, utf32le, utf32be };

// The encoding a file type name of the call selects: "utf8_file_delta" and
// the UTF-16/32 names; anything else (and the empty name) is `automatic`.
Encoding encoding_for_type(const std::string& type_name);
const char* encoding_name(Encoding encoding);

// A line's text in UTF-8: a view into bytes that it shares. The lines
// decoded from one file all view that file's one buffer, so a line costs a
// few words and no allocation of its own, and copies of lines (the regions of
// a merge, the sides of a comparison) share it too. A line made from a string
// holds a buffer of its own. Immutable: assigning replaces the view; the
// bytes go when the last line that views them goes.
class LineText {
 public:
  LineText() noexcept = default;
  LineText(std::string text);  // NOLINT(google-explicit-constructor): a line from a string
  LineText(const char* text)
      : LineText(std::string(text)) {}  // NOLINT(google-explicit-constructor)
  LineText(const LineText& other) noexcept;
  LineText(LineText&& other) noexcept;
  LineText& operator=(const LineText& other) noexcept;
  LineText& operator=(LineText&& other) noexcept;
  ~LineText();

  // Bytes [start, start + size) of `buffer` (a buffer made by share_bytes).
  static LineText view_of(const LineText& buffer, std::size_t start, std::size_t size);
  // A text that owns `bytes` whole: the buffer for view_of.
  static LineText share_bytes(std::string bytes);

  std::string_view view() const noexcept { return {data_, size()}; }
  operator std::string_view() const noexcept {
    return view();
  }  // NOLINT(google-explicit-constructor)
  // No conversion to std::string: a `const std::string&` bound to a line's
  // text would be a temporary copy, and a pointer to it would dangle.
  std::string str() const { return std::string(view()); }
  const char* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_low_ | (std::size_t{size_high_} << 32); }
  bool empty() const noexcept { return size() == 0; }
  const char* begin() const noexcept { return data_; }
  const char* end() const noexcept { return data_ + size(); }
  char operator[](std::size_t i) const noexcept { return data_[i]; }
  std::size_t find(char c, std::size_t from = 0) const noexcept { return view().find(c, from); }
  std::string_view substr(std::size_t from, std::size_t count = std::string_view::npos) const {
    return view().substr(from, count);
  }
  // Whether both view the same shared buffer (lines of one decoded file).
  bool shares_buffer_with(const LineText& other) const noexcept {
    return owner_ != nullptr && owner_ == other.owner_;
  }

  friend bool operator==(const LineText& a, const LineText& b) noexcept {
    return a.view() == b.view();
  }

 private:
  struct Shared;
  void release() noexcept;

  Shared* owner_ = nullptr;
  const char* data_ = "";
  // The size in 40 bits (a line of up to a terabyte), so that a Line with
  // its line end takes three words: five bytes here, and the line end in
  // the two words' padding after them.
  std::uint32_t size_low_ = 0;
  std::uint8_t size_high_ = 0;
  void set_size(std::size_t size) noexcept {
    size_low_ = static_cast<std::uint32_t>(size);
    size_high_ = static_cast<std::uint8_t>(size >> 32);
  }
};

// A line end as it stood in the file: "\n", "\r\n", "\r" (a file whose
// lines all end so), or none (a last line without one). One byte; reads and
// compares like the string it stands for.
class LineEnd {
 public:
  LineEnd() noexcept = default;
  // Anything but "\n", "\r\n" and "\r" is no line end.
  LineEnd(std::string_view eol) noexcept  // NOLINT(google-explicit-constructor)
      : kind_(eol == "\n"     ? Kind::lf
              : eol == "\r\n" ? Kind::crlf
              : eol == "\r"   ? Kind::cr
                              : Kind::none) {}
  LineEnd(const char* eol) noexcept
      : LineEnd(std::string_view(eol)) {}  // NOLINT(google-explicit-constructor)
  LineEnd(const std::string& eol) noexcept
      : LineEnd(std::string_view(eol)) {}  // NOLINT(google-explicit-constructor)

  std::string_view view() const noexcept {
    return kind_ == Kind::lf     ? std::string_view("\n")
           : kind_ == Kind::crlf ? std::string_view("\r\n")
           : kind_ == Kind::cr   ? std::string_view("\r")
                                 : std::string_view();
  }
  operator std::string_view() const noexcept {
    return view();
  }  // NOLINT(google-explicit-constructor)
  std::string str() const { return std::string(view()); }
  std::size_t size() const noexcept { return view().size(); }
  bool empty() const noexcept { return kind_ == Kind::none; }
  void clear() noexcept { kind_ = Kind::none; }

  friend bool operator==(const LineEnd& a, const LineEnd& b) noexcept { return a.kind_ == b.kind_; }

 private:
  enum class Kind : unsigned char { none, lf, crlf, cr };
  Kind kind_ = Kind::none;
};

// One line: its text in UTF-8 without the line end, and the line end as it
// stood in the file.
struct Line {
  // The line end takes a byte of the text's padding.
  [[no_unique_address]] LineText text;
  LineEnd eol;
  bool operator==(const Line&) const = default;
};
static_assert(sizeof(void*) != 8 || sizeof(Line) == 24, "a line is three words");

struct TextDocument {
  Encoding encoding = Encoding::utf8;  // never `automatic` once decoded
  bool bom = false;                    // the file began with a byte order mark
  std::vector<Line> lines;
};

// Decodes `bytes`. With `automatic`: a UTF-32 or UTF-16 byte order mark
// selects that encoding; otherwise UTF-8 when the bytes are valid UTF-8
// (with or without its mark), else Latin-1. With a named encoding, a leading
// mark of that encoding is recorded and removed; bytes that are not valid in
// it are an error (never silently replaced, so that saving cannot corrupt).
// The lines view one buffer: the bytes themselves when they are UTF-8
// already (pass them moved to spare a copy), else their UTF-8 decoding.
// A failure's message says why the bytes are not text in that encoding.
support::Result<TextDocument> decode_text(std::string bytes, Encoding encoding);
// Encodes the lines in `doc.encoding`, with the mark when `doc.bom`: the
// file's bytes. Characters the encoding cannot hold (Latin-1 above U+00FF)
// are a failure whose message says which and where.
support::Result<std::string> encode_text(const TextDocument& doc);

// The encoding and mark that a merge of `docs` (the base first) is written
// in, so that every contributor's lines keep their bytes where they can.
// `named`, when not `automatic`, is the encoding every document was read
// in. Otherwise a document of ASCII text in UTF-8 reads the same in Latin-1,
// so the encoding is the one the other documents share; when they do not
// share one, the base's (or the first such document's), and `converted`
// lists the documents whose lines are converted into it. The mark is the
// base's unless a side added or removed it.
struct MergeEncoding {
  Encoding encoding = Encoding::utf8;
  bool bom = false;
  std::vector<std::size_t> converted;  // indexes into `docs`
};
MergeEncoding merge_encoding(const std::vector<TextDocument>& docs, Encoding named);

// Splits UTF-8 text at every line feed; a carriage return right before a
// line feed belongs to the line end, and any other carriage return is a
// character of its line. A text with no line feed but carriage returns is
// split at those: a file whose lines end in CR. Joining gives back the same
// text. The lines view one shared copy of the text (its own bytes when moved
// in).
std::vector<Line> split_lines(std::string utf8);
// The bytes of lines [start, start + count) when they lie one after the
// other in one buffer (as split_lines leaves them), text and line ends
// included; nullopt otherwise. Lets a diff read them without joining.
std::optional<std::string_view> contiguous_bytes(const std::vector<Line>& lines, std::size_t start,
                                                 std::size_t count);
std::string join_lines(const std::vector<Line>& lines);
std::string join_lines(const std::vector<Line>& lines, std::size_t start, std::size_t count);

bool is_valid_utf8(std::string_view bytes);

// For test failures: the text as it reads.
std::ostream& operator<<(std::ostream& out, const LineText& text);
std::ostream& operator<<(std::ostream& out, const LineEnd& eol);

}  // namespace marlow

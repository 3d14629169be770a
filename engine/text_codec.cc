#include "engine/text_codec.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ostream>
#include <utility>

namespace marlow {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Reads one code point of valid UTF-8 at `*pos`; false at an invalid
// sequence (overlong forms, surrogates and values above U+10FFFF included).
bool next_utf8(std::string_view s, std::size_t* pos, char32_t* out) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(*pos);
  std::size_t extra = 0;
  char32_t c = 0;
  char32_t min = 0;
  if (b0 < 0x80) {
    *out = b0;
    ++*pos;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, c = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (*pos + extra >= s.size()) return false;
  for (std::size_t i = 1; i <= extra; ++i) {
    const unsigned char b = byte(*pos + i);
    if ((b & 0xC0) != 0x80) return false;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > kMaxCodePoint || is_surrogate(c)) return false;
  *out = c;
  *pos += extra + 1;
  return true;
}

std::uint32_t read_unit(std::string_view s, std::size_t at, std::size_t width, bool big) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < width; ++i) {
    const std::uint32_t b = static_cast<unsigned char>(s[at + (big ? i : width - 1 - i)]);
    v = (v << 8) | b;
  }
  return v;
}

void write_unit(std::string& out, std::uint32_t v, std::size_t width, bool big) {
  for (std::size_t i = 0; i < width; ++i) {
    const std::size_t shift = 8 * (big ? width - 1 - i : i);
    out += static_cast<char>((v >> shift) & 0xFF);
  }
}

std::size_t unit_width(Encoding e) {
  switch (e) {
    case Encoding::utf16le:
    case Encoding::utf16be:
      return 2;
    case Encoding::utf32le:
    case Encoding::utf32be:
      return 4;
    default:
      return 1;
  }
}

bool big_endian(Encoding e) { return e == Encoding::utf16be || e == Encoding::utf32be; }

std::string bom_bytes(Encoding e) {
  switch (e) {
    case Encoding::utf8:
      return "\xEF\xBB\xBF";
    case Encoding::utf16le:
      return std::string("\xFF\xFE", 2);
    case Encoding::utf16be:
      return std::string("\xFE\xFF", 2);
    case Encoding::utf32le:
      return std::string("\xFF\xFE\x00\x00", 4);
    case Encoding::utf32be:
      return std::string("\x00\x00\xFE\xFF", 4);
    default:
      return std::string();
  }
}

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// "line L, column C": where the end of `utf8` (the text read so far)
// stands, both counted from 1, columns in characters.
std::string position_after(std::string_view utf8) {
  std::size_t line = 1;
  std::size_t column = 1;
  for (const char ch : utf8) {
    if (ch == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string hex_code_point(char32_t c) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (int shift = 20; shift >= 0; shift -= 4) hex += digits[(c >> shift) & 0xF];
  // At least four digits, as the form goes.
  return "U+" + hex.substr(std::min(hex.find_first_not_of('0'), hex.size() - 4));
}

// Where the first byte that is not valid UTF-8 stands, for a message; the
// text must hold one.
std::string utf8_fault_position(std::string_view bytes, std::size_t skipped) {
  std::size_t pos = 0;
  char32_t c = 0;
  while (pos < bytes.size()) {
    const std::size_t at = pos;
    if (!next_utf8(bytes, &pos, &c)) {
      return position_after(bytes.substr(0, at)) + " (byte " + std::to_string(at + skipped + 1) +
             ")";
    }
  }
  return "its end";
}

// Decodes UTF-16 or UTF-32 (no mark) into UTF-8.
// Errors name the line and column (and the byte, from 1 in the file, after
// `skipped` bytes of mark) where the text stops being valid.
bool decode_units(std::string_view s, Encoding e, std::size_t skipped, std::string* out,
                  std::string* error) {
  const std::size_t width = unit_width(e);
  const bool big = big_endian(e);
  const auto where = [&](std::size_t at) {
    return " at " + position_after(*out) + " (byte " + std::to_string(at + skipped + 1) + ")";
  };
  if (s.size() % width != 0) {
    *error = "the length is not a whole number of " + std::to_string(width) + "-byte units";
    // Where the text stops: every whole unit before the last part of one.
    std::string whole;
    if (decode_units(s.substr(0, s.size() - s.size() % width), e, skipped, &whole, error)) {
      *error = "the length is not a whole number of " + std::to_string(width) +
               "-byte units: a part of one ends the text at " + position_after(whole);
    }
    return false;
  }
  for (std::size_t at = 0; at < s.size(); at += width) {
    char32_t c = read_unit(s, at, width, big);
    if (width == 2 && c >= 0xD800 && c <= 0xDBFF) {
      if (at + 2 >= s.size()) {
        *error = "a high surrogate ends the text" + where(at);
        return false;
      }
      const char32_t low = read_unit(s, at + 2, 2, big);
      if (low < 0xDC00 || low > 0xDFFF) {
        *error = "a high surrogate without its low surrogate" + where(at);
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      at += 2;
    } else if (is_surrogate(c) || c > kMaxCodePoint) {
      *error = "an invalid code unit" + where(at);
      return false;
    }
    append_utf8(*out, c);
  }
  return true;
}

// The lines of the text in `buffer` from byte `from`, each a view into it.
std::vector<Line> split_shared(const LineText& buffer, std::size_t from) {
  const std::string_view text = buffer.view();
  std::vector<Line> lines;
  std::size_t count = static_cast<std::size_t>(
      std::count(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), '\n'));
  // Without a line feed, carriage returns end the lines.
  const char end_byte = count == 0 && text.find('\r', from) != std::string_view::npos ? '\r' : '\n';
  if (end_byte == '\r') {
    count = static_cast<std::size_t>(
        std::count(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), '\r'));
  }
  lines.reserve(count + 1);
  std::size_t start = from;
  while (start < text.size()) {
    const std::size_t lf = text.find(end_byte, start);
    if (end_byte == '\r' && lf != std::string_view::npos) {
      lines.push_back(Line{LineText::view_of(buffer, start, lf - start), "\r"});
      start = lf + 1;
      continue;
    }
    if (lf == std::string_view::npos) {
      lines.push_back(Line{LineText::view_of(buffer, start, text.size() - start), LineEnd()});
      break;
    }
    const bool crlf = lf > start && text[lf - 1] == '\r';
    const std::size_t text_end = crlf ? lf - 1 : lf;
    lines.push_back(Line{LineText::view_of(buffer, start, text_end - start), crlf ? "\r\n" : "\n"});
    start = lf + 1;
  }
  return lines;
}

}  // namespace

struct LineText::Shared {
  std::atomic<std::size_t> users{1};
  std::string bytes;
};

LineText::LineText(std::string text) {
  if (text.empty()) return;
  owner_ = new Shared{1, std::move(text)};
  data_ = owner_->bytes.data();
  set_size(owner_->bytes.size());
}

LineText LineText::share_bytes(std::string bytes) {
  LineText buffer;
  buffer.owner_ = new Shared{1, std::move(bytes)};
  buffer.data_ = buffer.owner_->bytes.data();
  buffer.set_size(buffer.owner_->bytes.size());
  return buffer;
}

LineText LineText::view_of(const LineText& buffer, std::size_t start, std::size_t size) {
  LineText view(buffer);
  view.data_ = buffer.data_ + start;
  view.set_size(size);
  return view;
}

LineText::LineText(const LineText& other) noexcept
    : owner_(other.owner_),
      data_(other.data_),
      size_low_(other.size_low_),
      size_high_(other.size_high_) {
  if (owner_ != nullptr) owner_->users.fetch_add(1, std::memory_order_relaxed);
}

LineText::LineText(LineText&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)),
      data_(std::exchange(other.data_, "")),
      size_low_(std::exchange(other.size_low_, 0)),
      size_high_(std::exchange(other.size_high_, 0)) {}

LineText& LineText::operator=(const LineText& other) noexcept {
  if (this != &other) {
    if (other.owner_ != nullptr) other.owner_->users.fetch_add(1, std::memory_order_relaxed);
    release();
    owner_ = other.owner_;
    data_ = other.data_;
    size_low_ = other.size_low_;
    size_high_ = other.size_high_;
  }
  return *this;
}

LineText& LineText::operator=(LineText&& other) noexcept {
  if (this != &other) {
    release();
    owner_ = std::exchange(other.owner_, nullptr);
    data_ = std::exchange(other.data_, "");
    size_low_ = std::exchange(other.size_low_, 0);
    size_high_ = std::exchange(other.size_high_, 0);
  }
  return *this;
}

LineText::~LineText() { release(); }

void LineText::release() noexcept {
  if (owner_ != nullptr && owner_->users.fetch_sub(1, std::memory_order_acq_rel) == 1)
    delete owner_;
  owner_ = nullptr;
}

std::ostream& operator<<(std::ostream& out, const LineText& text) { return out << text.view(); }

std::ostream& operator<<(std::ostream& out, const LineEnd& eol) {
  return out << (eol.empty() ? "(none)" : eol.view() == "\n" ? "LF" : "CRLF");
}

Encoding encoding_for_type(const std::string& type_name) {
  if (type_name == "utf8_file_delta") return Encoding::utf8;
  if (type_name == "utf16le_file_delta") return Encoding::utf16le;
  if (type_name == "utf16be_file_delta") return Encoding::utf16be;
  if (type_name == "utf32le_file_delta") return Encoding::utf32le;
  if (type_name == "utf32be_file_delta") return Encoding::utf32be;
  return Encoding::automatic;
}

const char* encoding_name(Encoding encoding) {
  switch (encoding) {
    case Encoding::automatic:
      return "automatic";
    case Encoding::utf8:
      return "UTF-8";
    case Encoding::latin1:
      return "Latin-1";
    case Encoding::utf16le:
      return "UTF-16LE";
    case Encoding::utf16be:
      return "UTF-16BE";
    case Encoding::utf32le:
      return "UTF-32LE";
    case Encoding::utf32be:
      return "UTF-32BE";
  }
  return "?";
}

bool is_valid_utf8(std::string_view bytes) {
  std::size_t pos = 0;
  char32_t c = 0;
  while (pos < bytes.size()) {
    if (!next_utf8(bytes, &pos, &c)) return false;
  }
  return true;
}

std::vector<Line> split_lines(std::string utf8) {
  return split_shared(LineText::share_bytes(std::move(utf8)), 0);
}

std::optional<std::string_view> contiguous_bytes(const std::vector<Line>& lines, std::size_t start,
                                                 std::size_t count) {
  if (start >= lines.size() || count == 0) return std::string_view();
  const std::size_t end = std::min(lines.size(), start + count);
  const Line& first = lines[start];
  const char* next = first.text.data();
  for (std::size_t i = start; i < end; ++i) {
    const Line& line = lines[i];
    if (line.text.data() != next || !line.text.shares_buffer_with(first.text)) return std::nullopt;
    next += line.text.size();
    // The line end must follow the text in the buffer, as the file had it.
    const std::string_view eol = line.eol.view();
    if (std::string_view(next, eol.size()) != eol) return std::nullopt;
    next += eol.size();
  }
  return std::string_view(first.text.data(), static_cast<std::size_t>(next - first.text.data()));
}

std::string join_lines(const std::vector<Line>& lines, std::size_t start, std::size_t count) {
  std::string out;
  const std::size_t end = std::min(lines.size(), start + count);
  std::size_t size = 0;
  for (std::size_t i = start; i < end; ++i) size += lines[i].text.size() + lines[i].eol.size();
  out.reserve(size);
  for (std::size_t i = start; i < end; ++i) {
    out += lines[i].text.view();
    out += lines[i].eol.view();
  }
  return out;
}

std::string join_lines(const std::vector<Line>& lines) {
  return join_lines(lines, 0, lines.size());
}

support::Result<TextDocument> decode_text(std::string bytes, Encoding encoding) {
  if (encoding == Encoding::automatic) {
    // A UTF-32 or UTF-16 mark selects that encoding when the bytes are text
    // in it. The UTF-32LE mark begins with the UTF-16LE one, so it is tried
    // first.
    for (Encoding e :
         {Encoding::utf32le, Encoding::utf32be, Encoding::utf16le, Encoding::utf16be}) {
      if (!starts_with(bytes, bom_bytes(e))) continue;
      support::Result<TextDocument> marked = decode_text(bytes, e);
      if (marked.ok()) return marked;
    }
    // Otherwise UTF-8 when valid, else Latin-1, which reads any bytes and
    // writes them back unchanged.
    encoding = is_valid_utf8(bytes) ? Encoding::utf8 : Encoding::latin1;
  }
  TextDocument doc;
  doc.encoding = encoding;
  const std::string bom = bom_bytes(encoding);
  doc.bom = !bom.empty() && starts_with(bytes, bom);
  const std::size_t skipped = doc.bom ? bom.size() : 0;
  const std::string_view body = std::string_view(bytes).substr(skipped);
  std::string utf8;
  switch (encoding) {
    case Encoding::utf8:
      if (!is_valid_utf8(body)) {
        return support::Status::failure("the text is not valid UTF-8 at " +
                                        utf8_fault_position(body, skipped));
      }
      // The lines view the bytes themselves, after the mark.
      doc.lines = split_shared(LineText::share_bytes(std::move(bytes)), skipped);
      return doc;
    case Encoding::latin1:
      utf8.reserve(body.size());
      for (const char ch : body) append_utf8(utf8, static_cast<unsigned char>(ch));
      break;
    default: {
      std::string error;
      if (!decode_units(body, encoding, skipped, &utf8, &error)) {
        return support::Status::failure(std::move(error));
      }
      break;
    }
  }
  // The file's bytes are not needed once decoded.
  std::string().swap(bytes);
  doc.lines = split_lines(std::move(utf8));
  return doc;
}

support::Result<std::string> encode_text(const TextDocument& doc) {
  const Encoding encoding = doc.encoding == Encoding::automatic ? Encoding::utf8 : doc.encoding;
  std::string out;
  if (encoding == Encoding::utf8) {
    // Written straight after the mark: no second copy of the text.
    const std::string bom = doc.bom ? bom_bytes(encoding) : std::string();
    std::size_t size = bom.size();
    for (const Line& line : doc.lines) size += line.text.size() + line.eol.size();
    out.reserve(size);
    out = bom;
    for (const Line& line : doc.lines) {
      out += line.text.view();
      out += line.eol.view();
    }
    const std::string_view text = std::string_view(out).substr(bom.size());
    if (!is_valid_utf8(text)) {
      return support::Status::failure("the text is not valid UTF-8 at " +
                                      utf8_fault_position(text, 0));
    }
    return out;
  }
  const std::string utf8 = join_lines(doc.lines);
  if (!is_valid_utf8(utf8)) {
    return support::Status::failure("the text is not valid UTF-8 at " +
                                    utf8_fault_position(utf8, 0));
  }
  if (doc.bom) out = bom_bytes(encoding);
  const std::size_t width = unit_width(encoding);
  const bool big = big_endian(encoding);
  std::size_t pos = 0;
  char32_t c = 0;
  while (pos < utf8.size()) {
    const std::size_t at = pos;
    next_utf8(utf8, &pos, &c);
    if (encoding == Encoding::latin1) {
      if (c > 0xFF) {
        return support::Status::failure(
            "the text holds a character that Latin-1 cannot represent (" + hex_code_point(c) +
            " at " + position_after(utf8.substr(0, at)) + ")");
      }
      out += static_cast<char>(c);
    } else if (width == 2 && c >= 0x10000) {
      const char32_t v = c - 0x10000;
      write_unit(out, 0xD800 + (v >> 10), 2, big);
      write_unit(out, 0xDC00 + (v & 0x3FF), 2, big);
    } else {
      write_unit(out, c, width, big);
    }
  }
  return out;
}

MergeEncoding merge_encoding(const std::vector<TextDocument>& docs, Encoding named) {
  MergeEncoding out;
  if (docs.empty()) return out;
  // ASCII text in UTF-8: the same bytes in either 8-bit encoding.
  const auto ascii = [](const TextDocument& doc) {
    return doc.encoding == Encoding::utf8 &&
           std::all_of(doc.lines.begin(), doc.lines.end(), [](const Line& line) {
             return std::all_of(line.text.begin(), line.text.end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x80; });
           });
  };
  const auto eight_bit = [](Encoding e) { return e == Encoding::utf8 || e == Encoding::latin1; };
  if (named != Encoding::automatic) {
    out.encoding = named;
  } else {
    const auto first = std::find_if(docs.begin(), docs.end(),
                                    [&](const TextDocument& doc) { return !ascii(doc); });
    out.encoding =
        ascii(docs.front()) && first != docs.end() ? first->encoding : docs.front().encoding;
    for (std::size_t i = 0; i < docs.size(); ++i) {
      const bool fits =
          docs[i].encoding == out.encoding || (ascii(docs[i]) && eight_bit(out.encoding));
      if (!fits) out.converted.push_back(i);
    }
  }
  out.bom = docs.front().bom;
  for (std::size_t i = 1; i < docs.size(); ++i) {
    if (docs[i].bom != docs.front().bom) {
      out.bom = docs[i].bom;
      break;
    }
  }
  if (out.encoding == Encoding::latin1) out.bom = false;  // Latin-1 has no mark
  return out;
}

}  // namespace marlow

#include "engine/inline_diff.h"

#include <algorithm>

#include "engine/diff.h"

namespace marlow {
namespace {

// A piece of a text as a Line for diff_lines (each piece ends in "\n", which
// a line never holds), with its byte position in the text.
struct Pieces {
  std::vector<Line> lines;
  std::vector<std::size_t> offsets;  // one more than lines: the end
};

bool is_word_byte(unsigned char c) {
  return c >= 0x80 || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
         (c >= 'A' && c <= 'Z');
}

bool is_space_byte(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// A line feed cannot stand in a piece (the diff would cut the piece there
// and its line numbers would no longer index the pieces), so a piece that
// is one line feed is compared under a key that no other piece can have:
// a stray continuation byte and a blank never share a piece.
void hide_line_feeds(Pieces* p) {
  for (Line& line : p->lines) {
    if (line.text == "\n") line.text = "\x80\r";
  }
}

// Characters of text[from, to).
Pieces characters(std::string_view text, std::size_t from, std::size_t to) {
  Pieces p;
  // The pieces view one copy of the text.
  const LineText shared = LineText::share_bytes(std::string(text));
  std::size_t at = from;
  for (std::size_t len : code_point_lengths(text.substr(from, to - from))) {
    p.offsets.push_back(at);
    p.lines.push_back(Line{LineText::view_of(shared, at, len), "\n"});
    at += len;
  }
  p.offsets.push_back(to);
  hide_line_feeds(&p);
  return p;
}

// Words (runs of letters, digits, '_' and non-ASCII characters), runs of
// blanks, and every other character alone.
Pieces words(std::string_view text) {
  Pieces p;
  // The pieces view one copy of the text.
  const LineText shared = LineText::share_bytes(std::string(text));
  const std::vector<std::size_t> lengths = code_point_lengths(text);
  std::size_t at = 0;
  int last_class = -1;
  for (std::size_t len : lengths) {
    const auto c = static_cast<unsigned char>(text[at]);
    const int cls = is_word_byte(c) ? 0 : is_space_byte(c) ? 1 : 2;
    if (cls == 2 || cls != last_class) {
      p.offsets.push_back(at);
      p.lines.push_back(Line{LineText(), "\n"});
    }
    const std::size_t start = p.offsets.back();
    p.lines.back().text = LineText::view_of(shared, start, at + len - start);
    last_class = cls;
    at += len;
  }
  p.offsets.push_back(text.size());
  hide_line_feeds(&p);
  return p;
}

void add_range(std::vector<TextRange>* ranges, std::size_t start, std::size_t end) {
  if (end <= start) return;
  if (!ranges->empty() && ranges->back().start + ranges->back().length == start) {
    ranges->back().length += end - start;
  } else {
    ranges->push_back(TextRange{start, end - start});
  }
}

std::size_t count_kept(const std::vector<Hunk>& hunks, std::size_t total) {
  std::size_t changed = 0;
  for (const Hunk& h : hunks) changed += h.base_count;
  return total - changed;
}

}  // namespace

std::vector<std::size_t> code_point_lengths(std::string_view utf8) {
  std::vector<std::size_t> out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::size_t len = c < 0x80             ? 1
                      : (c & 0xE0) == 0xC0 ? 2
                      : (c & 0xF0) == 0xE0 ? 3
                      : (c & 0xF8) == 0xF0 ? 4
                                           : 1;
    if (i + len > utf8.size()) len = 1;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(utf8[i + k]) & 0xC0) != 0x80) {
        len = 1;
        break;
      }
    }
    out.push_back(len);
    i += len;
  }
  return out;
}

InlineDiff diff_chars(std::string_view base, std::string_view other) {
  InlineDiff out;
  if (base == other) return out;
  const Pieces a = words(base);
  const Pieces b = words(other);
  for (const Hunk& h : diff_lines(a.lines, b.lines)) {
    const std::size_t a_from = a.offsets[h.base_start];
    const std::size_t a_to = a.offsets[h.base_start + h.base_count];
    const std::size_t b_from = b.offsets[h.other_start];
    const std::size_t b_to = b.offsets[h.other_start + h.other_count];
    if (h.base_count != 0 && h.other_count != 0) {
      // Within changed words, mark single characters when most of the
      // shorter side is kept ("colour" and "color"); otherwise the whole
      // words, since scattered matching letters only distract.
      const Pieces ca = characters(base, a_from, a_to);
      const Pieces cb = characters(other, b_from, b_to);
      const std::vector<Hunk> fine = diff_lines(ca.lines, cb.lines);
      const std::size_t shorter = std::min(ca.lines.size(), cb.lines.size());
      if (2 * count_kept(fine, ca.lines.size()) >= shorter + 1) {
        for (const Hunk& f : fine) {
          add_range(&out.base, ca.offsets[f.base_start], ca.offsets[f.base_start + f.base_count]);
          add_range(&out.other, cb.offsets[f.other_start],
                    cb.offsets[f.other_start + f.other_count]);
        }
        continue;
      }
    }
    add_range(&out.base, a_from, a_to);
    add_range(&out.other, b_from, b_to);
  }
  return out;
}

namespace {

// Whether byte i of UTF-8 text continues a character rather than starting one.
bool continues(std::string_view text, std::size_t i) {
  return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
}

}  // namespace

InlineDiff diff_span(std::string_view base, std::string_view other) {
  InlineDiff out;
  if (base == other) return out;
  const std::size_t shorter = std::min(base.size(), other.size());
  std::size_t head = 0;
  while (head < shorter && base[head] == other[head]) ++head;
  // Back to the start of the character the texts part in.
  while (head > 0 && (continues(base, head) || continues(other, head))) --head;
  std::size_t tail = 0;
  while (tail < shorter - head && base[base.size() - 1 - tail] == other[other.size() - 1 - tail])
    ++tail;
  // Forward to the start of a character in both.
  while (tail > 0 && (continues(base, base.size() - tail) || continues(other, other.size() - tail)))
    --tail;
  if (base.size() > head + tail) out.base.push_back({head, base.size() - head - tail});
  if (other.size() > head + tail) out.other.push_back({head, other.size() - head - tail});
  return out;
}

InlineDiff diff_chars_within_limit(std::string_view base, std::string_view other, bool unlimited,
                                   bool* coarse) {
  if (unlimited || (base.size() <= kCharDiffLimit && other.size() <= kCharDiffLimit))
    return diff_chars(base, other);
  if (coarse != nullptr) *coarse = true;
  return diff_span(base, other);
}

void drop_blank_ranges(InlineDiff* diff, std::string_view base, std::string_view other) {
  const auto drop = [](std::vector<TextRange>* ranges, std::string_view text) {
    std::erase_if(*ranges, [text](const TextRange& r) {
      return text.substr(r.start, r.length).find_first_not_of(" \t") == std::string_view::npos;
    });
  };
  drop(&diff->base, base);
  drop(&diff->other, other);
}

}  // namespace marlow

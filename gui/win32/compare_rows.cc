#include "win32/compare_rows.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/inline_diff.h"

namespace marlow::win32 {
namespace {

// Sorted union of ranges, touching ones joined.
std::vector<ByteRange> joined(std::vector<ByteRange> ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const ByteRange& a, const ByteRange& b) { return a.start < b.start; });
  std::vector<ByteRange> out;
  for (const ByteRange& r : ranges) {
    if (!out.empty() && r.start <= out.back().start + out.back().length) {
      const std::size_t end = std::max(out.back().start + out.back().length, r.start + r.length);
      out.back().length = end - out.back().start;
    } else {
      out.push_back(r);
    }
  }
  return out;
}

std::vector<ByteRange> byte_ranges(const std::vector<TextRange>& ranges) {
  std::vector<ByteRange> out;
  out.reserve(ranges.size());
  for (const TextRange& r : ranges) out.push_back({r.start, r.length});
  return out;
}

}  // namespace

CompareRows::CompareRows(std::vector<TextDocument> docs, CompareOptions options)
    : docs_(std::move(docs)), options_(options) {
  lay_out();
}

void CompareRows::set_options(CompareOptions options) {
  options_ = options;
  lay_out();
}

void CompareRows::lay_out() {
  std::vector<std::vector<Line>> texts;
  texts.reserve(docs_.size());
  for (const TextDocument& doc : docs_) texts.push_back(doc.lines);
  // The rows index the lines as they are, which the panes show.
  rows_ = align_rows(texts, IgnoreOptions{.ignore_whitespace = options_.ignore_whitespace,
                                          .ignore_line_ends = options_.ignore_line_ends});

  // Each side's changed characters against side 0; side 0 shows those that
  // any of the others changed.
  const std::size_t n = docs_.size();
  marks_.assign(n, {});
  coarse_rows_ = 0;
  for (const auto& [first, end] : rows_.differences) {
    for (std::size_t row = first; row < end; ++row) {
      if (rows_.kind[0][row] != CellKind::changed) continue;
      const std::string_view base = text(0, row);
      std::vector<ByteRange> base_ranges;
      bool coarse = false;
      for (std::size_t s = 1; s < n; ++s) {
        if (rows_.kind[s][row] != CellKind::changed) continue;
        const std::string_view other = text(s, row);
        InlineDiff d = diff_chars_within_limit(base, other, options_.mark_long_lines, &coarse);
        if (options_.ignore_whitespace) drop_blank_ranges(&d, base, other);
        for (const ByteRange& r : byte_ranges(d.other)) marks_[s].emplace_back(row, r);
        const std::vector<ByteRange> mine = byte_ranges(d.base);
        base_ranges.insert(base_ranges.end(), mine.begin(), mine.end());
      }
      for (const ByteRange& r : joined(std::move(base_ranges))) marks_[0].emplace_back(row, r);
      if (coarse) ++coarse_rows_;
    }
  }
}

std::string_view CompareRows::text(std::size_t side, std::size_t row) const {
  const std::size_t at = rows_.line[side][row];
  if (at == kNoLine) return {};
  return docs_[side].lines[at].text.view();
}

std::vector<ByteRange> CompareRows::changed_bytes(std::size_t side, std::size_t row) const {
  const auto& marks = marks_[side];
  auto it = std::lower_bound(marks.begin(), marks.end(), row,
                             [](const auto& mark, std::size_t r) { return mark.first < r; });
  std::vector<ByteRange> out;
  for (; it != marks.end() && it->first == row; ++it) out.push_back(it->second);
  return out;
}

std::string CompareRows::line_end_note(std::size_t side, std::size_t row) const {
  if (rows_.line[side][row] == kNoLine) return {};
  const LineEnd* first = nullptr;
  bool differ = false;
  for (std::size_t s = 0; s < docs_.size(); ++s) {
    const std::size_t at = rows_.line[s][row];
    if (at == kNoLine) continue;
    const LineEnd& eol = docs_[s].lines[at].eol;
    if (first == nullptr) first = &eol;
    differ = differ || !(eol == *first);
  }
  if (!differ) return {};
  const LineEnd& eol = docs_[side].lines[rows_.line[side][row]].eol;
  if (eol == "\r\n") return "CRLF";
  if (eol == "\n") return "LF";
  if (eol == "\r") return "CR";
  return "no EOL";
}

std::size_t CompareRows::difference_at_or_after(std::size_t row) const {
  const auto& d = rows_.differences;
  for (std::size_t i = 0; i < d.size(); ++i) {
    if (d[i].second > row) return i;
  }
  return d.size();
}

bool CompareRows::identical() const {
  return std::all_of(docs_.begin(), docs_.end(),
                     [this](const TextDocument& doc) { return doc.lines == docs_[0].lines; });
}

std::string file_note(const TextDocument& doc, bool absent) {
  if (absent) return "absent: no such file on this side";
  std::vector<std::string> parts;
  parts.emplace_back(encoding_name(doc.encoding));
  if (doc.bom) parts.emplace_back("BOM");
  std::size_t lf = 0;
  std::size_t crlf = 0;
  std::size_t cr = 0;
  bool inner_returns = false;
  for (const Line& line : doc.lines) {
    if (line.eol == "\r\n") ++crlf;
    if (line.eol == "\n") ++lf;
    if (line.eol == "\r") ++cr;
    inner_returns = inner_returns || line.text.find('\r') != std::string_view::npos;
  }
  if (lf != 0 && crlf != 0) {
    parts.push_back("mixed line ends (" + std::to_string(lf) + " LF, " + std::to_string(crlf) +
                    " CRLF)");
  } else if (crlf != 0) {
    parts.emplace_back("CRLF");
  } else if (lf != 0) {
    parts.emplace_back("LF");
  }
  if (cr != 0) parts.emplace_back("CR");
  if (inner_returns) parts.emplace_back("carriage returns inside lines, shown as \xE2\x90\x8D");
  if (!doc.lines.empty() && doc.lines.back().eol.empty())
    parts.emplace_back("no line end at the end");
  parts.push_back(doc.lines.size() == 1 ? std::string("1 line")
                                        : std::to_string(doc.lines.size()) + " lines");
  std::string note;
  for (const std::string& part : parts) {
    if (!note.empty()) note += " \xC2\xB7 ";
    note += part;
  }
  return note;
}

bool is_absent(const std::string& path) {
  if (path == "/dev/null" || path == "nul" || path == "NUL") return true;
  std::error_code ec;
  return !std::filesystem::exists(std::filesystem::path(std::u8string(path.begin(), path.end())),
                                  ec);
}

std::size_t find_ignoring_case(std::string_view text, std::string_view needle, std::size_t from) {
  if (needle.empty() || needle.size() > text.size()) return std::string_view::npos;
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < needle.size() && lower(text[i + k]) == lower(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace marlow::win32

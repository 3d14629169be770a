#include "win32/compare_rows.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/utf8_path.h"

namespace marlow::win32 {

CompareRows::CompareRows(std::vector<TextDocument> docs, CompareOptions options)
    : options_(options) {
  // Never fails with texts, and a call always has two or more.
  session_ =
      std::move(CompareSession::open(std::move(docs),
                                     IgnoreOptions{.ignore_whitespace = options.ignore_whitespace,
                                                   .ignore_line_ends = options.ignore_line_ends})
                    .value());
  session_->set_mark_long_lines(options.mark_long_lines);
}

void CompareRows::set_options(CompareOptions options, std::size_t top_row) {
  options_ = options;
  if (session_->mark_long_lines() != options.mark_long_lines) {
    session_->set_mark_long_lines(options.mark_long_lines, top_row);
  }
  static_cast<void>(
      session_->set_options(IgnoreOptions{.ignore_whitespace = options.ignore_whitespace,
                                          .ignore_line_ends = options.ignore_line_ends},
                            top_row));
}

std::string_view CompareRows::text(std::size_t side, std::size_t row) const {
  const std::size_t at = line(side, row);
  if (at == kNoLine) return {};
  return session_->text(side).lines[at].text.view();
}

std::vector<ByteRange> CompareRows::changed_bytes(std::size_t side, std::size_t row) const {
  std::vector<ByteRange> out;
  for (const RowChars& chars : session_->cell(side, row).changed) {
    out.push_back({chars.range.start, chars.range.length});
  }
  return out;
}

std::string CompareRows::line_end_note(std::size_t side, std::size_t row) const {
  const std::optional<LineEnd> eol = session_->cell(side, row).line_end;
  if (!eol) return {};
  if (*eol == "\r\n") return "CRLF";
  if (*eol == "\n") return "LF";
  if (*eol == "\r") return "CR";
  return "no EOL";
}

std::size_t CompareRows::difference_at_or_after(std::size_t row) const {
  const auto& d = differences();
  for (std::size_t i = 0; i < d.size(); ++i) {
    if (d[i].end > row) return i;
  }
  return d.size();
}

bool CompareRows::identical() const { return session_->texts_identical(); }

std::string file_note(const TextFacts& facts, bool absent) {
  if (absent) return "absent: no such file on this side";
  std::vector<std::string> parts;
  parts.push_back(facts.encoding);
  if (facts.bom) parts.emplace_back("BOM");
  if (facts.lf != 0 && facts.crlf != 0) {
    parts.push_back("mixed line ends (" + std::to_string(facts.lf) + " LF, " +
                    std::to_string(facts.crlf) + " CRLF)");
  } else if (facts.crlf != 0) {
    parts.emplace_back("CRLF");
  } else if (facts.lf != 0) {
    parts.emplace_back("LF");
  }
  if (facts.cr != 0) parts.emplace_back("CR");
  if (facts.returns_inside_lines) {
    parts.emplace_back("carriage returns inside lines, shown as \xE2\x90\x8D");
  }
  if (facts.no_end_at_end) parts.emplace_back("no line end at the end");
  parts.push_back(facts.lines == 1 ? std::string("1 line")
                                   : std::to_string(facts.lines) + " lines");
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
  return !std::filesystem::exists(utf8_path(path), ec);
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

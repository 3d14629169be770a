// The rows a comparison window paints, as the engine's CompareSession lays
// them out (every contributor aligned against contributor 0, each row's
// kind, the changed characters of changed rows, the line ends where they
// differ, the differences), in the terms the panes draw in: a row's text,
// its changed bytes, the note after it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <memory>

#include "engine/compare_session.h"
#include "engine/diff.h"
#include "engine/text_codec.h"

namespace marlow::win32 {

struct CompareOptions {
  bool ignore_line_ends = false;
  bool ignore_whitespace = false;
  // Changed lines longer than kCharDiffLimit bytes get their changed
  // characters found too, not only the stretch where they change.
  bool mark_long_lines = false;
};

// Bytes [start, start + length) of a row's UTF-8 text that changed.
struct ByteRange {
  std::size_t start = 0;
  std::size_t length = 0;
  bool operator==(const ByteRange&) const = default;
};

class CompareRows {
 public:
  CompareRows(std::vector<TextDocument> docs, CompareOptions options);

  std::size_t sides() const { return session_->text_count(); }
  std::size_t rows() const { return session_->row_count(); }
  const CompareOptions& options() const { return options_; }
  const TextDocument& document(std::size_t side) const { return session_->text(side); }
  CompareSession& session() { return *session_; }

  // The line of `side` shown in `row` (0-based), or kNoLine for a filler.
  std::size_t line(std::size_t side, std::size_t row) const {
    return session_->rows().line[side][row];
  }
  CellKind kind(std::size_t side, std::size_t row) const {
    return session_->rows().kind[side][row];
  }
  // The row's text on that side (empty for a filler), without its line end.
  std::string_view text(std::size_t side, std::size_t row) const;
  // The changed bytes of the row's text, sorted and apart; empty unless the
  // row is a changed one.
  std::vector<ByteRange> changed_bytes(std::size_t side, std::size_t row) const;
  // The line end to show after the row's text: "CRLF", "LF", "CR" or
  // "no EOL" when the sides' line ends differ in this row, else empty.
  std::string line_end_note(std::size_t side, std::size_t row) const;

  // Runs [first, end) of rows where some side differs, in order.
  const std::vector<Difference>& differences() const { return session_->differences(); }
  // The difference that holds `row` or comes first after it; the count of
  // differences when none does.
  std::size_t difference_at_or_after(std::size_t row) const;
  // How many changed rows were marked only from their first to their last
  // changed character (too long to mark character by character).
  std::size_t coarse_rows() const { return session_->coarse_rows(); }
  // Whether the texts are equal line by line (line ends included).
  bool identical() const;

  // Lays the rows out again with other options, staying near `top_row`.
  void set_options(CompareOptions options, std::size_t top_row = 0);

 private:
  std::unique_ptr<CompareSession> session_;
  CompareOptions options_;
};

// "UTF-8 · BOM · CRLF · 120 lines": how a file is stored (the session's
// facts of it), for the line over its pane.
std::string file_note(const TextFacts& facts, bool absent);

// Whether a contributor's path names no file (an absent side).
bool is_absent(const std::string& path);

// Where `needle` occurs in `text` from byte `from` on, ignoring the case of
// ASCII letters; npos when nowhere.
std::size_t find_ignoring_case(std::string_view text, std::string_view needle,
                               std::size_t from = 0);

}  // namespace marlow::win32

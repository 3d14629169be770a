// A comparison of two or more texts as every front end shows it: the rows
// the texts are aligned in, what kind each cell is, the changed characters
// inside changed lines, the line ends worth showing, what each text is
// stored as, and the differences with the one the user is at. A window is a
// view over it: it draws what the session says and passes the user's
// choices back. No toolkit types; failures are results, never exceptions.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/diff.h"
#include "engine/ignore_options.h"
#include "engine/inline_diff.h"
#include "engine/text_codec.h"
#include "support/status.h"

namespace marlow {

// What a text is stored as: its encoding and mark, and the line ends found.
struct TextFacts {
  std::string encoding;  // "UTF-8", "UTF-16LE", ... (encoding_name)
  bool bom = false;
  std::size_t lf = 0;  // lines ending in each kind of line end
  std::size_t crlf = 0;
  std::size_t cr = 0;
  bool no_end_at_end = false;         // the last line has no line end
  bool returns_inside_lines = false;  // a carriage return that ends no line
  std::size_t lines = 0;
};

TextFacts text_facts(const TextDocument& doc);

// Changed characters of one row: bytes of the line that row shows.
struct RowChars {
  std::size_t row = 0;
  TextRange range;
};

// Rows [first, end) where some cell is not `same`.
struct Difference {
  std::size_t first = 0;
  std::size_t end = 0;
  bool operator==(const Difference&) const = default;
};

// What one pane shows in one row.
struct Cell {
  std::size_t line = kNoLine;  // 0-based line of that text, or kNoLine (a filler)
  CellKind kind = CellKind::filler;
  std::span<const RowChars> changed;  // the changed characters, in order
  // The line end to show after the line: set only in rows where the texts
  // that have a line there end it differently (they would look the same).
  std::optional<LineEnd> line_end;
};

class CompareSession;

// Told what changed; called on the thread that changed the session.
class CompareObserver {
 public:
  virtual ~CompareObserver() = default;
  // The rows were laid out again (options, marking of long lines): every
  // row, cell and difference may differ. current_changed follows.
  virtual void rows_changed(const CompareSession& session) = 0;
  // The current difference is another one (or none).
  virtual void current_changed(const CompareSession& session) = 0;
};

// One change of a text: lines [first, first + removed.size()) became
// `inserted`. Undone by the reverse replacement.
struct TextEdit {
  std::size_t text = 0;
  std::size_t first = 0;
  std::vector<Line> removed;
  std::vector<Line> inserted;
};

class CompareSession {
 public:
  // Aligns `texts` (text 0 is what the others are compared with). Fails
  // (EINVAL) without any text.
  static support::Result<std::unique_ptr<CompareSession>> open(std::vector<TextDocument> texts,
                                                               const IgnoreOptions& options);
  CompareSession(const CompareSession&) = delete;
  CompareSession& operator=(const CompareSession&) = delete;

  // Observers are told of changes until removed; the session does not own them.
  void add_observer(CompareObserver* observer);
  void remove_observer(CompareObserver* observer);

  std::size_t text_count() const { return texts_.size(); }
  const TextDocument& text(std::size_t index) const { return texts_.at(index); }
  const TextFacts& facts(std::size_t index) const { return facts_.at(index); }
  // Whether every text has the same lines, line ends included.
  bool texts_identical() const;

  // --- The rows.
  std::size_t row_count() const { return rows_.rows; }
  Cell cell(std::size_t text, std::size_t row) const;
  // The same, for a view that takes every row at once.
  const RowAlignment& rows() const { return rows_; }
  // Every changed character of a text, by row.
  const std::vector<RowChars>& changed_chars(std::size_t text) const { return changed_.at(text); }
  // The rows where a text's line end is shown, in order.
  const std::vector<std::size_t>& line_end_rows(std::size_t text) const {
    return line_end_rows_.at(text);
  }
  // The row that shows line `line` of `text`, or nullopt.
  std::optional<std::size_t> row_of_line(std::size_t text, std::size_t line) const;
  // Changed rows whose lines are longer than kCharDiffLimit and only have
  // the stretch from the first to the last changed character marked.
  std::size_t coarse_rows() const { return coarse_rows_; }

  // --- The differences and the one the user is at.
  const std::vector<Difference>& differences() const { return differences_; }
  // The difference holding `row`, or nullopt.
  std::optional<std::size_t> difference_at(std::size_t row) const;
  // The first difference that starts below `row`, and the last that starts
  // above it.
  std::optional<std::size_t> next_difference(std::size_t row) const;
  std::optional<std::size_t> previous_difference(std::size_t row) const;
  // The current difference, or nullopt (also while there is none).
  std::optional<std::size_t> current() const { return current_; }
  // Makes difference `index` current; out of range: EINVAL and no change.
  support::Status go_to(std::size_t index);
  // The next and previous difference from the current one (or, without
  // one, the first and the last); ERANGE past either end.
  support::Status go_next();
  support::Status go_previous();

  // --- What is ignored. Changing it lays the rows out again and keeps the
  // user near where they were: the current difference becomes the first
  // that ends below the old current one's start (or below `top_row`, the
  // first row in view, when there was none), else the last.
  // A line filter that is no valid regular expression: EINVAL, no change.
  const IgnoreOptions& options() const { return options_; }
  support::Status set_options(const IgnoreOptions& options, std::size_t top_row = 0);
  // Changed lines longer than kCharDiffLimit get their characters compared
  // too, or only the stretch where they change (the default).
  bool mark_long_lines() const { return mark_long_lines_; }
  void set_mark_long_lines(bool mark, std::size_t top_row = 0);

  // --- Editing. A text may be changed only once marked writable (its file
  // can be written). Every change re-aligns the rows, makes the difference
  // at or after the changed lines current, and can be undone.
  void set_writable(std::size_t text, bool writable);
  bool writable(std::size_t text) const;
  // Whether the text differs from what it was when opened, reloaded or last
  // marked saved.
  bool modified(std::size_t text) const;
  void mark_saved(std::size_t text);
  // Lines [first, first + count) of `text` become `lines`. EROFS when the
  // text is not writable, EINVAL when the lines are not in it. A line that
  // would stand before another without a line end gets the text's.
  support::Status replace_lines(std::size_t text, std::size_t first, std::size_t count,
                                std::vector<Line> lines);
  // The lines `from` has in the rows of difference `index` replace those
  // `to` has there (inserted where `to` has none), with the line ends of
  // `to` where all its lines end alike.
  support::Status copy_difference(std::size_t index, std::size_t from, std::size_t to);
  // What a pane of `text` holds after the user typed in it: `rows` (UTF-8,
  // one per row) against the rows it was given. The rows that changed
  // become the lines of the text there; a filler row left empty stays a
  // filler. Changed lines keep their line ends, new ones get the usual one.
  support::Status replace_rows(std::size_t text, const std::vector<std::string>& rows);
  // The same for several texts typed in at once, each pair a text and its
  // pane's rows: all are read against the rows the panes were given, so
  // that the first text's new lines do not move the rows of the others.
  // Nothing is changed when any of them is refused. One undo step a text.
  support::Status replace_typed_rows(
      const std::vector<std::pair<std::size_t, std::vector<std::string>>>& typed);
  bool can_undo() const { return !undo_.empty(); }
  bool can_redo() const { return !redo_.empty(); }
  // ERANGE when there is nothing to undo or redo.
  support::Status undo();
  support::Status redo();
  // The text read again (it changed on disk): it replaces the text, is not
  // modified, and its edits can no longer be undone; the options stay and
  // the user stays near `top_row` (or the current difference).
  support::Status reload(std::size_t text, TextDocument doc, std::size_t top_row = 0);
  // The line end the text's lines mostly end in ("\n" when none).
  LineEnd usual_line_end(std::size_t text) const;

 private:
  CompareSession(std::vector<TextDocument> texts, const IgnoreOptions& options);
  void align();
  void relayout_near(std::size_t top_row);
  void find_changed_chars();
  void find_line_end_rows();
  void notify_rows();
  void notify_current();
  // Applies `edit` (removed -> inserted) and re-aligns near its lines.
  void apply(const TextEdit& edit, bool forward);
  // The lines of `text` that its pane's `rows` replace: [first, first +
  // count) by `lines`; nothing when no row changed.
  struct RowsChange {
    std::size_t first = 0;
    std::size_t count = 0;
    std::vector<Line> lines;
  };
  std::optional<RowsChange> rows_change(std::size_t text,
                                        const std::vector<std::string>& rows) const;

  std::vector<TextDocument> texts_;
  std::vector<TextFacts> facts_;
  IgnoreOptions options_;
  bool mark_long_lines_ = false;
  RowAlignment rows_;
  std::vector<Difference> differences_;
  std::vector<std::vector<RowChars>> changed_;           // per text, by row
  std::vector<std::vector<std::size_t>> line_end_rows_;  // per text
  std::size_t coarse_rows_ = 0;
  std::optional<std::size_t> current_;
  std::vector<CompareObserver*> observers_;
  std::vector<bool> writable_;
  std::vector<std::vector<Line>> saved_;  // per text, as last saved or read
  std::vector<TextEdit> undo_;
  std::vector<TextEdit> redo_;
};

}  // namespace marlow

#include "engine/compare_session.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace marlow {

namespace {

// A request the session cannot carry out: what is wrong, and the errno
// value a front end tells the kinds apart by.
support::Status refused(const char* why, int code) { return support::Status::failure(why, code); }

// Sorted, merged union of ranges.
std::vector<TextRange> merged(std::vector<TextRange> ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const TextRange& a, const TextRange& b) { return a.start < b.start; });
  std::vector<TextRange> out;
  for (const TextRange& r : ranges) {
    if (!out.empty() && r.start <= out.back().start + out.back().length) {
      const std::size_t end = std::max(out.back().start + out.back().length, r.start + r.length);
      out.back().length = end - out.back().start;
    } else {
      out.push_back(r);
    }
  }
  return out;
}

bool row_less(const RowChars& a, const RowChars& b) { return a.row < b.row; }

}  // namespace

TextFacts text_facts(const TextDocument& doc) {
  TextFacts facts;
  facts.encoding = encoding_name(doc.encoding);
  facts.bom = doc.bom;
  facts.lines = doc.lines.size();
  for (const Line& line : doc.lines) {
    if (line.eol == "\r\n") ++facts.crlf;
    if (line.eol == "\n") ++facts.lf;
    if (line.eol == "\r") ++facts.cr;
    if (!facts.returns_inside_lines && line.text.find('\r') != std::string_view::npos) {
      facts.returns_inside_lines = true;
    }
  }
  facts.no_end_at_end = !doc.lines.empty() && doc.lines.back().eol.empty();
  return facts;
}

support::Result<std::unique_ptr<CompareSession>> CompareSession::open(
    std::vector<TextDocument> texts, const IgnoreOptions& options) {
  if (texts.empty()) return refused("there is no text to compare", EINVAL);
  return std::unique_ptr<CompareSession>(new CompareSession(std::move(texts), options));
}

CompareSession::CompareSession(std::vector<TextDocument> texts, const IgnoreOptions& options)
    : texts_(std::move(texts)), options_(options) {
  facts_.reserve(texts_.size());
  for (const TextDocument& doc : texts_) {
    facts_.push_back(text_facts(doc));
    saved_.push_back(doc.lines);
  }
  writable_.assign(texts_.size(), false);
  align();
}

void CompareSession::add_observer(CompareObserver* observer) {
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
    observers_.push_back(observer);
  }
}

void CompareSession::remove_observer(CompareObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

bool CompareSession::texts_identical() const {
  return std::all_of(texts_.begin(), texts_.end(),
                     [this](const TextDocument& doc) { return doc.lines == texts_[0].lines; });
}

void CompareSession::align() {
  std::vector<std::vector<Line>> lines;
  lines.reserve(texts_.size());
  for (const TextDocument& doc : texts_) lines.push_back(doc.lines);
  // The rows index the lines as they are, which the views show.
  rows_ = align_rows(lines, options_);
  differences_.clear();
  differences_.reserve(rows_.differences.size());
  for (const auto& [first, end] : rows_.differences) differences_.push_back({first, end});
  current_.reset();
  find_changed_chars();
  find_line_end_rows();
}

void CompareSession::find_changed_chars() {
  // Each text's changed characters against text 0; text 0 shows the
  // characters that any of the others changed.
  const std::size_t n = texts_.size();
  changed_.assign(n, {});
  coarse_rows_ = 0;
  for (const Difference& d : differences_) {
    for (std::size_t row = d.first; row < d.end; ++row) {
      if (rows_.kind[0][row] != CellKind::changed) continue;
      const LineText& base = texts_[0].lines[rows_.line[0][row]].text;
      std::vector<TextRange> base_ranges;
      bool coarse = false;
      for (std::size_t s = 1; s < n; ++s) {
        if (rows_.kind[s][row] != CellKind::changed) continue;
        const LineText& other = texts_[s].lines[rows_.line[s][row]].text;
        InlineDiff diff;
        if (options_.ignore_case) {
          // Folding keeps every byte offset: the ranges fit the lines as they are.
          diff = diff_chars_within_limit(folded_case(base), folded_case(other), mark_long_lines_,
                                         &coarse);
        } else {
          diff = diff_chars_within_limit(base, other, mark_long_lines_, &coarse);
        }
        if (options_.ignore_whitespace || options_.ignore_whitespace_amount) {
          drop_blank_ranges(&diff, base, other);
        }
        for (const TextRange& r : diff.other) changed_[s].push_back({row, r});
        base_ranges.insert(base_ranges.end(), diff.base.begin(), diff.base.end());
      }
      for (const TextRange& r : merged(std::move(base_ranges))) changed_[0].push_back({row, r});
      if (coarse) ++coarse_rows_;
    }
  }
}

void CompareSession::find_line_end_rows() {
  // Rows whose line ends differ between the texts that have a line there
  // show each text's line end: otherwise they would look identical.
  const std::size_t n = texts_.size();
  line_end_rows_.assign(n, {});
  for (std::size_t row = 0; row < rows_.rows; ++row) {
    const LineEnd* first = nullptr;
    bool differ = false;
    for (std::size_t s = 0; s < n && !differ; ++s) {
      if (rows_.line[s][row] == kNoLine) continue;
      const LineEnd& eol = texts_[s].lines[rows_.line[s][row]].eol;
      if (first == nullptr) first = &eol;
      differ = eol != *first;
    }
    if (!differ) continue;
    for (std::size_t s = 0; s < n; ++s) {
      if (rows_.line[s][row] != kNoLine) line_end_rows_[s].push_back(row);
    }
  }
}

Cell CompareSession::cell(std::size_t text, std::size_t row) const {
  Cell cell;
  if (text >= texts_.size() || row >= rows_.rows) return cell;
  cell.line = rows_.line[text][row];
  cell.kind = rows_.kind[text][row];
  const std::vector<RowChars>& chars = changed_[text];
  const auto [from, to] = std::equal_range(chars.begin(), chars.end(), RowChars{row, {}}, row_less);
  cell.changed = std::span<const RowChars>(chars).subspan(
      static_cast<std::size_t>(from - chars.begin()), static_cast<std::size_t>(to - from));
  const std::vector<std::size_t>& ends = line_end_rows_[text];
  if (std::binary_search(ends.begin(), ends.end(), row)) {
    cell.line_end = texts_[text].lines[cell.line].eol;
  }
  return cell;
}

std::optional<std::size_t> CompareSession::row_of_line(std::size_t text, std::size_t line) const {
  if (text >= texts_.size() || line >= texts_[text].lines.size()) return std::nullopt;
  // Rows show a text's lines in order: the row is found by bisection.
  const std::vector<std::size_t>& lines = rows_.line[text];
  std::size_t low = 0;
  std::size_t high = rows_.rows;
  while (low < high) {
    const std::size_t mid = low + (high - low) / 2;
    // A filler row takes its place after the line above it.
    std::size_t at = mid;
    while (at < high && lines[at] == kNoLine) ++at;
    if (at == high) {
      high = mid;
    } else if (lines[at] < line) {
      low = at + 1;
    } else if (lines[at] > line) {
      high = mid;
    } else {
      return at;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> CompareSession::difference_at(std::size_t row) const {
  const auto it = std::upper_bound(differences_.begin(), differences_.end(), row,
                                   [](std::size_t r, const Difference& d) { return r < d.end; });
  if (it == differences_.end() || row < it->first) return std::nullopt;
  return static_cast<std::size_t>(it - differences_.begin());
}

std::optional<std::size_t> CompareSession::next_difference(std::size_t row) const {
  const auto it = std::upper_bound(differences_.begin(), differences_.end(), row,
                                   [](std::size_t r, const Difference& d) { return r < d.first; });
  if (it == differences_.end()) return std::nullopt;
  return static_cast<std::size_t>(it - differences_.begin());
}

std::optional<std::size_t> CompareSession::previous_difference(std::size_t row) const {
  const auto it = std::lower_bound(differences_.begin(), differences_.end(), row,
                                   [](const Difference& d, std::size_t r) { return d.first < r; });
  if (it == differences_.begin()) return std::nullopt;
  return static_cast<std::size_t>(it - differences_.begin()) - 1;
}

support::Status CompareSession::go_to(std::size_t index) {
  if (index >= differences_.size()) return refused("there is no such difference", EINVAL);
  if (current_ != index) {
    current_ = index;
    notify_current();
  }
  return {};
}

support::Status CompareSession::go_next() {
  const std::size_t next = current_ ? *current_ + 1 : 0;
  if (next >= differences_.size()) return refused("there is no difference further down", ERANGE);
  return go_to(next);
}

support::Status CompareSession::go_previous() {
  if (differences_.empty() || (current_ && *current_ == 0)) {
    return refused("there is no difference further up", ERANGE);
  }
  return go_to(current_ ? *current_ - 1 : differences_.size() - 1);
}

support::Status CompareSession::set_options(const IgnoreOptions& options, std::size_t top_row) {
  if (!valid_line_filter(options.line_filter)) {
    return refused("the line filter is not a valid pattern", EINVAL);
  }
  if (options == options_) return {};
  options_ = options;
  relayout_near(top_row);
  return {};
}

void CompareSession::set_mark_long_lines(bool mark, std::size_t top_row) {
  if (mark == mark_long_lines_) return;
  mark_long_lines_ = mark;
  relayout_near(top_row);
}

void CompareSession::relayout_near(std::size_t top_row) {
  const std::size_t from = current_ ? differences_[*current_].first : top_row;
  align();
  notify_rows();
  if (differences_.empty()) {
    notify_current();
    return;
  }
  std::size_t next = differences_.size() - 1;
  for (std::size_t i = 0; i < differences_.size(); ++i) {
    if (differences_[i].end > from) {
      next = i;
      break;
    }
  }
  current_ = next;
  notify_current();
}

void CompareSession::set_writable(std::size_t text, bool writable) {
  if (text < writable_.size()) writable_[text] = writable;
}

bool CompareSession::writable(std::size_t text) const {
  return text < writable_.size() && writable_[text];
}

bool CompareSession::modified(std::size_t text) const {
  return text < texts_.size() && texts_[text].lines != saved_[text];
}

void CompareSession::mark_saved(std::size_t text) {
  if (text < texts_.size()) saved_[text] = texts_[text].lines;
}

LineEnd CompareSession::usual_line_end(std::size_t text) const {
  if (text >= facts_.size()) return LineEnd("\n");
  const TextFacts& f = facts_[text];
  if (f.crlf > f.lf && f.crlf >= f.cr) return LineEnd("\r\n");
  if (f.cr > f.lf && f.cr > f.crlf) return LineEnd("\r");
  return LineEnd("\n");
}

support::Status CompareSession::replace_lines(std::size_t text, std::size_t first,
                                              std::size_t count, std::vector<Line> lines) {
  if (text >= texts_.size()) return refused("there are no such lines", EINVAL);
  if (!writable(text)) return refused("that file cannot be written", EROFS);
  const std::vector<Line>& now = texts_[text].lines;
  if (first > now.size() || count > now.size() - first) {
    return refused("there are no such lines", EINVAL);
  }
  // No line may end up joined to the next one: every line that has another
  // after it ends in a line end.
  const LineEnd usual = usual_line_end(text);
  const bool more_after = first + count < now.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].eol.empty() && (i + 1 < lines.size() || more_after)) lines[i].eol = usual;
  }
  TextEdit edit{text,
                first,
                {now.begin() + static_cast<std::ptrdiff_t>(first),
                 now.begin() + static_cast<std::ptrdiff_t>(first + count)},
                std::move(lines)};
  // The line before the change ends in a line end when lines follow it.
  if (first > 0 && now[first - 1].eol.empty() && !edit.inserted.empty()) {
    edit.first = first - 1;
    edit.removed.insert(edit.removed.begin(), now[first - 1]);
    Line before = now[first - 1];
    before.eol = usual;
    edit.inserted.insert(edit.inserted.begin(), before);
  }
  if (edit.removed == edit.inserted) return {};
  apply(edit, true);
  undo_.push_back(std::move(edit));
  redo_.clear();
  return {};
}

support::Status CompareSession::copy_difference(std::size_t index, std::size_t from,
                                                std::size_t to) {
  if (index >= differences_.size() || from >= texts_.size() || to >= texts_.size() || from == to) {
    return refused("there is no such difference or side", EINVAL);
  }
  if (!writable(to)) return refused("that file cannot be written", EROFS);
  const Difference d = differences_[index];
  // The lines each text has in the rows, and where `to` would take lines
  // when it has none there: before its next line below them.
  const auto lines_in = [this, d](std::size_t text) {
    std::size_t first = kNoLine;
    std::size_t end = 0;
    for (std::size_t row = d.first; row < d.end; ++row) {
      const std::size_t line = rows_.line[text][row];
      if (line == kNoLine) continue;
      if (first == kNoLine) first = line;
      end = line + 1;
    }
    if (first == kNoLine) {
      first = texts_[text].lines.size();
      for (std::size_t row = d.end; row < rows_.rows; ++row) {
        if (rows_.line[text][row] != kNoLine) {
          first = rows_.line[text][row];
          break;
        }
      }
      end = first;
    }
    return std::pair<std::size_t, std::size_t>(first, end);
  };
  const auto [from_first, from_end] = lines_in(from);
  const auto [to_first, to_end] = lines_in(to);
  const std::vector<Line>& source = texts_[from].lines;
  std::vector<Line> lines(source.begin() + static_cast<std::ptrdiff_t>(from_first),
                          source.begin() + static_cast<std::ptrdiff_t>(from_end));
  // The copy takes the line ends of the text it goes into when that text
  // ends all its lines alike.
  const TextFacts& f = facts_[to];
  const int kinds = (f.lf != 0 ? 1 : 0) + (f.crlf != 0 ? 1 : 0) + (f.cr != 0 ? 1 : 0);
  if (kinds == 1) {
    const LineEnd usual = usual_line_end(to);
    for (Line& line : lines) {
      if (!line.eol.empty()) line.eol = usual;
    }
  }
  return replace_lines(to, to_first, to_end - to_first, std::move(lines));
}

support::Status CompareSession::replace_rows(std::size_t text,
                                             const std::vector<std::string>& rows) {
  return replace_typed_rows({{text, rows}});
}

support::Status CompareSession::replace_typed_rows(
    const std::vector<std::pair<std::size_t, std::vector<std::string>>>& typed) {
  std::vector<bool> seen(texts_.size());
  for (const auto& [text, rows] : typed) {
    if (text >= texts_.size() || seen[text]) return refused("there is no such text", EINVAL);
    if (!writable(text)) return refused("that file cannot be written", EROFS);
    seen[text] = true;
  }
  std::vector<std::pair<std::size_t, RowsChange>> changes;
  for (const auto& [text, rows] : typed) {
    if (std::optional<RowsChange> change = rows_change(text, rows))
      changes.emplace_back(text, std::move(*change));
  }
  // Each change is to a text of its own: its line numbers stay valid
  // whatever the others do to the rows.
  for (auto& [text, change] : changes) {
    const support::Status done =
        replace_lines(text, change.first, change.count, std::move(change.lines));
    if (!done) return done;
  }
  return {};
}

std::optional<CompareSession::RowsChange> CompareSession::rows_change(
    std::size_t text, const std::vector<std::string>& rows) const {
  const std::vector<Line>& lines = texts_[text].lines;
  const std::vector<std::size_t>& shown = rows_.line[text];
  const auto old_row = [&](std::size_t row) {
    return shown[row] == kNoLine ? std::string_view() : lines[shown[row]].text.view();
  };
  // The rows that changed: those between the common start and end.
  const std::size_t old_count = rows_.rows;
  const std::size_t new_count = rows.size();
  std::size_t head = 0;
  while (head < old_count && head < new_count && rows[head] == old_row(head)) ++head;
  std::size_t tail = 0;
  while (tail < old_count - head && tail < new_count - head &&
         rows[new_count - 1 - tail] == old_row(old_count - 1 - tail)) {
    ++tail;
  }
  if (head == old_count && head == new_count) return std::nullopt;
  // The lines in the changed rows, or where lines would go when none are.
  std::size_t first = kNoLine;
  std::size_t end = 0;
  for (std::size_t row = head; row < old_count - tail; ++row) {
    if (shown[row] == kNoLine) continue;
    if (first == kNoLine) first = shown[row];
    end = shown[row] + 1;
  }
  if (first == kNoLine) {
    first = lines.size();
    for (std::size_t row = old_count - tail; row < old_count; ++row) {
      if (shown[row] != kNoLine) {
        first = shown[row];
        break;
      }
    }
    end = first;
  }
  const LineEnd usual = usual_line_end(text);
  std::vector<Line> typed;
  for (std::size_t k = 0; head + k < new_count - tail; ++k) {
    const std::size_t row = head + k;
    const bool over_old = row < old_count - tail;
    if (over_old && shown[row] == kNoLine && rows[row].empty()) continue;
    const LineEnd eol = over_old && shown[row] != kNoLine ? lines[shown[row]].eol : usual;
    typed.push_back(Line{LineText(rows[row]), eol});
  }
  // The text's last line keeps having no line end when it had none.
  if (end == lines.size() && !lines.empty() && lines.back().eol.empty() && !typed.empty()) {
    typed.back().eol = LineEnd();
  }
  return RowsChange{first, end - first, std::move(typed)};
}

void CompareSession::apply(const TextEdit& edit, bool forward) {
  const std::vector<Line>& out = forward ? edit.removed : edit.inserted;
  const std::vector<Line>& in = forward ? edit.inserted : edit.removed;
  std::vector<Line>& lines = texts_[edit.text].lines;
  const auto at = lines.begin() + static_cast<std::ptrdiff_t>(edit.first);
  lines.erase(at, at + static_cast<std::ptrdiff_t>(out.size()));
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(edit.first), in.begin(), in.end());
  facts_[edit.text] = text_facts(texts_[edit.text]);
  // The user stays at the changed lines: the difference there, or the next.
  const TextDocument& doc = texts_[edit.text];
  align();
  notify_rows();
  std::optional<std::size_t> row;
  for (std::size_t line = std::min(edit.first, doc.lines.size()); !row && line < doc.lines.size();
       ++line) {
    row = row_of_line(edit.text, line);
  }
  const std::size_t from = row ? *row : rows_.rows;
  current_.reset();
  for (std::size_t i = 0; i < differences_.size(); ++i) {
    if (differences_[i].end > from) {
      current_ = i;
      break;
    }
  }
  if (!current_ && !differences_.empty()) current_ = differences_.size() - 1;
  notify_current();
}

support::Status CompareSession::undo() {
  if (undo_.empty()) return refused("there is nothing to undo", ERANGE);
  TextEdit edit = std::move(undo_.back());
  undo_.pop_back();
  apply(edit, false);
  redo_.push_back(std::move(edit));
  return {};
}

support::Status CompareSession::redo() {
  if (redo_.empty()) return refused("there is nothing to redo", ERANGE);
  TextEdit edit = std::move(redo_.back());
  redo_.pop_back();
  apply(edit, true);
  undo_.push_back(std::move(edit));
  return {};
}

support::Status CompareSession::reload(std::size_t text, TextDocument doc, std::size_t top_row) {
  if (text >= texts_.size()) return refused("there is no such text", EINVAL);
  texts_[text] = std::move(doc);
  facts_[text] = text_facts(texts_[text]);
  saved_[text] = texts_[text].lines;
  // Edits of the old text no longer fit the new one.
  const auto of_text = [text](const TextEdit& e) { return e.text == text; };
  std::erase_if(undo_, of_text);
  std::erase_if(redo_, of_text);
  relayout_near(top_row);
  return {};
}

void CompareSession::notify_rows() {
  // A copy: an observer may remove itself while told.
  const std::vector<CompareObserver*> observers = observers_;
  for (CompareObserver* o : observers) o->rows_changed(*this);
}

void CompareSession::notify_current() {
  const std::vector<CompareObserver*> observers = observers_;
  for (CompareObserver* o : observers) o->current_changed(*this);
}

}  // namespace marlow

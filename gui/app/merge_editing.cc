// The merge window as an editor: typing anywhere in the merged result, a
// side taken for one block of a conflict, clean changes one after the
// other, the panes' menus, and merging again with blanks or line ends
// ignored.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

#include "app/keys.h"
#include "app/merge_window.h"
#include "app/panes.h"
#include "app/settings.h"

namespace marlow {
namespace {

// Two bits per block in a block-wise resolution's `side`: which of the two
// changed sides a block takes (0: not chosen yet).
constexpr std::size_t kMaxBlocks = sizeof(std::size_t) * 4;

std::size_t block_choice(std::size_t mask, std::size_t block) { return (mask >> (2 * block)) & 3U; }

std::size_t with_choice(std::size_t mask, std::size_t block, std::size_t choice) {
  return (mask & ~(std::size_t{3} << (2 * block))) | (choice << (2 * block));
}

// The blocks in which the two changed sides differ.
std::size_t changed_blocks(const std::vector<Block>& blocks) {
  return static_cast<std::size_t>(std::count_if(
      blocks.begin(), blocks.end(), [](const Block& b) { return b.kind != BlockKind::same; }));
}

}  // namespace

int MergeWindow::region_at_result_row(int row) const {
  // The last region starting at or before the row; regions without rows
  // share their start with the next one, which holds the row.
  auto after = std::upper_bound(result_rows_.begin(), result_rows_.end(), row,
                                [](int r, const Rows& rows) { return r < rows.first; });
  auto region = static_cast<int>(after - result_rows_.begin()) - 1;
  while (region > 0 && result_rows_[static_cast<std::size_t>(region)].count == 0) --region;
  return std::max(0, region);
}

std::vector<Line> MergeWindow::lines_from_rows(const QStringList& rows,
                                               std::size_t region_index) const {
  std::vector<Line> lines;
  lines.reserve(static_cast<std::size_t>(rows.size()));
  for (const QString& row : rows)
    lines.push_back(Line{typed_line(row, returns_inside_lines_), plan_.line_end});
  // The text's last line ends as the last region's own lines end, so that
  // a hand edit keeps (or leaves out) the final line end.
  const Region& region = plan_.regions[region_index];
  const bool sides_end_lines = std::any_of(
      region.sides.begin(), region.sides.end(),
      [](const std::vector<Line>& side) { return !side.empty() && !side.back().eol.empty(); });
  if (!lines.empty() && region_index + 1 == plan_.regions.size() && !sides_end_lines) {
    lines.back().eol.clear();
  }
  return lines;
}

void MergeWindow::result_typed(int position, int /*removed*/, int added) {
  if (moving_ || updating_ || result_rows_.empty()) return;
  QTextDocument* doc = result_view_->document();
  const int old_total = result_rows_.back().first + result_rows_.back().count;
  // The rows the edit replaced: from the row it starts in, as many as line
  // breaks it removed; the line breaks it removed are those it added less
  // the rows the document gained.
  const int delta = doc->blockCount() - std::max(old_total, 1);
  int added_breaks = 0;
  const int end = std::min(position + added, doc->characterCount() - 1);
  for (int i = position; i < end; ++i) {
    if (doc->characterAt(i) == QChar::ParagraphSeparator) ++added_breaks;
  }
  const int first_row = doc->findBlock(position).blockNumber();
  std::size_t r1 = plan_.regions.size() - 1;
  std::size_t r2 = r1;
  if (old_total > 0) {
    r1 = static_cast<std::size_t>(region_at_result_row(first_row));
    r2 = std::max(r1,
                  static_cast<std::size_t>(region_at_result_row(first_row + added_breaks - delta)));
  }
  // An edit that put text on a suggestion's rows other than by a key (a
  // drop, a program): the conflict gets what was put in, none of the
  // suggestion, and the view is made afresh from the choices.
  for (std::size_t r = r1; r <= r2; ++r) {
    if (suggestion_shown(r) == nullptr) continue;
    QString put;
    for (int i = position; i < end; ++i) {
      const QChar ch = doc->characterAt(i);
      put += ch == QChar::ParagraphSeparator ? QChar(QLatin1Char('\n')) : ch;
    }
    // Rows only taken out (a cut) are handled as anywhere else: a conflict
    // whose rows all went is settled with none.
    if (put.isEmpty()) break;
    settle_many({{r, Resolution{Resolution::Kind::edited, 0,
                                lines_from_rows(put.split(QLatin1Char('\n')), r)}}},
                true, true);
    current_ = conflict_of_region(r);
    editing_clean_ = false;
    moving_ = true;
    build_result_view();
    const Rows rows = result_rows_[r];
    QTextCursor cursor(doc->findBlockByNumber(rows.first + std::max(rows.count, 1) - 1));
    cursor.movePosition(QTextCursor::EndOfBlock);
    result_view_->setTextCursor(cursor);
    moving_ = false;
    refill_editor();
    update_views(false, false);
    return;
  }
  // The old rows of the regions touched, each with its region and line.
  QStringList old_rows;
  std::vector<std::size_t> owner;
  std::vector<std::optional<Line>> old_lines;
  for (std::size_t r = r1; r <= r2; ++r) {
    const std::optional<std::vector<Line>> lines = region_lines(r);
    const QStringList rows = result_rows_of(r);
    for (qsizetype i = 0; i < rows.size(); ++i) {
      old_rows.append(rows[i]);
      owner.push_back(r);
      old_lines.push_back(lines ? std::optional<Line>((*lines)[static_cast<std::size_t>(i)])
                                : std::nullopt);
    }
  }
  const int span_first = result_rows_[r1].first;
  const bool empty_document = doc->blockCount() == 1 && doc->firstBlock().text().isEmpty();
  const int new_count = old_total == 0 ? (empty_document ? 0 : doc->blockCount())
                                       : static_cast<int>(old_rows.size()) + delta;
  QStringList new_rows;
  for (QTextBlock b = doc->findBlockByNumber(span_first);
       b.isValid() && new_rows.size() < new_count; b = b.next()) {
    new_rows.append(b.text());
  }
  if (new_count < 0 || new_rows.size() != new_count) {
    // Never expected: the view is made afresh from the choices, so that it
    // and the regions' rows cannot part.
    moving_ = true;
    build_result_view();
    moving_ = false;
    update_views(false, false);
    return;
  }
  // Rows the same before and after at either end stay with their regions;
  // the rows between go to the region where the change starts.
  const auto n_old = static_cast<std::size_t>(old_rows.size());
  const auto n_new = static_cast<std::size_t>(new_rows.size());
  std::size_t head = 0;
  while (head < n_old && head < n_new &&
         old_rows[static_cast<qsizetype>(head)] == new_rows[static_cast<qsizetype>(head)])
    ++head;
  std::size_t tail = 0;
  while (tail < n_old - head && tail < n_new - head &&
         old_rows[static_cast<qsizetype>(n_old - 1 - tail)] ==
             new_rows[static_cast<qsizetype>(n_new - 1 - tail)]) {
    ++tail;
  }
  if (head == n_old && head == n_new) return;  // no row changed
  std::size_t target = r1;
  if (head < n_old - tail) {
    target = owner[head];
  } else if (head > 0 && owner[head - 1] != r1 && head < n_old) {
    target = owner[head];  // rows put in before a region's first row
  } else if (head > 0) {
    target = owner[head - 1];
  }
  std::vector<std::vector<Line>> lines(r2 - r1 + 1);
  std::vector<bool> changed(r2 - r1 + 1, false);
  const auto keep = [&](std::size_t i) {
    lines[owner[i] - r1].push_back(
        old_lines[i] ? *old_lines[i]
                     : Line{old_rows[static_cast<qsizetype>(i)].toStdString(), plan_.line_end});
  };
  for (std::size_t i = 0; i < head; ++i) keep(i);
  QStringList typed;
  for (std::size_t i = head; i < n_new - tail; ++i)
    typed.append(new_rows[static_cast<qsizetype>(i)]);
  const std::vector<Line> typed_lines = lines_from_rows(typed, target);
  lines[target - r1].insert(lines[target - r1].end(), typed_lines.begin(), typed_lines.end());
  changed[target - r1] = true;
  for (std::size_t i = head; i < n_old - tail; ++i) changed[owner[i] - r1] = true;
  for (std::size_t i = n_old - tail; i < n_old; ++i) keep(i);
  std::vector<std::pair<std::size_t, Resolution>> changes;
  for (std::size_t r = r1; r <= r2; ++r) {
    if (!changed[r - r1]) continue;
    std::vector<Line>& region = lines[r - r1];
    // Every line but the text's very last ends in a line end.
    const bool text_end = r + 1 == plan_.regions.size();
    for (std::size_t i = 0; i < region.size(); ++i) {
      if (region[i].eol.empty() && !(text_end && i + 1 == region.size()))
        region[i].eol = plan_.line_end;
    }
    if (text_end && !region.empty()) region.back().eol = lines_from_rows({QString()}, r).back().eol;
    changes.emplace_back(r, Resolution{Resolution::Kind::edited, 0, std::move(region)});
  }
  settle_many(std::move(changes), true, true);
  for (std::size_t r = r1; r <= r2; ++r) {
    result_rows_[r].count = static_cast<int>(result_rows_of(r).size());
    if (r > 0) result_rows_[r].first = result_rows_[r - 1].first + result_rows_[r - 1].count;
  }
  for (std::size_t r = r2 + 1; r < result_rows_.size(); ++r) result_rows_[r].first += delta;
  if (plan_.regions[target].kind == RegionKind::conflict) {
    current_ = conflict_of_region(target);
    editing_clean_ = false;
  }
  refill_editor();
  update_views(false, false);
}

// ---------------------------------------------------------------------------
// Blocks of a conflict.

std::vector<Block> MergeWindow::conflict_alignment(std::size_t conflict) const {
  const std::size_t first = plan_.has_base ? 1 : 0;
  if (conflict >= conflict_regions_.size()) return {};
  const Region& region = plan_.regions[conflict_regions_[conflict]];
  if (region.sides.size() != first + 2) return {};
  return align(region.sides[first], region.sides[first + 1]);
}

std::size_t MergeWindow::block_count(std::size_t conflict) const {
  return changed_blocks(conflict_alignment(conflict));
}

void MergeWindow::take_block_at(std::size_t block, std::size_t side) {
  if (conflict_regions_.empty()) return;
  const std::size_t first = plan_.has_base ? 1 : 0;
  const std::vector<Block> blocks = conflict_alignment(current_);
  const std::size_t count = changed_blocks(blocks);
  if (side < first || side > first + 1 || block >= count) return;
  if (count > kMaxBlocks) {
    show_message(
        tr("This conflict has too many blocks to take one by one: take a side or edit it."));
    return;
  }
  // The choices so far: a side taken whole counts for every block.
  const Resolution& now = resolutions_[current_];
  std::size_t mask = 0;
  if (now.kind == Resolution::Kind::take && (now.side == first || now.side == first + 1)) {
    for (std::size_t k = 0; k < count; ++k) mask = with_choice(mask, k, now.side - first + 1);
  } else if (now.kind == Resolution::Kind::unresolved || now.kind == Resolution::Kind::edited) {
    mask = now.side;
  }
  mask = with_choice(mask, block, side - first + 1);
  const Region& region = plan_.regions[conflict_regions_[current_]];
  std::vector<Line> lines;
  bool complete = true;
  std::size_t k = 0;
  for (const Block& b : blocks) {
    std::size_t from = first;
    if (b.kind != BlockKind::same) {
      const std::size_t choice = block_choice(mask, k++);
      complete = complete && choice != 0;
      from = choice == 2 ? first + 1 : first;
    }
    const std::vector<Line>& lines_of = region.sides[from];
    const std::size_t start = from == first ? b.left_start : b.right_start;
    const std::size_t n = from == first ? b.left_count : b.right_count;
    lines.insert(lines.end(), lines_of.begin() + static_cast<std::ptrdiff_t>(start),
                 lines_of.begin() + static_cast<std::ptrdiff_t>(start + n));
  }
  // Until every block is chosen the conflict stays unsettled, its choices
  // kept; then it holds the lines the blocks make.
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].eol.empty()) lines[i].eol = plan_.line_end;
  }
  settle(complete ? Resolution{Resolution::Kind::edited, mask, std::move(lines)}
                  : Resolution{Resolution::Kind::unresolved, mask, {}});
  refresh(true, true);
}

std::size_t MergeWindow::blocks_chosen(std::size_t conflict) const {
  if (conflict >= resolutions_.size()) return 0;
  const Resolution& r = resolutions_[conflict];
  if (r.kind != Resolution::Kind::unresolved && r.kind != Resolution::Kind::edited) return 0;
  std::size_t n = 0;
  for (std::size_t k = 0; k < kMaxBlocks; ++k) n += block_choice(r.side, k) != 0 ? 1 : 0;
  return n;
}

std::vector<int> MergeWindow::block_lines_taken(std::size_t conflict, std::size_t side) const {
  const std::size_t first = plan_.has_base ? 1 : 0;
  if (blocks_chosen(conflict) == 0 || side < first || side > first + 1) return {};
  const Region& region = plan_.regions[conflict_regions_[conflict]];
  std::vector<int> marks(region.sides[side].size(), -1);
  std::size_t k = 0;
  for (const Block& b : conflict_alignment(conflict)) {
    if (b.kind == BlockKind::same) continue;
    const std::size_t choice = block_choice(resolutions_[conflict].side, k++);
    if (choice == 0) continue;
    const std::size_t start = side == first ? b.left_start : b.right_start;
    const std::size_t n = side == first ? b.left_count : b.right_count;
    for (std::size_t i = start; i < start + n && i < marks.size(); ++i) {
      marks[i] = choice == side - first + 1 ? 1 : 0;
    }
  }
  return marks;
}

void MergeWindow::take_block(std::size_t side) {
  if (conflict_regions_.empty()) return;
  const std::size_t first = plan_.has_base ? 1 : 0;
  const std::vector<Block> blocks = conflict_alignment(current_);
  const std::size_t count = changed_blocks(blocks);
  if (count == 0) return;
  // The block under the cursor of a contributor's pane; else the first
  // block not chosen yet.
  std::size_t block = count;
  const auto pane = std::find(panes_.begin(), panes_.end(), last_view_);
  const Rows rows = pane_rows_[conflict_regions_[current_]];
  if (pane != panes_.end()) {
    const int line = last_view_->textCursor().blockNumber() - rows.first;
    const bool right = static_cast<std::size_t>(pane - panes_.begin()) == first + 1;
    if (line >= 0 && line < rows.count) {
      std::size_t k = 0;
      for (const Block& b : blocks) {
        if (b.kind == BlockKind::same) continue;
        const std::size_t start = right ? b.right_start : b.left_start;
        const std::size_t n = right ? b.right_count : b.left_count;
        if (static_cast<std::size_t>(line) < start + std::max<std::size_t>(n, 1)) {
          block = k;
          break;
        }
        ++k;
      }
      if (block == count) block = count - 1;
    }
  }
  if (block == count) {
    const std::size_t mask = resolutions_[current_].kind == Resolution::Kind::unresolved
                                 ? resolutions_[current_].side
                                 : 0;
    block = 0;
    while (block + 1 < count && block_choice(mask, block) != 0) ++block;
  }
  take_block_at(block, side);
}

// ---------------------------------------------------------------------------
// Clean changes one after the other.

bool MergeWindow::go_to_clean_change(bool forward) {
  const std::size_t n = plan_.regions.size();
  std::size_t from = clean_at_ < n               ? clean_at_
                     : conflict_regions_.empty() ? (forward ? n - 1 : 0)
                                                 : conflict_regions_[current_];
  for (std::size_t i = 1; i <= n; ++i) {
    const std::size_t r = forward ? (from + i) % n : (from + n - i) % n;
    if (plan_.regions[r].kind != RegionKind::changed) continue;
    edit_clean_change(r);
    show_region(r);
    update_views(false, false);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Blanks and line ends ignored.

void MergeWindow::set_ignoring(bool whitespace, bool line_ends) {
  {
    const QSignalBlocker quiet_blanks(whitespace_box_);
    const QSignalBlocker quiet_ends(line_ends_box_);
    whitespace_box_->setChecked(whitespace);
    line_ends_box_->setChecked(line_ends);
  }
  if (whitespace == ignoring_.ignore_whitespace && line_ends == ignoring_.ignore_line_ends) return;
  set_ignore_whitespace_preference(whitespace);
  set_ignore_line_ends_preference(line_ends);
  ignoring_ = IgnoreOptions{whitespace, line_ends};
  replan();
}

void MergeWindow::replan() {
  plan_regions();
  moving_ = true;
  build_panes();
  build_result_view();
  moving_ = false;
  const bool any = !conflict_regions_.empty();
  for (QPushButton* b : take_buttons_) b->setEnabled(any);
  take_all_button_->setEnabled(any);
  editor_->setEnabled(any);
  if (!any) disable_conflict_controls();
  unsaved_choices_ = false;
  refresh(true, true);
  show_message(tr("Merged again: %n conflict(s).", "", static_cast<int>(conflict_regions_.size())));
}

bool MergeWindow::confirm_replan() {
  if (!ask_on_close_ || !isVisible() || done_ == 0) return true;
  return QMessageBox::question(this, tr("Merge again"),
                               tr("Merging again drops the choices made so far. Go on?")) ==
         QMessageBox::Yes;
}

// ---------------------------------------------------------------------------
// Menus.

void MergeWindow::add_context_menus() {
  std::vector<QPlainTextEdit*> views = panes_;
  views.push_back(result_view_);
  for (QPlainTextEdit* view : views) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& at) {
      // The row under the mouse becomes the cursor's, so that the menu acts
      // on it; a selection in the result stays for Copy and Cut.
      const QTextCursor under = view->cursorForPosition(at);
      if (!view->textCursor().hasSelection()) {
        view->setTextCursor(under);
        last_view_ = view;
      }
      QMenu* menu = context_menu_for(view, under.blockNumber());
      menu->setAttribute(Qt::WA_DeleteOnClose);
      menu->popup(view->viewport()->mapToGlobal(at));
    });
  }
}

void MergeWindow::type_in_result(const QString& text) {
  if (conflict_regions_.empty()) return;
  QTextCursor cursor(
      result_view_->document()->findBlockByNumber(result_rows_[conflict_regions_[current_]].first));
  cursor.movePosition(QTextCursor::EndOfBlock);
  result_view_->setFocus();
  result_view_->setTextCursor(cursor);
  clear_suggestions_for_edit(cursor.blockNumber(), cursor.blockNumber());
  result_view_->insertPlainText(text);
}

void MergeWindow::edit_through(QPlainTextEdit* view, bool cut) {
  // A suggestion under the cursor gives way first, as for a key typed.
  const QTextCursor cursor = view->textCursor();
  const QTextDocument* doc = view->document();
  clear_suggestions_for_edit(doc->findBlock(cursor.selectionStart()).blockNumber(),
                             doc->findBlock(cursor.selectionEnd()).blockNumber());
  cut ? view->cut() : view->paste();
}

void MergeWindow::show_result_menu() {
  if (conflict_regions_.empty()) return;
  const int row = result_rows_[conflict_regions_[current_]].first;
  const QTextCursor cursor(result_view_->document()->findBlockByNumber(row));
  QMenu* menu = context_menu_for(result_view_, row);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // Beside the row, and inside the window as far as it fits.
  QPoint at = result_view_->viewport()->mapTo(this, result_view_->cursorRect(cursor).bottomRight());
  at.setY(std::max(0, std::min(at.y(), height() - menu->sizeHint().height())));
  menu->popup(mapToGlobal(at));
}

QMenu* MergeWindow::context_menu_for(QPlainTextEdit* view, int row) {
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("merge_menu"));
  const bool in_result = view == result_view_;
  const std::vector<Rows>& rows = in_result ? result_rows_ : pane_rows_;
  std::size_t region = kNone;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (row >= rows[r].first && row < rows[r].first + std::max(rows[r].count, 1)) {
      region = r;
      if (rows[r].count > 0) break;
    }
  }
  const bool conflict = region != kNone && plan_.regions[region].kind == RegionKind::conflict;
  const bool clean = region != kNone && plan_.regions[region].kind == RegionKind::changed;
  const auto add = [menu](const QString& text, const QKeySequence& keys, auto&& action,
                          bool enabled = true) {
    return keys::add_to_menu(menu, text, keys, enabled, action);
  };
  if (conflict) {
    // The menu acts on the conflict under the mouse, as a click would.
    if (conflict_of_region(region) != current_) {
      current_ = conflict_of_region(region);
      refresh(!in_result, in_result);
    }
    const std::size_t first = plan_.has_base ? 1 : 0;
    const bool blocks = block_count(current_) > 1;
    for (std::size_t s = 0; s < job_.docs.size(); ++s) {
      add(tr("Take %1 for this conflict").arg(side_name(s)), keys::take(s), [this, s] { take(s); });
    }
    // Named as its button is ("Take both" for two changed sides), without
    // the mark of its Alt key.
    add(tr("%1 for this conflict").arg(take_all_button_->text().remove(QLatin1Char('&'))),
        keys::take_all(), [this] { take_all(); });
    if (blocks) {
      // From a contributor's pane, that side's lines for the block under
      // the mouse; from the others, either side's.
      const auto pane = std::find(panes_.begin(), panes_.end(), view);
      const std::size_t here =
          pane == panes_.end() ? kNone : static_cast<std::size_t>(pane - panes_.begin());
      for (std::size_t s = first; s < first + 2; ++s) {
        if (here != kNone && here >= first && here != s) continue;
        add(tr("Take %1 for this block only").arg(side_name(s)), keys::take_block(s),
            [this, s] { take_block(s); });
      }
    }
    add(
        tr("Unresolve this conflict"), QKeySequence(), [this] { unresolve(); },
        resolutions_[current_].kind != Resolution::Kind::unresolved);
    if (!picks_.suggestions(current_).empty()) {
      const bool accepted = picks_.settled_by_suggestion(current_, resolutions_[current_]);
      const bool open = showing_suggestion(current_);
      add(
          tr("Accept the suggestion shown"), keys::accept_suggestion(),
          [this] { accept_suggestion(); }, open);
      add(
          tr("Next suggestion"), keys::next_suggestion(), [this] { cycle_suggestion(1); },
          (open || accepted) && picks_.suggestions(current_).size() > 1);
    }
  }
  if (clean) {
    add(clean_change_kept(region) ? tr("Reject this clean change") : tr("Accept this clean change"),
        keys::toggle_clean_change(), [this, region] {
          if (clean_at_ != region) edit_clean_change(region);
          toggle_clean_change();
        });
  }
  if (conflict || clean) menu->addSeparator();
  if (in_result) {
    add(
        tr("Undo"), QKeySequence::Undo, [this] { undo(); }, can_undo());
    add(
        tr("Redo"), keys::redo(), [this] { redo(); }, can_redo());
    add(
        tr("Cut"), QKeySequence::Cut, [this, view] { edit_through(view, true); },
        view->textCursor().hasSelection());
  }
  add(
      tr("Copy"), QKeySequence::Copy, [view] { view->copy(); }, view->textCursor().hasSelection());
  if (in_result)
    add(
        tr("Paste"), QKeySequence::Paste, [this, view] { edit_through(view, false); },
        view->canPaste());
  add(tr("Select all"), QKeySequence::SelectAll, [view] { view->selectAll(); });
  menu->addSeparator();
  add(
      tr("Next conflict"), keys::next(), [this] { go_to_conflict(current_ + 1); },
      current_ + 1 < conflict_regions_.size());
  add(
      tr("Previous conflict"), keys::previous(), [this] { go_to_conflict(current_ - 1); },
      current_ > 0);
  add(
      tr("Next unresolved conflict"), keys::next_unresolved(), [this] { go_to_unresolved(true); },
      unresolved_count() > 0);
  const bool any_clean = std::any_of(plan_.regions.begin(), plan_.regions.end(),
                                     [](const Region& r) { return r.kind == RegionKind::changed; });
  add(
      tr("Next clean change"), keys::next_clean_change(), [this] { go_to_clean_change(true); },
      any_clean);
  add(
      tr("Previous clean change"), keys::previous_clean_change(),
      [this] { go_to_clean_change(false); }, any_clean);
  return menu;
}

}  // namespace marlow

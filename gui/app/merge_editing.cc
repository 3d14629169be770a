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

#include "app/merge_window.h"
#include "app/panes.h"
#include "app/settings.h"

namespace marlow {

int MergeWindow::region_at_result_row(int row) const {
  // The last region starting at or before the row; regions without rows
  // share their start with the next one, which holds the row.
  auto after = std::upper_bound(result_rows_.begin(), result_rows_.end(), row,
                                [](int r, const Rows& rows) { return r < rows.first; });
  auto region = static_cast<int>(after - result_rows_.begin()) - 1;
  while (region > 0 && result_rows_[static_cast<std::size_t>(region)].count == 0) --region;
  return std::max(0, region);
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
  std::size_t r1 = plan().regions.size() - 1;
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
    static_cast<void>(done(session_->put_on_conflict(r, lines_from_editor(put, r))));
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
  // The rows that stand where the touched regions' rows stood.
  int old_count = 0;
  for (std::size_t r = r1; r <= r2; ++r) old_count += result_rows_[r].count;
  const int span_first = result_rows_[r1].first;
  const bool empty_document = doc->blockCount() == 1 && doc->firstBlock().text().isEmpty();
  const int new_count =
      old_total == 0 ? (empty_document ? 0 : doc->blockCount()) : old_count + delta;
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
  const std::size_t target = session_->type_rows(r1, r2, typed_rows(new_rows));
  if (target == MergeSession::kNone) return;  // no row changed
  for (std::size_t r = r1; r <= r2; ++r) {
    result_rows_[r].count = static_cast<int>(result_rows_of(r).size());
    if (r > 0) result_rows_[r].first = result_rows_[r - 1].first + result_rows_[r - 1].count;
  }
  for (std::size_t r = r2 + 1; r < result_rows_.size(); ++r) result_rows_[r].first += delta;
  if (session_->is_conflict(target)) editing_clean_ = false;
  refill_editor();
  update_views(false, false);
}

// ---------------------------------------------------------------------------
// Blocks of a conflict.

void MergeWindow::take_block_at(std::size_t block, std::size_t side) {
  if (no_conflicts()) return;
  if (done(session_->take_block(block, side))) refresh(true, true);
}

void MergeWindow::take_block(std::size_t side) {
  if (no_conflicts()) return;
  const std::size_t c = current_conflict();
  if (block_count(c) == 0) return;
  // The block under the cursor of a contributor's pane (the base's pane
  // reads as the first changed side's); else the first block not chosen.
  std::size_t block = MergeSession::kNone;
  const auto pane = std::find(panes_.begin(), panes_.end(), last_view_);
  const Rows rows = pane_rows_[session_->region_of_conflict(c)];
  if (pane != panes_.end()) {
    const int line = last_view_->textCursor().blockNumber() - rows.first;
    const std::size_t first = session_->first_changed_side();
    const std::size_t here = static_cast<std::size_t>(pane - panes_.begin());
    if (line >= 0 && line < rows.count) {
      block = session_->block_at_line(c, here == first + 1 ? first + 1 : first,
                                      static_cast<std::size_t>(line));
    }
  }
  if (block == MergeSession::kNone) block = session_->first_open_block(c);
  take_block_at(block, side);
}

// ---------------------------------------------------------------------------
// Clean changes one after the other.

bool MergeWindow::go_to_clean_change(bool forward) {
  const std::size_t n = plan().regions.size();
  const std::size_t from = clean_at_ < n    ? clean_at_
                           : no_conflicts() ? (forward ? n - 1 : 0)
                                            : session_->region_of_conflict(current_conflict());
  const std::size_t r = session_->next_clean_change(from, forward);
  if (r == MergeSession::kNone) return false;
  edit_clean_change(r);
  show_region(r);
  update_views(false, false);
  return true;
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
  const IgnoreOptions ignoring{whitespace, line_ends};
  if (ignoring == session_->ignoring()) return;
  set_ignore_whitespace_preference(whitespace);
  set_ignore_line_ends_preference(line_ends);
  session_->replan(ignoring);
  replan();
}

void MergeWindow::replan() {
  plan_regions();
  moving_ = true;
  build_panes();
  build_result_view();
  moving_ = false;
  const bool any = !no_conflicts();
  editor_->setEnabled(any);
  if (!any) disable_conflict_controls();
  refresh(true, true);
  show_message(
      tr("Merged again: %n conflict(s).", "", static_cast<int>(session_->conflict_count())));
}

bool MergeWindow::confirm_replan() {
  if (!ask_on_close_ || !isVisible() || !session_->can_undo()) return true;
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
      auto* pane = dynamic_cast<DiffPane*>(view);
      const QTextCursor under = pane != nullptr ? pane->cursor_at(at) : view->cursorForPosition(at);
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
  if (no_conflicts()) return;
  QTextCursor cursor(result_view_->document()->findBlockByNumber(
      result_rows_[session_->region_of_conflict(current_conflict())].first));
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
  if (no_conflicts()) return;
  const int row = result_rows_[session_->region_of_conflict(current_conflict())].first;
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
  const bool conflict = region != kNone && plan().regions[region].kind == RegionKind::conflict;
  const bool clean = region != kNone && plan().regions[region].kind == RegionKind::changed;
  const Commands& c = commands_;
  if (conflict) {
    // The menu acts on the conflict under the mouse, as a click would.
    if (conflict_of_region(region) != current_conflict()) {
      session_->set_current(conflict_of_region(region));
      refresh(!in_result, in_result);
    }
    const std::size_t first = plan().has_base ? 1 : 0;
    menu->addActions(QList<QAction*>(c.take.begin(), c.take.end()));
    menu->addActions({c.take_all, c.take_all_other_first});
    // From a pane: the lines selected there (or under the mouse).
    if (!in_result) {
      last_view_ = view;
      menu->addAction(c.take_lines);
    }
    if (block_count(current_conflict()) > 1) {
      // From a contributor's pane, that side's lines for the block under
      // the mouse; from the others, either side's.
      const auto pane = std::find(panes_.begin(), panes_.end(), view);
      const std::size_t here =
          pane == panes_.end() ? kNone : static_cast<std::size_t>(pane - panes_.begin());
      for (std::size_t s = first; s < first + 2; ++s) {
        if (here != kNone && here >= first && here != s) continue;
        menu->addAction(c.take_block[s]);
      }
    }
    menu->addAction(c.unresolve);
    if (!session_->suggestion_picks().suggestions(current_conflict()).empty()) {
      menu->addActions({c.accept_suggestion, c.next_suggestion});
    }
  }
  if (clean) {
    // The menu acts on the clean change under the mouse.
    if (clean_at_ != region) edit_clean_change(region);
    menu->addAction(c.toggle_clean_change);
  }
  if (conflict || clean) menu->addSeparator();
  // The view's own editing, with the window's history.
  const auto add = [menu](const QString& text, const QKeySequence& keys, auto&& action,
                          bool enabled) {
    QAction* entry = menu->addAction(text);
    entry->setShortcut(keys);
    entry->setEnabled(enabled);
    connect(entry, &QAction::triggered, menu, std::forward<decltype(action)>(action));
  };
  if (in_result) {
    menu->addActions({c.undo, c.redo});
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
  add(
      tr("Select all"), QKeySequence::SelectAll, [view] { view->selectAll(); }, true);
  menu->addSeparator();
  menu->addActions({c.next, c.previous, c.next_unresolved, c.next_clean_change,
                    c.previous_clean_change});
  menu->addSeparator();
  menu->addAction(wrap_);
  return menu;
}

}  // namespace marlow

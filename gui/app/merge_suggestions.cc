// The merge window's suggestions: an unsettled conflict shows the current
// one of its ranked resolutions in the result, greyed, until the user
// accepts it, moves to another, or types there instead.
#include <QKeySequence>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cerrno>

#include "app/keys.h"
#include "app/merge_window.h"
#include "app/panes.h"

namespace marlow {

void MergeWindow::accept_suggestion() {
  if (no_conflicts()) return;
  const std::size_t c = current_conflict();
  if (!session_->accept_suggestion().ok()) {
    show_message(
        session_->resolution(c).kind == Resolution::Kind::unresolved
            ? tr("Conflict %1 has no suggestion to accept.").arg(c + 1)
            : tr("Conflict %1 is settled: unresolve it to see its suggestions.").arg(c + 1));
    return;
  }
  refresh(true, true);
  show_message(
      tr("Conflict %1 settled with %2.").arg(c + 1).arg(q(session_->suggestion_picks().label(c))));
}

void MergeWindow::cycle_suggestion(int step) {
  if (no_conflicts()) return;
  const std::size_t c = current_conflict();
  const SuggestionPicks& picks = session_->suggestion_picks();
  const bool accepted = picks.settled_by_suggestion(c, session_->resolution(c));
  const support::Status cycled = session_->cycle_suggestion(step);
  if (cycled.code() == EALREADY) {
    show_message(tr("Conflict %1 has only one suggestion.").arg(c + 1));
    return;
  }
  if (!cycled.ok()) {
    show_message(
        session_->resolution(c).kind == Resolution::Kind::unresolved
            ? tr("Conflict %1 has no suggestions.").arg(c + 1)
            : tr("Conflict %1 is settled: unresolve it to see its suggestions.").arg(c + 1));
    return;
  }
  refresh(true, true);
  show_message(accepted ? tr("Conflict %1 settled with %2.").arg(c + 1).arg(q(picks.label(c)))
                        : QString());
}

void MergeWindow::clear_suggestions_for_edit(int first, int last) {
  if (result_rows_.empty()) return;
  QTextCursor cursor = result_view_->textCursor();
  const QTextDocument* doc = result_view_->document();
  int row = cursor.blockNumber();
  int column = cursor.positionInBlock();
  bool moved = false;
  bool cleared = false;
  const std::size_t from = static_cast<std::size_t>(region_at_result_row(std::max(0, first)));
  const std::size_t to = static_cast<std::size_t>(region_at_result_row(std::max(first, last)));
  for (std::size_t r = from; r <= to && r < result_rows_.size(); ++r) {
    if (suggestion_shown(r) == nullptr) continue;
    const Rows old = result_rows_[r];
    session_->type_over_suggestion(conflict_of_region(r));
    cleared = true;
    moving_ = true;
    replace_result_rows(r);
    moving_ = false;
    const int delta = result_rows_[r].count - old.count;
    if (row >= old.first && row < old.first + old.count) {
      row = old.first;
      column = 0;
      moved = true;
    } else if (row >= old.first + old.count) {
      row += delta;
    }
    // At most one conflict is typed over at a time.
    break;
  }
  if (!cleared) return;
  const QTextBlock block = doc->findBlockByNumber(row);
  cursor = QTextCursor(block);
  cursor.setPosition(block.position() + std::min(column, block.length() - 1));
  moving_ = true;
  result_view_->setTextCursor(cursor);
  moving_ = false;
  // What is typed there is plain text, never the suggestion's greyed kind.
  if (moved) result_view_->setCurrentCharFormat(QTextCharFormat());
  refresh(false, false);
}

}  // namespace marlow

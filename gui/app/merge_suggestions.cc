// The merge window's suggestions: an unsettled conflict shows the current
// one of its ranked resolutions in the result, greyed, until the user
// accepts it, moves to another, or types there instead.
#include <QKeySequence>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "app/keys.h"
#include "app/merge_window.h"
#include "app/panes.h"

namespace marlow {

const Suggestion* MergeWindow::suggestion_shown(std::size_t region) const {
  if (region >= plan_.regions.size() || plan_.regions[region].kind != RegionKind::conflict)
    return nullptr;
  const std::size_t c = conflict_of_region(region);
  if (c == typing_over_) return nullptr;
  return picks_.shown(c, resolutions_[c]);
}

bool MergeWindow::showing_suggestion(std::size_t conflict) const {
  return conflict < conflict_regions_.size() &&
         suggestion_shown(conflict_regions_[conflict]) != nullptr;
}

void MergeWindow::accept_suggestion() {
  if (conflict_regions_.empty()) return;
  const std::size_t c = current_;
  // One that gave way to typing, with nothing typed yet, may still be taken.
  const std::optional<Resolution> accepted =
      picks_.shown(c, resolutions_[c]) != nullptr ? picks_.accepted_resolution(c) : std::nullopt;
  if (!accepted) {
    show_message(
        resolutions_[c].kind == Resolution::Kind::unresolved
            ? tr("Conflict %1 has no suggestion to accept.").arg(c + 1)
            : tr("Conflict %1 is settled: unresolve it to see its suggestions.").arg(c + 1));
    return;
  }
  const std::vector<SuggestionPick> picks{SuggestionPick{picks_.pick(c).shown, true}};
  settle_many({{conflict_regions_[c], *accepted}}, false, false, &picks);
  refresh(true, true);
  show_message(tr("Conflict %1 settled with %2.").arg(c + 1).arg(q(picks_.label(c))));
}

void MergeWindow::cycle_suggestion(int step) {
  if (conflict_regions_.empty()) return;
  const std::size_t c = current_;
  const Resolution& now = resolutions_[c];
  const bool accepted = picks_.settled_by_suggestion(c, now);
  if (!accepted && picks_.shown(c, now) == nullptr) {
    show_message(
        now.kind == Resolution::Kind::unresolved
            ? tr("Conflict %1 has no suggestions.").arg(c + 1)
            : tr("Conflict %1 is settled: unresolve it to see its suggestions.").arg(c + 1));
    return;
  }
  const SuggestionPick next = picks_.cycled(c, step);
  if (next == picks_.pick(c)) {
    show_message(tr("Conflict %1 has only one suggestion.").arg(c + 1));
    return;
  }
  // Once one is accepted, the next is accepted in its place.
  Resolution resolution = now;
  if (accepted) {
    resolution = Resolution{Resolution::Kind::edited, 0, picks_.suggestions(c)[next.shown].lines};
  }
  const std::vector<SuggestionPick> picks{next};
  settle_many({{conflict_regions_[c], std::move(resolution)}}, false, false, &picks);
  refresh(true, true);
  show_message(accepted ? tr("Conflict %1 settled with %2.").arg(c + 1).arg(q(picks_.label(c)))
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
    typing_over_ = conflict_of_region(r);
    current_ = typing_over_;
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

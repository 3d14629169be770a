// Wrapping long lines in the panes while aligned rows stay side by side.
//
// A wrapped row takes as many lines as its text needs at its pane's width,
// and the views count their scroll positions in such lines. Row N of each
// aligned pane is given the number of lines of the tallest of them: the
// shorter ones get empty lines after their text, laid out with it but never
// part of the document. Every aligned pane then has the same lines, so one
// scroll value still fits them all and row N starts at the same height in
// each. The rows are measured only as the views lay them out (the rows
// shown), so wrapping costs nothing for rows never seen.
#pragma once

#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <functional>
#include <vector>

class QAction;
class QCheckBox;
class QPlainTextEdit;
class QWidget;

namespace marlow {

// A plain-text layout that tells its pane of every row it lays out afresh,
// and keeps a row's added lines after its text as the text is edited.
class RowLayout : public QPlainTextDocumentLayout {
 public:
  RowLayout(QTextDocument* doc, std::function<void(const QTextBlock&)> laid_out);

  QRectF blockBoundingRect(const QTextBlock& block) const override;

  // The empty lines row `block` has after its text.
  static int added_lines(const QTextBlock& block);
  // Gives `block` `lines` empty lines after its text (none: 0).
  void set_added_lines(const QTextBlock& block, int lines);
  // Takes every row's added lines away.
  void remove_added_lines();

 protected:
  void documentChanged(int from, int removed, int added) override;

 private:
  std::function<void(const QTextBlock&)> laid_out_;
  int padded_rows_ = 0;  // rows given lines since none had any (some may have none again)
};

// The aligned views whose rows take the same height.
class RowHeights {
 public:
  void set_views(std::vector<QPlainTextEdit*> views) { views_ = std::move(views); }
  // Row `row` was laid out in one view: each view's row `row` gets the
  // lines of the tallest.
  void even_out(int row);

 private:
  std::vector<QPlainTextEdit*> views_;
  std::vector<int> busy_;  // rows being evened out (laying one out may lay out others)
};

// The window's checkable "Wrap lines" command, added to `window`, set as
// the preference says; toggling it keeps the preference and calls `apply`.
QAction* make_wrap_action(QWidget* window, const std::function<void(bool)>& apply);
// A check box beside the window's other view options that goes with `action`.
QCheckBox* wrap_box(QAction* action, QWidget* parent);

}  // namespace marlow

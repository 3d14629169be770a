// Keeps a window's text views in step: whichever way one of them scrolls or
// zooms, the others do the same, so that aligned rows stay side by side.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

class QPlainTextEdit;
class QScrollBar;

namespace marlow {

class RowHeights;

// Two kinds of members. Aligned views have the same rows, so they share one
// vertical and one horizontal scroll position. A mapped view has rows of its
// own (the merged result): `to_view` turns the aligned views' top row into
// its top row and `from_view` back, so each follows the other.
//
// Positions are given in rows. A view's scroll position counts lines, one
// a row unless the views wrap long rows; when they do, each row of the
// aligned views takes as many lines as the tallest of them needs, so their
// lines stay the same and row N starts at the same height in each.
//
// For every member the synchroniser also takes over what would move only
// that view: PageUp/PageDown and Ctrl+Home/Ctrl+End scroll the view (and so
// all of them) even when it is read-only; Ctrl+wheel, Ctrl++, Ctrl+- and
// Ctrl+0 zoom every member by the same step, so rows keep the same height
// in every view.
class PaneSync : public QObject {
  Q_OBJECT
 public:
  explicit PaneSync(QObject* parent);
  ~PaneSync() override;

  void add_aligned(QPlainTextEdit* view);
  void set_mapped(QPlainTextEdit* view, std::function<int(int)> to_view,
                  std::function<int(int)> from_view);

  // The aligned views' top row and left edge, and all views' zoom in steps
  // of one point from the size they started at.
  int top_row() const;
  void set_top_row(int row);
  void set_left(int x);
  // While rows wrap, placing a view keeps the row of its cursor in view.
  // Places the aligned views, or the mapped view, without moving the other
  // kind: for a window that puts each where it shows the same change best.
  // The next scroll of either brings the other along again.
  void place_aligned(int row);
  void place_mapped(int row);
  // Puts a view's text cursor on row `row` without scrolling any view, so
  // that a click on any other row moves it and keys start from there.
  void put_cursor(QPlainTextEdit* view, int row);
  // Runs `change` with the views not following one another.
  void unfollowed(const std::function<void()>& change) {
    const bool was = moving_;
    moving_ = true;
    change();
    moving_ = was;
  }
  // Wraps long rows in every member, or shows each row on one line again;
  // the aligned views keep the same top row.
  void set_wrapping(bool on);
  bool wrapping() const { return wrapping_; }
  int zoom() const { return zoom_; }
  void zoom_by(int steps);
  void reset_zoom() { zoom_by(-zoom_); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void watch(QPlainTextEdit* view);
  void aligned_moved(QScrollBar* from, bool vertical, int value);
  void mapped_moved(int value);
  void followed(QPlainTextEdit* view);
  QPlainTextEdit* view_of(QObject* watched) const;
  // The scroll position that shows row `row` at the top of `view`, and the
  // row at the top for a scroll position.
  static int line_of_row(const QPlainTextEdit* view, int row);
  static int row_of_line(const QPlainTextEdit* view, int line);
  // A window counts the rows it puts above the one it shows as lines; when
  // rows wrap they may be taller, and the row it shows (where it put the
  // view's cursor) would fall below the view. The top row that shows the
  // cursor's row then, else `top`.
  int top_showing_cursor(const QPlainTextEdit* view, int top) const;

  std::vector<QPlainTextEdit*> aligned_;
  QPlainTextEdit* mapped_ = nullptr;
  std::function<int(int)> to_mapped_;
  std::function<int(int)> from_mapped_;
  int zoom_ = 0;
  int wheel_rest_ = 0;  // wheel angle short of a whole zoom step
  bool moving_ = false;
  bool wrapping_ = false;
  std::unique_ptr<RowHeights> heights_;
};

}  // namespace marlow

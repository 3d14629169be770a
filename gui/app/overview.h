// A strip beside the panes with a mark for every difference or conflict over
// the height of the whole text; a click goes to the mark nearest to it.
#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <vector>

namespace marlow {

class OverviewStrip : public QWidget {
 public:
  struct Mark {
    int first = 0;  // rows [first, end) of the panes
    int end = 0;
    QColor colour;
  };
  OverviewStrip(QWidget* parent, const QString& tip, std::function<void(int)> go);
  // `row_height`: the panes' line height, so that a short text is drawn to
  // the scale of the panes rather than stretched. `background` marks are
  // drawn narrower, under the others, and are not clicked to.
  void set(int rows, int row_height, std::vector<Mark> marks, std::vector<Mark> background = {});
  // The current mark is drawn in `colour` when valid, else framed darker.
  void set_current(int current, const QColor& colour = QColor());
  // The strip's y for a pane row, for tests that click on a mark.
  int y_of_row(double row) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  double scale() const;
  std::function<void(int)> go_;
  int rows_ = 1;
  int row_height_ = 1;
  std::vector<Mark> marks_;
  std::vector<Mark> background_;
  int current_ = -1;
  QColor current_colour_;
};

}  // namespace marlow

#include "app/overview.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace marlow {

OverviewStrip::OverviewStrip(QWidget* parent, const QString& tip, std::function<void(int)> go)
    : QWidget(parent), go_(std::move(go)) {
  setFixedWidth(14);
  setToolTip(tip);
}

void OverviewStrip::set(int rows, int row_height, std::vector<Mark> marks,
                        std::vector<Mark> background) {
  rows_ = std::max(rows, 1);
  row_height_ = std::max(row_height, 1);
  marks_ = std::move(marks);
  background_ = std::move(background);
  update();
}

void OverviewStrip::set_current(int current, const QColor& colour) {
  current_ = current;
  current_colour_ = colour;
  update();
}

double OverviewStrip::scale() const {
  return std::min<double>(row_height_, static_cast<double>(height() - 2) / rows_);
}

int OverviewStrip::y_of_row(double row) const { return 1 + static_cast<int>(row * scale()); }

void OverviewStrip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(248, 248, 248));
  painter.setPen(QColor(210, 210, 210));
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  const double s = scale();
  const auto band = [s](const Mark& mark) {
    const int top = 1 + static_cast<int>(mark.first * s);
    const int bottom = std::max(top + 2, 1 + static_cast<int>(mark.end * s));
    return std::pair{top, bottom};
  };
  for (const Mark& mark : background_) {
    const auto [top, bottom] = band(mark);
    painter.fillRect(QRect(4, top, width() - 8, bottom - top), mark.colour);
  }
  for (std::size_t i = 0; i < marks_.size(); ++i) {
    const auto [top, bottom] = band(marks_[i]);
    const QRect area(2, top, width() - 4, bottom - top);
    const bool current = static_cast<int>(i) == current_;
    if (current && current_colour_.isValid()) {
      painter.fillRect(area, current_colour_);
    } else {
      painter.fillRect(area, marks_[i].colour);
      if (current) {
        painter.setPen(marks_[i].colour.darker(250));
        painter.drawRect(area.adjusted(-1, -1, 0, 0));
      }
    }
  }
}

void OverviewStrip::mousePressEvent(QMouseEvent* event) {
  if (marks_.empty()) return;
  const double row = (event->position().y() - 1) / std::max(scale(), 0.001);
  int nearest = 0;
  double distance = -1;
  for (std::size_t i = 0; i < marks_.size(); ++i) {
    const double middle = (marks_[i].first + marks_[i].end) / 2.0;
    if (distance < 0 || std::abs(middle - row) < distance) {
      distance = std::abs(middle - row);
      nearest = static_cast<int>(i);
    }
  }
  go_(nearest);
}

}  // namespace marlow

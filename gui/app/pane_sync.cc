#include "app/pane_sync.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QWheelEvent>
#include <algorithm>

#include "app/panes.h"
#include "app/wrap.h"

namespace marlow {
namespace {

constexpr int kWheelStep = 120;  // one notch of a mouse wheel, in eighths of a degree
constexpr int kZoomOut = -6;     // never smaller than six points below the start
constexpr int kZoomIn = 24;

// Each member's own starting size, kept on the view so that zooming is
// always relative to it.
constexpr const char* kBaseSize = "marlow_base_point_size";

}  // namespace

PaneSync::PaneSync(QObject* parent) : QObject(parent), heights_(std::make_unique<RowHeights>()) {}

PaneSync::~PaneSync() = default;

int PaneSync::line_of_row(const QPlainTextEdit* view, int row) {
  if (row <= 0) return 0;
  const QTextBlock block = view->document()->findBlockByNumber(row);
  // Past the last row: a position the scroll bar bounds to its end.
  return block.isValid() ? block.firstLineNumber() : view->document()->lineCount() + row;
}

int PaneSync::row_of_line(const QPlainTextEdit* view, int line) {
  if (line <= 0) return 0;
  const QTextBlock block = view->document()->findBlockByLineNumber(line);
  return block.isValid() ? block.blockNumber() : view->document()->blockCount() - 1;
}

int PaneSync::top_showing_cursor(const QPlainTextEdit* view, int top) const {
  if (!wrapping_) return top;
  const QTextBlock cursor = view->textCursor().block();
  if (cursor.blockNumber() < top) return top;
  QAbstractTextDocumentLayout* layout = view->document()->documentLayout();
  const qreal room = view->viewport()->height();
  qreal bottom = 0;
  for (QTextBlock block = view->document()->findBlockByNumber(std::max(0, top));
       block.isValid() && block.blockNumber() <= cursor.blockNumber(); block = block.next()) {
    bottom += layout->blockBoundingRect(block).height();
    if (bottom > room) break;
  }
  if (bottom <= room) return top;
  // The cursor's row a third of the way down, or at the top.
  int shown = cursor.blockNumber();
  qreal above = 0;
  for (QTextBlock block = cursor.previous(); block.isValid(); block = block.previous()) {
    above += layout->blockBoundingRect(block).height();
    if (above > room / 3) break;
    shown = block.blockNumber();
  }
  return shown;
}

void PaneSync::set_wrapping(bool on) {
  const int row = top_row();
  const int mapped_row =
      mapped_ != nullptr ? row_of_line(mapped_, mapped_->verticalScrollBar()->value()) : 0;
  wrapping_ = on;
  heights_->set_views(aligned_);
  unfollowed([&] {
    for (QPlainTextEdit* view : aligned_) {
      if (auto* pane = dynamic_cast<DiffPane*>(view)) {
        pane->set_wrapping(on, heights_.get());
      } else {
        view->setLineWrapMode(on ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
      }
    }
    if (auto* pane = dynamic_cast<DiffPane*>(mapped_)) {
      pane->set_wrapping(on, nullptr);
    } else if (mapped_ != nullptr) {
      mapped_->setLineWrapMode(on ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    }
  });
  // The same rows at the top as before, wherever the cursors are.
  unfollowed([&] {
    for (QPlainTextEdit* view : aligned_)
      view->verticalScrollBar()->setValue(line_of_row(view, row));
    if (mapped_ != nullptr)
      mapped_->verticalScrollBar()->setValue(line_of_row(mapped_, mapped_row));
  });
}

void PaneSync::watch(QPlainTextEdit* view) {
  view->setProperty(kBaseSize, view->font().pointSizeF());
  view->installEventFilter(this);
  view->viewport()->installEventFilter(this);
  if (zoom_ != 0) {
    QFont font = view->font();
    font.setPointSizeF(view->property(kBaseSize).toDouble() + zoom_);
    view->setFont(font);
  }
}

void PaneSync::add_aligned(QPlainTextEdit* view) {
  aligned_.push_back(view);
  watch(view);
  QScrollBar* vertical = view->verticalScrollBar();
  QScrollBar* horizontal = view->horizontalScrollBar();
  connect(vertical, &QScrollBar::valueChanged, this,
          [this, vertical](int value) { aligned_moved(vertical, true, value); });
  connect(horizontal, &QScrollBar::valueChanged, this,
          [this, horizontal](int value) { aligned_moved(horizontal, false, value); });
  // A view that scrolls itself to show its cursor (a search, a click) may
  // do so with its scroll bar's signals blocked, too.
  connect(view, &QPlainTextEdit::updateRequest, this, [this, view](const QRect&, int dy) {
    if (dy != 0) followed(view);
  });
  // A click in the scroll bar's trough turns a page with its signals
  // blocked: the others follow once it has.
  connect(
      vertical, &QScrollBar::actionTriggered, this, [this, view] { followed(view); },
      Qt::QueuedConnection);
  // A view whose range grows later (its text laid out, a zoom) takes the
  // position the others have.
  connect(vertical, &QScrollBar::rangeChanged, this, [this, vertical] {
    if (!moving_ && aligned_.size() > 1 && vertical != aligned_.front()->verticalScrollBar()) {
      aligned_moved(aligned_.front()->verticalScrollBar(), true,
                    aligned_.front()->verticalScrollBar()->value());
    }
  });
}

void PaneSync::set_mapped(QPlainTextEdit* view, std::function<int(int)> to_view,
                          std::function<int(int)> from_view) {
  mapped_ = view;
  to_mapped_ = std::move(to_view);
  from_mapped_ = std::move(from_view);
  watch(view);
  connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this](int value) { mapped_moved(value); });
  connect(
      view->verticalScrollBar(), &QScrollBar::actionTriggered, this,
      [this, view] { followed(view); }, Qt::QueuedConnection);
  connect(view, &QPlainTextEdit::updateRequest, this, [this, view](const QRect&, int dy) {
    if (dy != 0) followed(view);
  });
  connect(view->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (!aligned_.empty()) aligned_moved(nullptr, false, value);
  });
}

int PaneSync::top_row() const {
  return aligned_.empty()
             ? 0
             : row_of_line(aligned_.front(), aligned_.front()->verticalScrollBar()->value());
}

void PaneSync::set_top_row(int row) {
  if (aligned_.empty()) return;
  row = top_showing_cursor(aligned_.front(), std::max(0, row));
  aligned_moved(nullptr, true, line_of_row(aligned_.front(), row));
}

void PaneSync::set_left(int x) { aligned_moved(nullptr, false, std::max(0, x)); }

void PaneSync::put_cursor(QPlainTextEdit* view, int row) {
  const QTextBlock block = view->document()->findBlockByNumber(row);
  if (!block.isValid()) return;
  const int top = view->verticalScrollBar()->value();
  const int left = view->horizontalScrollBar()->value();
  unfollowed([&] {
    view->setTextCursor(QTextCursor(block));
    view->verticalScrollBar()->setValue(top);
    view->horizontalScrollBar()->setValue(left);
  });
}

void PaneSync::place_aligned(int row) {
  if (moving_ || aligned_.empty()) return;
  row = top_showing_cursor(aligned_.front(), row);
  moving_ = true;
  for (QPlainTextEdit* view : aligned_) view->verticalScrollBar()->setValue(line_of_row(view, row));
  moving_ = false;
}

void PaneSync::place_mapped(int row) {
  if (moving_ || mapped_ == nullptr) return;
  row = top_showing_cursor(mapped_, row);
  moving_ = true;
  mapped_->verticalScrollBar()->setValue(line_of_row(mapped_, row));
  moving_ = false;
}

void PaneSync::aligned_moved(QScrollBar* from, bool vertical, int value) {
  if (moving_) return;
  moving_ = true;
  for (QPlainTextEdit* view : aligned_) {
    QScrollBar* bar = vertical ? view->verticalScrollBar() : view->horizontalScrollBar();
    if (bar != from) bar->setValue(value);
  }
  if (mapped_ != nullptr) {
    if (vertical) {
      if (to_mapped_) {
        mapped_->verticalScrollBar()->setValue(line_of_row(mapped_, to_mapped_(top_row())));
      }
    } else if (from != nullptr || mapped_->horizontalScrollBar()->value() != value) {
      mapped_->horizontalScrollBar()->setValue(value);
    }
  }
  moving_ = false;
}

void PaneSync::mapped_moved(int value) {
  if (moving_ || !from_mapped_ || aligned_.empty()) return;
  moving_ = true;
  const int row = from_mapped_(row_of_line(mapped_, value));
  for (QPlainTextEdit* view : aligned_) view->verticalScrollBar()->setValue(line_of_row(view, row));
  moving_ = false;
}

void PaneSync::zoom_by(int steps) {
  const int zoom = std::clamp(zoom_ + steps, kZoomOut, kZoomIn);
  if (zoom == zoom_) return;
  zoom_ = zoom;
  const int row = top_row();
  std::vector<QPlainTextEdit*> all = aligned_;
  if (mapped_ != nullptr) all.push_back(mapped_);
  for (QPlainTextEdit* view : all) {
    QFont font = view->font();
    font.setPointSizeF(std::max(1.0, view->property(kBaseSize).toDouble() + zoom_));
    view->setFont(font);
  }
  // The views lay their rows out again; they keep showing the same rows.
  if (!aligned_.empty()) aligned_moved(nullptr, true, line_of_row(aligned_.front(), row));
}

QPlainTextEdit* PaneSync::view_of(QObject* watched) const {
  std::vector<QPlainTextEdit*> all = aligned_;
  if (mapped_ != nullptr) all.push_back(mapped_);
  for (QPlainTextEdit* view : all) {
    if (watched == view || watched == view->viewport()) return view;
  }
  return nullptr;
}

bool PaneSync::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel) {
    auto* wheel = static_cast<QWheelEvent*>(event);
    if (!(wheel->modifiers() & Qt::ControlModifier)) return false;
    wheel_rest_ += wheel->angleDelta().y();
    const int steps = wheel_rest_ / kWheelStep;
    wheel_rest_ -= steps * kWheelStep;
    zoom_by(steps);
    return true;  // never the view's own zoom, which would change it alone
  }
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
  QPlainTextEdit* view = view_of(watched);
  if (view == nullptr || watched != view) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
  const bool ctrl = mods == Qt::ControlModifier;
  // Ctrl++ is typed with Shift on most layouts (Ctrl+Shift+= on a US one).
  const bool ctrl_shift = mods == (Qt::ControlModifier | Qt::ShiftModifier);
  int zoom = 0;
  if ((ctrl || ctrl_shift) && (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Equal)) zoom = 1;
  if (ctrl && key->key() == Qt::Key_Minus) zoom = -1;
  if (ctrl && key->key() == Qt::Key_0) zoom = -zoom_;
  const bool scroll_key =
      view->isReadOnly() && (((key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown) &&
                              mods == Qt::NoModifier) ||
                             ((key->key() == Qt::Key_Home || key->key() == Qt::Key_End) && ctrl));
  if (zoom == 0 && !(ctrl && key->key() == Qt::Key_0) && !scroll_key) return false;
  if (event->type() == QEvent::ShortcutOverride) {
    // Ours, not a window shortcut's.
    event->accept();
    return true;
  }
  if (zoom != 0 || (ctrl && key->key() == Qt::Key_0)) {
    zoom_by(zoom);
    return true;
  }
  QScrollBar* bar = view->verticalScrollBar();
  switch (key->key()) {
    case Qt::Key_PageUp:
      bar->triggerAction(QAbstractSlider::SliderPageStepSub);
      break;
    case Qt::Key_PageDown:
      bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
      break;
    case Qt::Key_Home:
      bar->setValue(bar->minimum());
      view->horizontalScrollBar()->setValue(0);
      break;
    default:
      bar->setValue(bar->maximum());
      break;
  }
  followed(view);
  return true;
}

void PaneSync::followed(QPlainTextEdit* view) {
  // A view turns pages with its scroll bar's signals blocked, so the others
  // are told here.
  if (view == mapped_) {
    mapped_moved(view->verticalScrollBar()->value());
  } else {
    aligned_moved(view->verticalScrollBar(), true, view->verticalScrollBar()->value());
  }
}

}  // namespace marlow

#include "app/panes.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextDocumentLayout>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>
#include <thread>

#include "app/settings.h"
#include "app/wrap.h"
#include "engine/compare_session.h"

namespace marlow {

QString q(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString shown_text(std::string_view utf8) {
  QString text = q(utf8);
  if (utf8.find('\r') != std::string_view::npos)
    text.replace(QLatin1Char('\r'), kCarriageReturnMark);
  return text;
}

std::string typed_line(const QString& row, bool marks_are_returns) {
  if (!marks_are_returns || !row.contains(kCarriageReturnMark)) return row.toStdString();
  QString text = row;
  text.replace(kCarriageReturnMark, QLatin1Char('\r'));
  return text.toStdString();
}

bool has_returns_inside_lines(const std::vector<Line>& lines) {
  return std::any_of(lines.begin(), lines.end(), [](const Line& line) {
    return std::memchr(line.text.data(), '\r', line.text.size()) != nullptr;
  });
}

QString shown(const std::vector<Line>& lines) {
  QString text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i != 0) text += QLatin1Char('\n');
    text += shown_text(lines[i].text);
  }
  return text;
}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent), full_(text) {
  setToolTip(text);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  setText(text);
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, event->size().width()));
}

class DiffPane::Gutter : public QWidget {
 public:
  explicit Gutter(DiffPane* pane) : QWidget(pane), pane_(pane) {}
  QSize sizeHint() const override { return QSize(pane_->gutter_width(), 0); }

 protected:
  void paintEvent(QPaintEvent* event) override { pane_->paint_gutter(event); }

 private:
  DiffPane* pane_;
};

DiffPane::DiffPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  // Nothing is typed here: Tab goes on to the next control.
  setTabChangesFocus(true);
  lay_out_unbounded([this] { setLineWrapMode(QPlainTextEdit::NoWrap); });
  QFont font(QStringLiteral("monospace"));
  font.setStyleHint(QFont::TypeWriter);
  setFont(font);
  gutter_ = new Gutter(this);
  set_tab_width(tab_width_preference());
  // Where the rows are wider than the pane, it scrolls a little past the
  // end of the longest: a change at the end of a row can then be shown with
  // room after it rather than against the pane's edge. The view sets its
  // range before it bounds the position again, so the position is kept.
  connect(horizontalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
    if (widening_range_ || maximum <= 0) return;
    widening_range_ = true;
    horizontalScrollBar()->setMaximum(maximum + side_room());
    widening_range_ = false;
  });
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
    if (dy != 0) {
      gutter_->scroll(0, dy);
    } else {
      gutter_->update(0, rect.y(), gutter_->width(), rect.height());
    }
  });
  place_gutter();
}

void DiffPane::set_row_marks(std::vector<int> numbers, std::vector<QColor> backgrounds,
                             std::vector<CharMark> marks, const QColor& mark_colour) {
  set_numbers(std::move(numbers));
  current_first_ = current_end_ = -1;
  backgrounds_ = std::move(backgrounds);
  std::stable_sort(marks.begin(), marks.end(),
                   [](const CharMark& x, const CharMark& y) { return x.row < y.row; });
  marks_ = std::move(marks);
  mark_colour_ = mark_colour;
}

QTextDocument* DiffPane::fresh_document() {
  // The document goes to the view while it is empty and gets its text in
  // one step after: the view then only counts the new blocks' lines and
  // lays out none of them until they are shown (given a full document, it
  // would make a text layout for every row at once).
  auto* doc = new QTextDocument(this);
  doc->setUndoRedoEnabled(false);
  doc->setDocumentLayout(new RowLayout(doc, [this](const QTextBlock& block) {
    if (wrapping_ && heights_ != nullptr) heights_->even_out(block.blockNumber());
  }));
  doc->setDefaultFont(font());
  QTextOption option = doc->defaultTextOption();
  option.setTabStopDistance(tabStopDistance());
  doc->setDefaultTextOption(option);
  if (wrapping_) {
    setDocument(doc);
  } else {
    lay_out_unbounded([this, doc] { setDocument(doc); });
  }
  delete own_document_;
  own_document_ = doc;
  if (syntax_) refresh_syntax_colours();
  return doc;
}

namespace {

// Whether a text goes in on a thread of its own. Short texts do not: a
// thread costs more than it saves on them. Nor does a text of one or two
// rows: the plain-text layout measures the rows of a change that leaves a
// document with one row, or adds just one, and text is measured only on
// the window's thread.
bool threaded(const QString& text) {
  constexpr qsizetype kThreadedText = 256 * 1024;
  if (text.size() < kThreadedText) return false;
  const qsizetype first_end = text.indexOf(QLatin1Char('\n'));
  return first_end >= 0 && text.indexOf(QLatin1Char('\n'), first_end + 1) >= 0;
}

}  // namespace

void fill_rows(QTextDocument* doc, const QString& text) {
  // Inside an edit block: a cursor left outside one works out its x after
  // the insertion, which lays its row out and so measures text.
  QTextCursor cursor(doc);
  cursor.beginEditBlock();
  cursor.insertText(text);
  cursor.endEditBlock();
}

void DiffPane::set_texts(const std::vector<DiffPane*>& panes, const std::vector<QString>& texts) {
  std::vector<QTextDocument*> docs;
  for (DiffPane* pane : panes) docs.push_back(pane->fresh_document());
  // While the texts go in, the documents and their layouts send no signal:
  // nothing but the thread that fills a document touches it or its view
  // until the threads are joined. Without a signal the view hears of the
  // new rows afterwards, in one step, on this thread.
  for (QTextDocument* doc : docs) {
    doc->blockSignals(true);
    doc->documentLayout()->blockSignals(true);
  }
  std::vector<std::thread> workers;
  std::vector<bool> on_worker(docs.size(), false);
  for (std::size_t i = 1; i < docs.size(); ++i) {
    if (!threaded(texts[i])) continue;
    try {
      workers.emplace_back(fill_rows, docs[i], std::cref(texts[i]));
      on_worker[i] = true;
    } catch (const std::system_error&) {
      // No thread to be had: the text goes in below, on this thread.
    }
  }
  for (std::size_t i = 0; i < docs.size(); ++i) {
    if (!on_worker[i]) fill_rows(docs[i], texts[i]);
  }
  for (std::thread& worker : workers) worker.join();
  for (std::size_t i = 0; i < docs.size(); ++i) {
    docs[i]->blockSignals(false);
    auto* layout = static_cast<QPlainTextDocumentLayout*>(docs[i]->documentLayout());
    layout->blockSignals(false);
    // What the layout would have told the view as the rows went in: the
    // document's new size (the view sets its scroll range by it) and that
    // all of it wants painting.
    emit layout->documentSizeChanged(layout->documentSize());
    layout->requestUpdate();
    panes[i]->place_gutter();
  }
}

void DiffPane::set_row_backgrounds(std::vector<QColor> backgrounds) {
  if (backgrounds == backgrounds_) return;
  backgrounds_ = std::move(backgrounds);
  viewport()->update();
}

QColor DiffPane::row_background(int row) const {
  return row >= 0 && static_cast<std::size_t>(row) < backgrounds_.size()
             ? backgrounds_[static_cast<std::size_t>(row)]
             : QColor();
}

void DiffPane::lay_out_unbounded(const std::function<void()>& relayout) {
  // The view gives its document the viewport's width when it lays the whole
  // document out (a new document, a new wrap mode): with no width there,
  // every row is one line as long as its text whatever the pane's width, so
  // no change of width needs the rows laid out again (see resizeEvent).
  const QSize kept = viewport()->size();
  viewport()->resize(0, kept.height());
  relayout();
  viewport()->resize(kept);
}

void DiffPane::set_numbers(std::vector<int> numbers) {
  numbers_ = std::move(numbers);
  largest_number_ = 1;
  for (int n : numbers_) largest_number_ = std::max(largest_number_, n);
  place_gutter();
}

void DiffPane::set_current_rows(int first, int end) {
  current_first_ = first;
  current_end_ = end;
  gutter_->update();
  viewport()->update();
}

void DiffPane::set_line_end_marks(std::vector<std::pair<int, QString>> marks) {
  std::sort(marks.begin(), marks.end(),
            [](const auto& x, const auto& y) { return x.first < y.first; });
  eol_marks_ = std::move(marks);
  viewport()->update();
}

QString line_end_label(std::string_view eol) {
  if (eol == "\r\n") return QStringLiteral("CRLF");
  if (eol == "\n") return QStringLiteral("LF");
  if (eol == "\r") return QStringLiteral("CR");
  return QWidget::tr("no EOL");
}

QRectF DiffPane::row_area(const QTextBlock& block) const {
  if (!block.isValid()) return {};
  QRectF area = blockBoundingGeometry(block).translated(contentOffset());
  // The document's margin is part of the last block's rectangle.
  if (!block.next().isValid())
    area.setHeight(std::max<qreal>(0, area.height() - document()->documentMargin()));
  return area;
}

QRectF DiffPane::row_area(int row) const { return row_area(document()->findBlockByNumber(row)); }

void DiffPane::for_each_mark_box(
    const std::vector<CharMark>& marks, qreal bottom,
    const std::function<void(const CharMark&, const QRectF&, int)>& paint) const {
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    const QRectF area = row_area(block);
    if (area.top() > bottom) break;
    const int row = block.blockNumber();
    auto at = std::lower_bound(marks.begin(), marks.end(), row,
                               [](const CharMark& mark, int r) { return mark.row < r; });
    if (at == marks.end() || at->row != row) continue;
    const QTextLayout* layout = block.layout();
    if (layout == nullptr || layout->lineCount() == 0) continue;
    for (; at != marks.end() && at->row == row; ++at) {
      const int end = at->start + at->length;
      if (layout->lineCount() == 1) {
        // cursorToX counts from the block's left edge, margin included.
        const QTextLine line = layout->lineAt(0);
        const qreal x0 = line.cursorToX(at->start);
        const qreal x1 = line.cursorToX(end);
        paint(*at, QRectF(area.left() + x0, area.top(), x1 - x0, area.height()),
              block.length() - 1);
        continue;
      }
      // A wrapped row: a box on each of its lines the marked characters reach.
      for (int i = layout->lineForTextPosition(at->start).lineNumber();
           i >= 0 && i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        const int line_end = line.textStart() + line.textLength();
        if (line.textStart() >= end && at->length > 0) break;
        const qreal x0 = line.cursorToX(std::max(at->start, line.textStart()));
        const qreal x1 = line.cursorToX(std::min(end, line_end));
        paint(*at, QRectF(area.left() + x0, area.top() + line.y(), x1 - x0, line.height()),
              block.length() - 1);
        if (end <= line_end) break;
      }
    }
  }
}

void DiffPane::paint_under_text(QPaintEvent* event) {
  // The colours of the rows in view, across the whole pane, and the marked
  // characters; the text is painted over them.
  QPainter painter(viewport());
  painter.setClipRect(event->rect());
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    const QRectF area = row_area(block);
    if (area.top() > event->rect().bottom()) break;
    if (const QColor colour = row_background(block.blockNumber()); colour.isValid()) {
      painter.fillRect(QRectF(0, area.top(), viewport()->width(), area.height()), colour);
    }
  }
  for_each_mark_box(marks_, event->rect().bottom(),
                    [&](const CharMark& mark, const QRectF& box, int length) {
                      if (mark.length > 0 && mark.start + mark.length <= length)
                        painter.fillRect(box, mark_colour_);
                    });
}

void DiffPane::paintEvent(QPaintEvent* event) {
  if (syntax_) colour_rows_in_view();
  if (!backgrounds_.empty() || !marks_.empty()) paint_under_text(event);
  QPlainTextEdit::paintEvent(event);
  if (!overlay_.empty()) paint_overlay();
  if (!eol_marks_.empty()) {
    // Each mark in a small box just after its row's text.
    QPainter painter(viewport());
    QFont small = font();
    small.setPointSizeF(std::max(5.0, font().pointSizeF() * 0.7));
    painter.setFont(small);
    const QFontMetrics metrics(small);
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
      const QRectF area = row_area(block);
      if (area.top() > viewport()->height()) break;
      const auto at = std::lower_bound(eol_marks_.begin(), eol_marks_.end(), block.blockNumber(),
                                       [](const auto& mark, int row) { return mark.first < row; });
      if (at == eol_marks_.end() || at->first != block.blockNumber()) continue;
      // After the text's last line: a wrapped row may have empty lines below.
      const QTextLayout* layout = block.layout();
      QTextLine last;
      if (layout != nullptr && layout->lineCount() > 0)
        last = layout->lineForTextPosition(block.length() - 1);
      const qreal text_width = last.isValid() ? last.naturalTextWidth() : 0;
      const qreal line_top = last.isValid() && layout->lineCount() > 1 ? last.y() : 0;
      const qreal line_height =
          last.isValid() && layout->lineCount() > 1 ? last.height() : area.height();
      const int x = static_cast<int>(area.left() + document()->documentMargin() + text_width) + 4;
      const QRect box(x, static_cast<int>(area.top() + line_top) + 2,
                      metrics.horizontalAdvance(at->second) + 6, static_cast<int>(line_height) - 4);
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(255, 235, 200));
      painter.drawRoundedRect(box, 3, 3);
      painter.setPen(QColor(180, 70, 0));
      painter.drawText(box, Qt::AlignCenter, at->second);
    }
  }
  if (current_first_ < 0 || current_end_ <= current_first_) return;
  const QTextBlock first = document()->findBlockByNumber(current_first_);
  const QTextBlock last = document()->findBlockByNumber(current_end_ - 1);
  if (!first.isValid() || !last.isValid()) return;
  const qreal top = row_area(first).top();
  const qreal bottom = row_area(last).bottom();
  const int width = viewport()->width();
  if (bottom < 0 || top > viewport()->height()) return;
  // A frame of two pixels straddling the rows' edges: it stands out against
  // every row colour while the rows and their changed characters stay in view.
  QPainter painter(viewport());
  painter.setPen(Qt::NoPen);
  painter.setBrush(kCurrent);
  const int y0 = static_cast<int>(top) - 1;
  const int y1 = static_cast<int>(bottom) - 1;
  painter.drawRect(0, y0, width, 2);
  painter.drawRect(0, y1, width, 2);
  painter.drawRect(0, y0, 2, y1 - y0 + 2);
  painter.drawRect(width - 2, y0, 2, y1 - y0 + 2);
}

int DiffPane::line_number(int row) const {
  return row >= 0 && static_cast<std::size_t>(row) < numbers_.size()
             ? numbers_[static_cast<std::size_t>(row)]
             : 0;
}

int DiffPane::gutter_width() const {
  const int digits = static_cast<int>(QString::number(largest_number_).size());
  return 10 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(digits, 2) + 6;
}

void DiffPane::place_gutter() {
  setViewportMargins(gutter_width(), 0, 0, 0);
  const QRect area = contentsRect();
  gutter_->setGeometry(QRect(area.left(), area.top(), gutter_width(), area.height()));
  gutter_->update();
}

void DiffPane::resizeEvent(QResizeEvent* event) {
  // The view lays the whole document out again on a change of width (a text
  // layout made for every row, kept until the pane goes); rows laid out at no
  // width (lay_out_unbounded) do not depend on it, so the view is told
  // only of the change of height and adjusts its scroll bars.
  // Wrapped rows do: the view lays them out again at the new width.
  if (wrapping_) {
    QPlainTextEdit::resizeEvent(event);
  } else {
    QResizeEvent same_width(event->size(), QSize(event->size().width(), event->oldSize().height()));
    QPlainTextEdit::resizeEvent(&same_width);
  }
  place_gutter();
}

void DiffPane::changeEvent(QEvent* event) {
  QPlainTextEdit::changeEvent(event);
  // A zoom changes the digits' width.
  if (event->type() == QEvent::FontChange && gutter_ != nullptr) {
    place_gutter();
    set_tab_width(tab_columns_);
  }
}

QPointF DiffPane::onto_text(const QPointF& at) const {
  if (!wrapping_) return at;
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    const QRectF area = row_area(block);
    if (area.top() > at.y()) break;
    if (at.y() >= area.bottom()) continue;
    const int added = RowLayout::added_lines(block);
    const QTextLayout* layout = block.layout();
    if (added == 0 || layout == nullptr || layout->lineCount() <= added) return at;
    // The text's last line ends in the first of the empty lines' breaks:
    // past the text, a point would be after that break.
    const QTextLine last = layout->lineAt(layout->lineCount() - added - 1);
    const qreal end = area.left() + last.cursorToX(block.length() - 1);
    const bool below = at.y() >= area.top() + last.y() + last.height();
    const bool on_last = !below && at.y() >= area.top() + last.y();
    if (!below && !(on_last && at.x() > end - 1)) return at;
    return {std::min(at.x(), end - 1), area.top() + last.y() + last.height() / 2};
  }
  return at;
}

void DiffPane::pass_on(QMouseEvent* event, const std::function<void(QMouseEvent*)>& handle) {
  const QPointF at = onto_text(event->position());
  if (at == event->position()) {
    handle(event);
    return;
  }
  QMouseEvent moved(event->type(), at, event->scenePosition(), event->globalPosition(),
                    event->button(), event->buttons(), event->modifiers());
  handle(&moved);
  event->setAccepted(moved.isAccepted());
}

QTextCursor DiffPane::cursor_at(const QPoint& at) const {
  return cursorForPosition(onto_text(QPointF(at)).toPoint());
}

bool DiffPane::step_over_added_lines(const QKeyEvent* event) {
  const bool down = event->key() == Qt::Key_Down;
  if (!wrapping_ || isReadOnly() || !(down || event->key() == Qt::Key_Up)) return false;
  const Qt::KeyboardModifiers keys = event->modifiers() & ~Qt::KeypadModifier;
  if (keys != Qt::NoModifier && keys != Qt::ShiftModifier) return false;
  QTextCursor cursor = textCursor();
  const QTextBlock from = cursor.block();
  const QTextBlock to = down ? from.next() : from.previous();
  // Empty lines lie in between only after this row's text going down, or
  // after the row above's going up.
  if (!to.isValid() || RowLayout::added_lines(down ? from : to) == 0) return false;
  const QTextLayout* layout = from.layout();
  const QTextLine line = layout->lineForTextPosition(cursor.positionInBlock());
  if (!line.isValid()) return false;
  const int own = layout->lineCount() - RowLayout::added_lines(from);
  if (down ? line.lineNumber() + 1 < own : line.lineNumber() > 0) return false;
  // The row stepped to may not be laid out yet.
  static_cast<void>(document()->documentLayout()->blockBoundingRect(to));
  const QTextLayout* target = to.layout();
  if (target->lineCount() == 0) return false;
  const int target_line =
      down ? 0 : std::max(0, target->lineCount() - RowLayout::added_lines(to) - 1);
  // The column kept across steps, as the view's own steps keep it.
  const int x = cursor.verticalMovementX() >= 0
                    ? cursor.verticalMovementX()
                    : static_cast<int>(line.cursorToX(cursor.positionInBlock()));
  const int in_row = std::min(target->lineAt(target_line).xToCursor(x), to.length() - 1);
  cursor.setPosition(to.position() + in_row,
                     keys == Qt::ShiftModifier ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor);
  cursor.setVerticalMovementX(x);
  setTextCursor(cursor);
  ensureCursorVisible();
  return true;
}

bool DiffPane::turn_page_over_added_lines(const QKeyEvent* event) {
  const bool down = event->key() == Qt::Key_PageDown;
  // Only aligned panes have rows with added lines (a view of its own, as
  // the merged result, keeps the view's page step).
  if (heights_ == nullptr || isReadOnly() || !(down || event->key() == Qt::Key_PageUp))
    return false;
  const Qt::KeyboardModifiers keys = event->modifiers() & ~Qt::KeypadModifier;
  if (keys != Qt::NoModifier && keys != Qt::ShiftModifier) return false;
  const QTextCursor::MoveMode mode =
      keys == Qt::ShiftModifier ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor;
  QTextCursor cursor = textCursor();
  const QPoint at = cursorRect(cursor).center();
  QScrollBar* bar = verticalScrollBar();
  const int before = bar->value();
  bar->triggerAction(down ? QAbstractSlider::SliderPageStepAdd
                          : QAbstractSlider::SliderPageStepSub);
  if (bar->value() == before) {
    // No page further: to the end or the start, as the view does.
    cursor.movePosition(down ? QTextCursor::End : QTextCursor::Start, mode);
  } else {
    const int x = cursor.verticalMovementX() >= 0 ? cursor.verticalMovementX() : at.x();
    const int y = std::clamp(at.y(), 0, std::max(0, viewport()->height() - 1));
    cursor.setPosition(cursor_at(QPoint(x, y)).position(), mode);
    cursor.setVerticalMovementX(x);
  }
  setTextCursor(cursor);
  ensureCursorVisible();
  return true;
}

void DiffPane::keyPressEvent(QKeyEvent* event) {
  if (step_over_added_lines(event) || turn_page_over_added_lines(event)) {
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void DiffPane::mousePressEvent(QMouseEvent* event) {
  pass_on(event, [this](QMouseEvent* e) { QPlainTextEdit::mousePressEvent(e); });
}

void DiffPane::mouseMoveEvent(QMouseEvent* event) {
  pass_on(event, [this](QMouseEvent* e) { QPlainTextEdit::mouseMoveEvent(e); });
}

void DiffPane::mouseReleaseEvent(QMouseEvent* event) {
  pass_on(event, [this](QMouseEvent* e) { QPlainTextEdit::mouseReleaseEvent(e); });
}

void DiffPane::mouseDoubleClickEvent(QMouseEvent* event) {
  pass_on(event, [this](QMouseEvent* e) { QPlainTextEdit::mouseDoubleClickEvent(e); });
}

void DiffPane::set_wrapping(bool on, RowHeights* heights) {
  heights_ = on ? heights : nullptr;
  if (on == wrapping_) return;
  wrapping_ = on;
  if (on) {
    sideways_policy_ = horizontalScrollBarPolicy();
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    horizontalScrollBar()->setValue(0);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
  } else {
    if (auto* layout = dynamic_cast<RowLayout*>(document()->documentLayout()))
      layout->remove_added_lines();
    lay_out_unbounded([this] { setLineWrapMode(QPlainTextEdit::NoWrap); });
    setHorizontalScrollBarPolicy(sideways_policy_);
  }
  place_gutter();
  viewport()->update();
}

void DiffPane::set_tab_width(int columns) {
  tab_columns_ = std::clamp(columns, 1, 16);
  setTabStopDistance(QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' ')) * tab_columns_);
}

int DiffPane::column_x(int row, int column) const {
  const QTextBlock block = document()->findBlockByNumber(row);
  if (!block.isValid()) return -1;
  // A layout of its own: the view lays out only the rows it has shown.
  QTextLayout layout(block.text(), document()->defaultFont());
  QTextOption option = document()->defaultTextOption();
  option.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  layout.endLayout();
  if (!line.isValid()) return -1;
  const int at = std::clamp(column, 0, static_cast<int>(block.text().size()));
  return static_cast<int>(line.cursorToX(at) + document()->documentMargin());
}

void DiffPane::scrollContentsBy(int dx, int dy) {
  QPlainTextEdit::scrollContentsBy(dx, dy);
  // The frame of the current difference spans the pane and stays put when
  // the rows move sideways: the view moves what it shows by copying it, so
  // the frame's copied edges are painted over again.
  if (dx != 0 && current_first_ >= 0) viewport()->update();
}

int DiffPane::side_room() const {
  return std::min(viewport()->width() / 4, fontMetrics().horizontalAdvance(QLatin1Char('m')) * 8);
}

int DiffPane::left_to_show(int x) const {
  if (wrapping_) return 0;
  const int now = horizontalScrollBar()->value();
  const int width = viewport()->width();
  const int room = side_room();
  if (x - room >= now && x + room <= now + width) return now;
  // From the left edge when that shows it; else with a third of the width
  // to its left, so the change and what follows it are in view.
  if (x + room <= width) return 0;
  return std::max(0, x - width / 3);
}

void DiffPane::paint_gutter(QPaintEvent* event) {
  QPainter painter(gutter_);
  painter.fillRect(event->rect(), QColor(244, 244, 244));
  painter.setPen(QColor(215, 215, 215));
  painter.drawLine(gutter_->width() - 1, event->rect().top(), gutter_->width() - 1,
                   event->rect().bottom());
  painter.setFont(font());
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    const QRectF area = row_area(block);
    const qreal top = area.top();
    const qreal height = area.height();
    if (top > event->rect().bottom()) break;
    const int row = block.blockNumber();
    // The number beside a wrapped row's first line.
    const QTextLayout* layout = block.layout();
    const qreal first_height =
        layout != nullptr && layout->lineCount() > 1 ? layout->lineAt(0).height() : height;
    const QRectF line(0, top, gutter_->width() - 6, first_height);
    if (row >= current_first_ && row < current_end_) {
      painter.fillRect(QRectF(0, top, gutter_->width() - 1, height), kCurrentGutter);
      painter.fillRect(QRectF(0, top, 4, height), kCurrent);
    }
    if (const int number = line_number(row); number > 0) {
      painter.setPen(QColor(120, 120, 120));
      painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, QString::number(number));
    }
  }
}

// Whether a contributor is no file at all: a path that does not exist, or
// the null device that stands for the side of an added or deleted file.
bool is_absent(const std::string& path) {
  if (path == "/dev/null" || path == "nul" || path == "NUL") return true;
  std::error_code ec;
  return !std::filesystem::exists(path, ec);
}

// "UTF-8 · BOM · CRLF · 120 lines": how the file is stored.
QString file_note(const TextDocument& doc, bool absent) {
  if (absent) return QWidget::tr("absent: no such file on this side");
  QStringList parts;
  parts << QString::fromLatin1(encoding_name(doc.encoding));
  if (doc.bom) parts << QWidget::tr("BOM");
  const TextFacts facts = text_facts(doc);
  if (facts.lf != 0 && facts.crlf != 0) {
    parts << QWidget::tr("mixed line ends (%1 LF, %2 CRLF)").arg(facts.lf).arg(facts.crlf);
  } else if (facts.crlf != 0) {
    parts << QStringLiteral("CRLF");
  } else if (facts.lf != 0) {
    parts << QStringLiteral("LF");
  }
  if (facts.cr != 0) parts << QStringLiteral("CR");
  if (facts.returns_inside_lines) {
    parts << QWidget::tr("carriage returns inside lines, shown as %1").arg(kCarriageReturnMark);
  }
  if (facts.no_end_at_end) parts << QWidget::tr("no line end at the end");
  parts << (doc.lines.size() == 1 ? QWidget::tr("1 line")
                                  : QWidget::tr("%1 lines").arg(doc.lines.size()));
  return parts.join(QStringLiteral(" \u00B7 "));
}

// The UTF-16 units of utf8[from, to) (a four-byte character takes two).
int utf16_units(std::string_view utf8, std::size_t from, std::size_t to) {
  int units = 0;
  for (std::size_t i = from; i < to && i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

void add_marks(std::vector<CharMark>* marks, int row, std::string_view text,
               const std::vector<TextRange>& ranges) {
  for (const TextRange& r : ranges) {
    marks->push_back(CharMark{row, utf16_units(text, 0, r.start),
                              utf16_units(text, r.start, r.start + r.length)});
  }
}

void DiffPane::set_overlay_marks(std::vector<CharMark> marks, const QColor& colour) {
  std::sort(marks.begin(), marks.end(),
            [](const CharMark& x, const CharMark& y) { return x.row < y.row; });
  overlay_ = std::move(marks);
  overlay_colour_ = colour;
  viewport()->update();
}

void DiffPane::paint_overlay() {
  // Translucent boxes over the marked characters: the rows keep the colours
  // the window gives them and the changed characters still stand out.
  QPainter painter(viewport());
  for_each_mark_box(overlay_, viewport()->height(), [&](const CharMark&, const QRectF& box, int) {
    painter.fillRect(QRectF(box.left(), box.top(), std::max<qreal>(box.width(), 2), box.height()),
                     overlay_colour_);
  });
}

}  // namespace marlow

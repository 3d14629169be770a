#include "app/compare_window.h"

#include "app/give_back_memory.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

#include "app/compare_menu.h"
#include "app/find_bar.h"
#include "app/keys.h"
#include "app/overview.h"
#include "app/settings.h"
#include "app/shortcuts_help.h"
#include "app/window_fit.h"
#include "engine/diff.h"
#include "engine/inline_diff.h"
#include "serve/xmlrpc.h"

namespace marlow {
namespace {

// Sorted, merged union of ranges.
std::vector<TextRange> merged(std::vector<TextRange> ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const TextRange& a, const TextRange& b) { return a.start < b.start; });
  std::vector<TextRange> out;
  for (const TextRange& r : ranges) {
    if (!out.empty() && r.start <= out.back().start + out.back().length) {
      const std::size_t end = std::max(out.back().start + out.back().length, r.start + r.length);
      out.back().length = end - out.back().start;
    } else {
      out.push_back(r);
    }
  }
  return out;
}

QColor colour_of(CellKind kind) {
  switch (kind) {
    case CellKind::same:
      return QColor();
    case CellKind::changed:
      return kChanged;
    case CellKind::added:
      return kAdded;
    case CellKind::removed:
      return kRemoved;
    case CellKind::filler:
      return kFiller;
  }
  return QColor();
}

}  // namespace

CompareWindow::CompareWindow(Job job, Finish finish)
    : job_(std::move(job)), finish_(std::move(finish)) {
  setAttribute(Qt::WA_DeleteOnClose);
  QStringList names;
  for (const std::string& name : job_.request.display_names) names << q(name);
  setWindowTitle(tr("Compare - %1").arg(names.join(QStringLiteral(" / "))));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(make_bar());
  layout->addWidget(make_long_line_note());
  layout->addWidget(make_panes(names), 1);
  find_bar_ = new FindBar(this, std::vector<QPlainTextEdit*>(panes_.begin(), panes_.end()));
  layout->addWidget(find_bar_);
  connect_controls();

  fit_to_screen(this, QStringLiteral("compare"),
                QSize(160 + 480 * static_cast<int>(panes_.size()), 860));
  lay_out_rows();
  if (!differences_.empty()) go_to_difference(0);
}

QLayout* CompareWindow::make_bar() {
  auto* bar = new QHBoxLayout();
  prev_ = new QPushButton(tr("Previous difference"), this);
  next_ = new QPushButton(tr("Next difference"), this);
  prev_->setToolTip(tr("Go to the previous difference (Shift+F8, Alt+Up)"));
  next_->setToolTip(tr("Go to the next difference (F8, Alt+Down)"));
  status_ = new QLabel(this);
  ignore_eol_ = new QCheckBox(tr("Ignore line ends"), this);
  ignore_eol_->setToolTip(
      tr("Count lines that differ only in their line ends (CRLF, LF, none at "
         "the end) as equal"));
  ignore_blanks_ = new QCheckBox(tr("Ignore whitespace"), this);
  ignore_blanks_->setToolTip(tr("Count lines that differ only in spaces and tabs as equal"));
  tab_width_ = new QSpinBox(this);
  tab_width_->setRange(1, 16);
  tab_width_->setValue(tab_width_preference());
  tab_width_->setPrefix(tr("Tab width "));
  tab_width_->setToolTip(tr("How many columns a tab takes in the panes"));
  close_ = new QPushButton(tr("Close"), this);
  close_->setDefault(true);
  close_->setToolTip(tr("Close the window (Ctrl+W, Escape)"));
  bar->addWidget(prev_);
  bar->addWidget(next_);
  bar->addSpacing(12);
  // The status takes the room there is and never more: no message widens
  // the window.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  status_->setMinimumWidth(120);
  bar->addWidget(status_, 1);
  bar->addWidget(tab_width_);
  bar->addWidget(ignore_blanks_);
  bar->addWidget(ignore_eol_);
  bar->addSpacing(12);
  bar->addWidget(add_shortcuts_help(this));
  bar->addWidget(close_);
  return bar;
}

QWidget* CompareWindow::make_long_line_note() {
  // Long changed lines are marked only from their first to their last
  // changed character: the window says so, and marks them fully on demand.
  long_note_ = new QWidget(this);
  long_note_->setObjectName(QStringLiteral("long_lines"));
  auto* row = new QHBoxLayout(long_note_);
  row->setContentsMargins(0, 0, 0, 0);
  long_note_text_ = new QLabel(long_note_);
  long_note_text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  auto* mark = new QPushButton(tr("&Mark them anyway"), long_note_);
  mark->setToolTip(tr("Find the changed characters of the long lines too (may take a while)"));
  connect(mark, &QPushButton::clicked, this, [this] { set_mark_long_lines(true); });
  row->addWidget(long_note_text_, 1);
  row->addWidget(mark);
  long_note_->setVisible(false);
  return long_note_;
}

void CompareWindow::show_long_line_note(int rows) {
  long_note_->setVisible(rows > 0);
  if (rows == 0) return;
  const QString what = rows == 1 ? tr("1 changed line longer than %1 bytes is")
                                 : tr("%1 changed lines longer than %2 bytes are").arg(rows);
  long_note_text_->setText(
      tr("%1 marked only from the first to the last changed character, not the changes "
         "inside.")
          .arg(what.arg(kCharDiffLimit)));
}

void CompareWindow::set_mark_long_lines(bool mark) {
  if (mark == mark_long_lines_) return;
  mark_long_lines_ = mark;
  relayout_near_current();
}

QWidget* CompareWindow::make_panes(const QStringList& names) {
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->setChildrenCollapsible(false);
  sync_ = new PaneSync(this);
  const std::size_t n = job_.docs.size();
  for (std::size_t i = 0; i < n; ++i) {
    auto* column = new QWidget(splitter);
    auto* column_layout = new QVBoxLayout(column);
    column_layout->setContentsMargins(0, 0, 0, 0);
    column_layout->setSpacing(2);
    const QString name =
        static_cast<qsizetype>(i) < names.size() ? names[static_cast<qsizetype>(i)] : QString();
    add_pane_header(column, i, name);
    auto* pane = new DiffPane(column);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // One vertical scroll bar, on the right, moves all panes. It is always
    // there, so the last pane keeps its width whatever the rows.
    pane->setVerticalScrollBarPolicy(i + 1 < n ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    if (i + 1 < n) {
      column_layout->addWidget(pane);
    } else {
      // The overview stands right of the last pane, level with the panes.
      auto* row = new QHBoxLayout();
      row->setSpacing(2);
      row->addWidget(pane, 1);
      map_ = new OverviewStrip(column, tr("Differences in the whole text; click to go to one"),
                               [this](int index) { go_to_difference(index); });
      row->addWidget(map_);
      column_layout->addLayout(row, 1);
    }
    panes_.push_back(pane);
    sync_->add_aligned(pane);
  }
  return splitter;
}

void CompareWindow::add_pane_header(QWidget* column, std::size_t i, const QString& name) {
  const QString path =
      i < job_.request.contributors.size() ? q(job_.request.contributors[i]) : QString();
  auto* title = new ElidedLabel(name, column);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  const bool absent =
      i < job_.request.contributors.size() && is_absent(job_.request.contributors[i]);
  auto* note = new QLabel(file_note(job_.docs[i], absent), column);
  if (absent) note->setObjectName(QStringLiteral("absent"));
  note->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  QFont small = note->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  note->setFont(small);
  note->setStyleSheet(QStringLiteral("color: #666666"));
  const QString tip = name == path ? path : tr("%1\n%2").arg(name, path);
  title->setToolTip(tip);
  note->setToolTip(tip);
  column->layout()->addWidget(title);
  column->layout()->addWidget(note);
}

void CompareWindow::connect_controls() {
  connect(prev_, &QPushButton::clicked, this, [this] { go_to_difference(current_ - 1); });
  connect(next_, &QPushButton::clicked, this, [this] { go_to_difference(current_ + 1); });
  const auto shortcut = [this](const QKeySequence& keys, int step) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this,
            [this, step] { go_to_difference(current_ + step); });
  };
  shortcut(keys::next(), 1);
  shortcut(keys::next_too(), 1);
  shortcut(keys::previous(), -1);
  shortcut(keys::previous_too(), -1);
  connect(ignore_eol_, &QCheckBox::toggled, this, &CompareWindow::set_ignore_line_ends);
  connect(ignore_blanks_, &QCheckBox::toggled, this, &CompareWindow::set_ignore_whitespace);
  connect(tab_width_, &QSpinBox::valueChanged, this, [this](int columns) {
    set_tab_width_preference(columns);
    for (DiffPane* pane : panes_) pane->set_tab_width(columns);
  });
  ignore_line_ends_ = ignore_line_ends_preference();
  ignore_whitespace_ = ignore_whitespace_preference();
  ignore_eol_->setChecked(ignore_line_ends_);
  ignore_blanks_->setChecked(ignore_whitespace_);
  connect(close_, &QPushButton::clicked, this, &QWidget::close);
  for (const QKeySequence& keys : {keys::close(), keys::dismiss()}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
  }

  add_compare_pane_menus(this);
}

void CompareWindow::lay_out_rows() {
  current_ = -1;
  fill_panes();
  if (map_ != nullptr) {
    std::vector<OverviewStrip::Mark> marks;
    for (const auto& [first, end] : differences_)
      marks.push_back({first, end, QColor(230, 150, 40)});
    static_cast<OverviewStrip*>(map_)->set(panes_.front()->blockCount(),
                                           panes_.front()->fontMetrics().lineSpacing(),
                                           std::move(marks));
    map_->setVisible(!differences_.empty());
  }
  show_status();
}

void CompareWindow::set_ignore_line_ends(bool ignore) {
  if (ignore == ignore_line_ends_) return;
  ignore_line_ends_ = ignore;
  set_ignore_line_ends_preference(ignore);
  {
    const QSignalBlocker quiet(ignore_eol_);
    ignore_eol_->setChecked(ignore);
  }
  relayout_near_current();
}

void CompareWindow::set_ignore_whitespace(bool ignore) {
  if (ignore == ignore_whitespace_) return;
  ignore_whitespace_ = ignore;
  set_ignore_whitespace_preference(ignore);
  {
    const QSignalBlocker quiet(ignore_blanks_);
    ignore_blanks_->setChecked(ignore);
  }
  relayout_near_current();
}

void CompareWindow::relayout_near_current() {
  // Stay near the place in view: the first difference that ends after the
  // current one's start (or after the top row when there was none).
  const int from = current_ >= 0 ? differences_[static_cast<std::size_t>(current_)].first
                                 : panes_.front()->verticalScrollBar()->value();
  lay_out_rows();
  if (differences_.empty()) return;
  int next = difference_count() - 1;
  for (int i = 0; i < difference_count(); ++i) {
    if (differences_[static_cast<std::size_t>(i)].second > from) {
      next = i;
      break;
    }
  }
  go_to_difference(next);
}

void CompareWindow::keyPressEvent(QKeyEvent* event) {
  // Enter anywhere no control takes it is the default button's: Close.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

QString CompareWindow::long_line_note_text() const { return long_note_text_->text(); }

CompareWindow::~CompareWindow() {
  // A window destroyed without a close event (for example at exit) still answers.
  if (finish_) finish_(boolean_reply(true));
  give_back_freed_memory_soon();
}

void CompareWindow::fill_panes() {
  std::vector<std::vector<Line>> texts;
  texts.reserve(job_.docs.size());
  for (const TextDocument& doc : job_.docs) texts.push_back(doc.lines);
  // The rows index the lines as they are, which the panes show.
  const RowAlignment rows = align_rows(
      texts, IgnoreOptions{.ignore_whitespace = ignore_whitespace_,
                           .ignore_line_ends = ignore_line_ends_});
  differences_.clear();
  const std::size_t n = texts.size();

  // Each contributor's changed characters against contributor 0; contributor
  // 0 shows the characters that any of the others changed.
  std::vector<std::vector<CharMark>> marks(n);
  int coarse_rows = 0;
  for (const auto& [first, end] : rows.differences) {
    differences_.emplace_back(static_cast<int>(first), static_cast<int>(end));
    for (std::size_t row = first; row < end; ++row) {
      if (rows.kind[0][row] != CellKind::changed) continue;
      const LineText& base = texts[0][rows.line[0][row]].text;
      std::vector<TextRange> base_ranges;
      bool coarse = false;
      for (std::size_t s = 1; s < n; ++s) {
        if (rows.kind[s][row] != CellKind::changed) continue;
        const LineText& other = texts[s][rows.line[s][row]].text;
        InlineDiff d = diff_chars_within_limit(base, other, mark_long_lines_, &coarse);
        if (ignore_whitespace_) drop_blank_ranges(&d, base, other);
        add_marks(&marks[s], static_cast<int>(row), other, d.other);
        base_ranges.insert(base_ranges.end(), d.base.begin(), d.base.end());
      }
      add_marks(&marks[0], static_cast<int>(row), base, merged(std::move(base_ranges)));
      if (coarse) ++coarse_rows;
    }
  }
  show_long_line_note(coarse_rows);

  // Rows whose line ends differ between the sides that have them show each
  // side's line end: otherwise they would look identical.
  std::vector<std::vector<std::pair<int, QString>>> eol_marks(n);
  for (std::size_t row = 0; row < rows.rows; ++row) {
    const LineEnd* first = nullptr;
    bool differ = false;
    for (std::size_t s = 0; s < n; ++s) {
      if (rows.line[s][row] == kNoLine) continue;
      const LineEnd& eol = texts[s][rows.line[s][row]].eol;
      if (first == nullptr) first = &eol;
      differ = differ || eol != *first;
    }
    if (!differ) continue;
    for (std::size_t s = 0; s < n; ++s) {
      if (rows.line[s][row] == kNoLine) continue;
      eol_marks[s].emplace_back(static_cast<int>(row),
                                line_end_label(texts[s][rows.line[s][row]].eol));
    }
  }

  std::vector<QString> pane_texts(n);
  std::vector<std::vector<int>> numbers(n, std::vector<int>(rows.rows, 0));
  std::vector<std::vector<QColor>> backgrounds(n, std::vector<QColor>(rows.rows));
  for (std::size_t s = 0; s < n; ++s) {
    // The rows' text joined in UTF-8 and turned into UTF-16 in one step.
    std::string bytes;
    for (std::size_t row = 0; row < rows.rows; ++row) {
      if (row != 0) bytes += '\n';
      const std::size_t line = rows.line[s][row];
      if (line != kNoLine) {
        const std::string_view text = texts[s][line].text;
        bytes.append(text.data(), text.size());
        numbers[s][row] = static_cast<int>(line) + 1;
      }
      backgrounds[s][row] = colour_of(rows.kind[s][row]);
    }
    pane_texts[s] = shown_text(bytes);
  }
  for (std::size_t s = 0; s < n; ++s) {
    panes_[s]->set_row_marks(std::move(numbers[s]), std::move(backgrounds[s]), marks[s],
                             kChangedText);
    panes_[s]->set_line_end_marks(std::move(eol_marks[s]));
  }
  DiffPane::set_texts(panes_, pane_texts);
  marks_ = std::move(marks);
}

void CompareWindow::go_to_difference(int index) {
  if (index < 0 || index >= difference_count()) return;
  current_ = index;
  const auto [first, end] = differences_[static_cast<std::size_t>(index)];
  for (DiffPane* pane : panes_) {
    sync_->put_cursor(pane, first);
    pane->set_current_rows(first, end);
  }
  // The whole difference in the middle when it fits, else its start near
  // the top (rows are one line each: the scroll value is the top row).
  DiffPane* lead = panes_.front();
  const int visible = std::max(1, lead->viewport()->height() / lead->fontMetrics().lineSpacing());
  const int span = end - first;
  const int top = span + 4 >= visible ? first - 2 : first - (visible - span) / 2;
  sync_->set_top_row(std::max(0, top));
  place_sideways();
  show_status();
}

void CompareWindow::place_sideways() {
  if (current_ < 0) return;
  const auto [first, end] = differences_[static_cast<std::size_t>(current_)];
  DiffPane* lead = panes_.front();
  // Sideways, the first changed character of the difference in any pane
  // (a whole changed row starts at its left edge).
  int x = -1;
  for (std::size_t s = 0; s < panes_.size() && s < marks_.size(); ++s) {
    for (const CharMark& mark : marks_[s]) {
      if (mark.row < first || mark.row >= end) continue;
      const int at = panes_[s]->column_x(mark.row, mark.start);
      if (at >= 0 && (x < 0 || at < x)) x = at;
    }
  }
  sync_->set_left(lead->left_to_show(std::max(0, x)));
  placed_left_ = lead->horizontalScrollBar()->value();
}

void CompareWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A position worked out for another width (before the window manager
  // gave the window its size, say) is worked out again from the left edge,
  // unless the user has scrolled sideways since.
  if (current_ < 0 || panes_.front()->horizontalScrollBar()->value() != placed_left_) return;
  sync_->set_left(0);
  place_sideways();
}

void CompareWindow::show_status() {
  const auto same_lines = [this] {
    for (const TextDocument& doc : job_.docs) {
      if (doc.lines != job_.docs.front().lines) return false;
    }
    return true;
  };
  if (differences_.empty()) {
    status_->setText(same_lines()         ? tr("The texts are identical")
                     : ignore_whitespace_ ? tr("The texts differ only in what is ignored")
                                          : tr("The texts differ only in their line ends"));
  } else if (current_ < 0) {
    status_->setText(difference_count() == 1 ? tr("1 difference")
                                             : tr("%1 differences").arg(difference_count()));
  } else {
    status_->setText(tr("Difference %1 of %2").arg(current_ + 1).arg(difference_count()));
  }
  if (map_ != nullptr)
    static_cast<OverviewStrip*>(map_)->set_current(current_, QColor(50, 110, 210));
  prev_->setEnabled(current_ > 0);
  next_->setEnabled(current_ + 1 < difference_count());
}

void CompareWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Place the first difference again now that the panes have their size.
  // The sideways position worked out at the panes' first, smaller size is
  // dropped: kept, it would stay wherever it still shows the change.
  if (!shown_ && current_ >= 0) {
    sync_->set_left(0);
    go_to_difference(current_);
  }
  shown_ = true;
}

void CompareWindow::closeEvent(QCloseEvent* event) {
  if (finish_) {
    finish_(boolean_reply(true));
    finish_ = nullptr;
  }
  event->accept();
}

}  // namespace marlow

#include "app/compare_window.h"

#include "app/give_back_memory.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "app/commands.h"
#include "app/compare_menu.h"
#include "app/find_bar.h"
#include "app/keys.h"
#include "app/overview.h"
#include "app/settings.h"
#include "app/shortcuts_help.h"
#include "app/window_fit.h"
#include "app/wrap.h"
#include "engine/diff.h"
#include "engine/inline_diff.h"
#include "serve/xmlrpc.h"

namespace marlow {
namespace {

// Changes when a text's lines do: an edit or a reload gives every line it
// touches a buffer of its own.
std::size_t text_fingerprint(const std::vector<Line>& lines) {
  std::size_t print = lines.size();
  for (const Line& line : lines) {
    print = print * 31 + reinterpret_cast<std::uintptr_t>(line.text.data()) + line.text.size();
  }
  return print;
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
    : job_(std::move(job)), answer_(std::move(finish)) {
  setAttribute(Qt::WA_DeleteOnClose);
  // The session owns the texts from here on; the job keeps the call.
  std::vector<TextDocument> docs = std::move(job_.docs);
  job_.docs.clear();
  if (docs.empty()) docs.emplace_back();
  session_ = std::move(CompareSession::open(std::move(docs), ignore_options_preference()).value());
  session_->add_observer(this);
  // A contributor can be edited where its file is a file the user may write.
  for (std::size_t i = 0; i < session_->text_count() && i < job_.request.contributors.size(); ++i) {
    const std::string& path = job_.request.contributors[i];
    const QFileInfo file(q(path));
    session_->set_writable(i, !is_absent(path) && file.isFile() && file.isWritable());
  }
  QStringList names;
  for (const std::string& name : job_.request.display_names) names << q(name);
  setWindowTitle(tr("Compare - %1").arg(names.join(QStringLiteral(" / "))));

  make_commands();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(make_bar());
  layout->addWidget(make_long_line_note());
  layout->addWidget(make_edit_bar());
  layout->addWidget(make_reload_bar());
  layout->addWidget(make_panes(names), 1);
  if (wrap_->isChecked()) sync_->set_wrapping(true);
  find_bar_ = new FindBar(this, std::vector<QPlainTextEdit*>(panes_.begin(), panes_.end()));
  layout->addWidget(find_bar_);
  connect_controls();

  fit_to_screen(this, QStringLiteral("compare"),
                QSize(160 + 480 * static_cast<int>(panes_.size()), 860));
  lay_out_rows();
  if (difference_count() > 0) go_to_difference(0);
}

void CompareWindow::make_commands() {
  Commands& c = commands_;
  c.previous = add_command(
      this, tr("Previous difference"), {keys::previous(), keys::previous_too()},
      [this] { go_to_difference(current_difference() - 1); }, tr("Go to the previous difference"));
  c.next = add_command(
      this, tr("Next difference"), {keys::next(), keys::next_too()},
      [this] { go_to_difference(current_difference() + 1); }, tr("Go to the next difference"));
  c.copy_left = add_command(
      this, tr("Copy the difference to the left"), {keys::copy_to_left()},
      [this] { copy_difference(-1); }, tr("Copy the difference to the pane on the left"));
  c.copy_left->setIconText(tr("Copy to left"));
  c.copy_right = add_command(
      this, tr("Copy the difference to the right"), {keys::copy_to_right()},
      [this] { copy_difference(1); }, tr("Copy the difference to the pane on the right"));
  c.copy_right->setIconText(tr("Copy to right"));
  c.undo = add_command(
      this, tr("Undo"), QKeySequence::keyBindings(QKeySequence::Undo), [this] { undo(); },
      tr("Undo the last copy or typing"));
  c.redo = add_command(
      this, tr("Redo"), {keys::redo(), keys::redo_too()}, [this] { redo(); },
      tr("Do again the copy or typing undone"));
  c.save = add_command(
      this, tr("Save"), QKeySequence::keyBindings(QKeySequence::Save), [this] { save(); },
      tr("Write the edited files"));
  c.edit = add_command(
      this, tr("Edit"), {keys::edit()}, [this](bool on) { set_editing(on); },
      tr("Type in the panes of files that can be written, or stop"));
  c.edit->setCheckable(true);
  c.ignore_whitespace = add_command(
      this, tr("Ignore whitespace"), {}, [this](bool on) { set_ignore_whitespace(on); },
      tr("Count lines that differ only in spaces and tabs as equal"));
  c.ignore_whitespace->setCheckable(true);
  c.ignore_line_ends = add_command(
      this, tr("Ignore line ends"), {}, [this](bool on) { set_ignore_line_ends(on); },
      tr("Count lines that differ only in their line ends (CRLF, LF, none at the end) as equal"));
  c.ignore_line_ends->setCheckable(true);
  c.go_to_line = add_command(
      this, tr("Go to line..."), {keys::go_to_line()}, [this] { ask_go_to_line(); },
      tr("Go to a line of the focused pane's file"));
  c.next_pane = add_command(
      this, tr("Next pane"), {keys::next_pane()}, [this] { focus_pane(1); },
      tr("Focus to the next pane"));
  c.previous_pane = add_command(
      this, tr("Previous pane"), {keys::previous_pane()}, [this] { focus_pane(-1); },
      tr("Focus to the previous pane"));
  c.close = add_command(
      this, tr("Close"), {keys::close(), keys::dismiss()}, [this] { close(); },
      tr("Close the window"));
}

void CompareWindow::update_actions() {
  const Commands& c = commands_;
  if (c.close == nullptr || panes_.empty()) return;  // still being made
  const int current = current_difference();
  c.previous->setEnabled(current > 0);
  c.next->setEnabled(current + 1 < difference_count());
  c.copy_left->setEnabled(can_copy(-1));
  c.copy_right->setEnabled(can_copy(1));
  c.undo->setEnabled(session_->can_undo());
  c.redo->setEnabled(session_->can_redo());
  c.save->setEnabled(has_unsaved_edits());
  bool any = false;
  for (std::size_t i = 0; i < session_->text_count(); ++i) any = any || session_->writable(i);
  c.edit->setEnabled(any);
  c.ignore_whitespace->setChecked(ignore_whitespace());
  c.ignore_line_ends->setChecked(ignore_line_ends());
}

bool CompareWindow::can_copy(int step) const {
  const int n = pane_count();
  int from = focused_pane();
  if (from < 0) from = step < 0 ? n - 1 : 0;
  const int to = from + step;
  return difference_count() > 0 && to >= 0 && to < n &&
         session_->writable(static_cast<std::size_t>(to));
}

QLayout* CompareWindow::make_bar() {
  auto* bar = new QHBoxLayout();
  QPushButton* prev = command_button(commands_.previous, this);
  QPushButton* next = command_button(commands_.next, this);
  status_ = new QLabel(this);
  wrap_ = make_wrap_action(this, [this](bool on) { sync_->set_wrapping(on); });
  ignore_eol_ = new QCheckBox(this);
  show_command(ignore_eol_, commands_.ignore_line_ends);
  ignore_blanks_ = new QCheckBox(this);
  show_command(ignore_blanks_, commands_.ignore_whitespace);
  // A small button: the bar keeps the width it had.
  more_ignoring_ = new QToolButton(this);
  more_ignoring_->setText(tr("More"));
  more_ignoring_->setPopupMode(QToolButton::InstantPopup);
  more_ignoring_->setToolTip(
      tr("More that may be ignored: case, the amount of whitespace, blank lines, lines "
         "matching a filter; wrapping long lines"));
  more_ignoring_->setMenu(ignore_menu(this, more_ignoring_));
  tab_width_ = new QSpinBox(this);
  tab_width_->setRange(1, 16);
  tab_width_->setValue(tab_width_preference());
  tab_width_->setPrefix(tr("Tab width "));
  tab_width_->setToolTip(tr("How many columns a tab takes in the panes"));
  QPushButton* close = command_button(commands_.close, this);
  close->setDefault(true);
  bar->addWidget(prev);
  bar->addWidget(next);
  bar->addSpacing(12);
  // The status takes the room there is and never more: no message widens
  // the window.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  status_->setMinimumWidth(80);
  bar->addWidget(status_, 1);
  bar->addWidget(tab_width_);
  bar->addWidget(ignore_blanks_);
  bar->addWidget(ignore_eol_);
  bar->addWidget(more_ignoring_);
  bar->addSpacing(12);
  bar->addWidget(add_shortcuts_help(this));
  bar->addWidget(close);
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
  session_->set_mark_long_lines(mark, top_row());
}

bool CompareWindow::mark_long_lines() const { return session_->mark_long_lines(); }

QWidget* CompareWindow::make_panes(const QStringList& names) {
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  typed_.assign(session_->text_count(), false);
  // What is typed goes into the session once typing pauses.
  typing_timer_ = new QTimer(this);
  typing_timer_->setSingleShot(true);
  typing_timer_->setInterval(600);
  connect(typing_timer_, &QTimer::timeout, this, &CompareWindow::take_typing);
  splitter->setChildrenCollapsible(false);
  sync_ = new PaneSync(this);
  const std::size_t n = session_->text_count();
  for (std::size_t i = 0; i < n; ++i) {
    auto* column = new QWidget(splitter);
    auto* column_layout = new QVBoxLayout(column);
    column_layout->setContentsMargins(0, 0, 0, 0);
    column_layout->setSpacing(2);
    const QString name =
        static_cast<qsizetype>(i) < names.size() ? names[static_cast<qsizetype>(i)] : QString();
    add_pane_header(column, i, name);
    auto* pane = new DiffPane(column);
    pane->highlight_syntax(i < job_.request.contributors.size() ? job_.request.contributors[i] : "",
                           session_->text(i).lines);
    highlighted_.push_back(text_fingerprint(session_->text(i).lines));
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
    pane->installEventFilter(this);
    if (session_->writable(i)) {
      connect(pane, &QPlainTextEdit::textChanged, this, [this, i] {
        if (filling_) return;
        typed_[i] = true;
        typing_timer_->start();
      });
    }
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
  auto* note = new QLabel(file_note(session_->text(i), absent), column);
  notes_.push_back(note);
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
  connect(tab_width_, &QSpinBox::valueChanged, this, [this](int columns) {
    set_tab_width_preference(columns);
    for (DiffPane* pane : panes_) pane->set_tab_width(columns);
  });
  // The copies go from the focused pane: their state follows the focus.
  focus_watch_ = connect(qApp, &QApplication::focusChanged, this, [this] { update_actions(); });
  add_compare_pane_menus(this);
}

int CompareWindow::difference_count() const {
  return static_cast<int>(session_->differences().size());
}

int CompareWindow::current_difference() const {
  return session_->current() ? static_cast<int>(*session_->current()) : -1;
}

bool CompareWindow::ignore_line_ends() const { return session_->options().ignore_line_ends; }
bool CompareWindow::ignore_whitespace() const { return session_->options().ignore_whitespace; }

int CompareWindow::top_row() const { return sync_->top_row(); }

void CompareWindow::lay_out_rows() {
  fill_panes();
  if (map_ != nullptr) {
    std::vector<OverviewStrip::Mark> marks;
    for (const Difference& d : session_->differences())
      marks.push_back({static_cast<int>(d.first), static_cast<int>(d.end), QColor(230, 150, 40)});
    static_cast<OverviewStrip*>(map_)->set(panes_.front()->blockCount(),
                                           panes_.front()->fontMetrics().lineSpacing(),
                                           std::move(marks));
    map_->setVisible(difference_count() > 0);
  }
  show_status();
}

void CompareWindow::set_ignore_line_ends(bool ignore) {
  IgnoreOptions options = session_->options();
  options.ignore_line_ends = ignore;
  set_ignore_options(options);
}

void CompareWindow::set_ignore_whitespace(bool ignore) {
  IgnoreOptions options = session_->options();
  options.ignore_whitespace = ignore;
  set_ignore_options(options);
}

IgnoreOptions CompareWindow::ignore_options() const { return session_->options(); }

bool CompareWindow::set_ignore_options(const IgnoreOptions& options) {
  if (!valid_line_filter(options.line_filter)) return false;
  if (options == session_->options()) return true;
  set_ignore_options_preference(options);
  const bool set = session_->set_options(options, static_cast<std::size_t>(top_row())).ok();
  update_actions();
  return set;
}

void CompareWindow::ask_line_filter() {
  QString pattern = q(session_->options().line_filter);
  for (;;) {
    bool ok = false;
    pattern =
        QInputDialog::getText(this, tr("Filter lines"),
                              tr("Lines in which this regular expression matches are not compared\n"
                                 "(empty: none), for example ^\\s*// for comment lines:"),
                              QLineEdit::Normal, pattern, &ok);
    if (!ok) return;
    IgnoreOptions options = session_->options();
    options.line_filter = pattern.toStdString();
    if (set_ignore_options(options)) return;
    QMessageBox::warning(this, tr("Filter lines"),
                         tr("This is not a regular expression: %1").arg(pattern));
  }
}

bool CompareWindow::go_to_line(int pane, int line) {
  if (pane < 0 || pane >= pane_count() || line < 1) return false;
  const std::optional<std::size_t> row =
      session_->row_of_line(static_cast<std::size_t>(pane), static_cast<std::size_t>(line - 1));
  if (!row) return false;
  DiffPane* view = panes_[static_cast<std::size_t>(pane)];
  // Every pane's cursor to the row, as for a difference.
  for (DiffPane* each : panes_) sync_->put_cursor(each, static_cast<int>(*row));
  const int visible = std::max(1, view->viewport()->height() / view->fontMetrics().lineSpacing());
  sync_->set_top_row(std::max(0, static_cast<int>(*row) - visible / 2));
  view->setFocus();
  return true;
}

void CompareWindow::ask_go_to_line() {
  const int pane = std::max(0, focused_pane());
  const int lines = static_cast<int>(session_->text(static_cast<std::size_t>(pane)).lines.size());
  if (lines == 0) return;
  const int current = panes_[static_cast<std::size_t>(pane)]->line_number(
      panes_[static_cast<std::size_t>(pane)]->textCursor().blockNumber());
  bool ok = false;
  const int line = QInputDialog::getInt(
      this, tr("Go to line"),
      tr("Line of %1 (1 to %2):")
          .arg(pane < static_cast<int>(job_.request.display_names.size())
                   ? q(job_.request.display_names[static_cast<std::size_t>(pane)])
                   : tr("the pane"))
          .arg(lines),
      std::max(1, current), 1, lines, 1, &ok);
  if (ok) go_to_line(pane, line);
}

int CompareWindow::focused_pane() const {
  for (std::size_t i = 0; i < panes_.size(); ++i) {
    if (panes_[i]->hasFocus()) return static_cast<int>(i);
  }
  return -1;
}

void CompareWindow::focus_pane(int step) {
  const int n = pane_count();
  const int from = focused_pane();
  const int to = from < 0 ? (step > 0 ? 0 : n - 1) : ((from + step) % n + n) % n;
  panes_[static_cast<std::size_t>(to)]->setFocus(Qt::TabFocusReason);
}

void CompareWindow::rows_changed(const CompareSession&) {
  lay_out_rows();
  // The syntax colours follow the texts as they are now.
  highlighted_.resize(panes_.size(), 0);
  for (std::size_t i = 0; i < panes_.size() && i < session_->text_count(); ++i) {
    const std::size_t print = text_fingerprint(session_->text(i).lines);
    if (print == highlighted_[i]) continue;
    highlighted_[i] = print;
    panes_[i]->highlight_syntax(
        i < job_.request.contributors.size() ? job_.request.contributors[i] : "",
        session_->text(i).lines);
  }
  // What the files hold may have changed (edits, a reload): the notes say it.
  for (std::size_t i = 0; i < notes_.size() && i < session_->text_count(); ++i) {
    if (notes_[i]->objectName() != QStringLiteral("absent")) {
      notes_[i]->setText(file_note(session_->text(i), false));
    }
  }
}

void CompareWindow::current_changed(const CompareSession&) {
  if (!keep_view_) {
    show_current();
    return;
  }
  // After an edit the view stays where it is: only the frame moves.
  const std::optional<std::size_t> current = session_->current();
  for (DiffPane* pane : panes_) {
    if (current) {
      const Difference d = session_->differences()[*current];
      pane->set_current_rows(static_cast<int>(d.first), static_cast<int>(d.end));
    } else {
      pane->set_current_rows(-1, -1);
    }
  }
  show_status();
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
  disconnect(focus_watch_);
  session_->remove_observer(this);
  // A window destroyed without a close event (for example at exit) still answers.
  answer();
  give_back_freed_memory_soon();
}

void CompareWindow::fill_panes() {
  filling_ = true;
  const CompareSession& session = *session_;
  const RowAlignment& rows = session.rows();
  const std::size_t n = session.text_count();
  show_long_line_note(static_cast<int>(session.coarse_rows()));
  std::vector<QString> pane_texts(n);
  for (std::size_t s = 0; s < n; ++s) {
    const std::vector<Line>& lines = session.text(s).lines;
    // The changed characters as the panes count them (UTF-16 units).
    std::vector<CharMark> marks;
    const std::vector<RowChars>& chars = session.changed_chars(s);
    for (std::size_t i = 0; i < chars.size();) {
      std::size_t j = i;
      std::vector<TextRange> ranges;
      for (; j < chars.size() && chars[j].row == chars[i].row; ++j)
        ranges.push_back(chars[j].range);
      add_marks(&marks, static_cast<int>(chars[i].row), lines[rows.line[s][chars[i].row]].text,
                ranges);
      i = j;
    }
    std::vector<std::pair<int, QString>> eol_marks;
    for (const std::size_t row : session.line_end_rows(s)) {
      eol_marks.emplace_back(static_cast<int>(row), line_end_label(lines[rows.line[s][row]].eol));
    }
    // The rows' text joined in UTF-8 and turned into UTF-16 in one step.
    std::vector<int> numbers(rows.rows, 0);
    std::vector<QColor> backgrounds(rows.rows);
    std::string bytes;
    for (std::size_t row = 0; row < rows.rows; ++row) {
      if (row != 0) bytes += '\n';
      const std::size_t line = rows.line[s][row];
      if (line != kNoLine) {
        const std::string_view text = lines[line].text;
        bytes.append(text.data(), text.size());
        numbers[row] = static_cast<int>(line) + 1;
      }
      backgrounds[row] = colour_of(rows.kind[s][row]);
    }
    pane_texts[s] = shown_text(bytes);
    panes_[s]->set_row_marks(std::move(numbers), std::move(backgrounds), std::move(marks),
                             kChangedText);
    panes_[s]->set_line_end_marks(std::move(eol_marks));
  }
  DiffPane::set_texts(panes_, pane_texts);
  filling_ = false;
  std::fill(typed_.begin(), typed_.end(), false);
  show_edit_state();
}

void CompareWindow::go_to_difference(int index) {
  if (index < 0 || index >= difference_count()) return;
  // The same difference again is placed again (the panes may have a new size).
  if (index == current_difference()) {
    show_current();
  } else {
    static_cast<void>(session_->go_to(static_cast<std::size_t>(index)));  // in range: checked
  }
}

void CompareWindow::show_current() {
  if (!session_->current()) {
    show_status();
    return;
  }
  const Difference d = session_->differences()[*session_->current()];
  const int first = static_cast<int>(d.first);
  const int end = static_cast<int>(d.end);
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
  if (!session_->current()) return;
  const Difference d = session_->differences()[*session_->current()];
  const int first = static_cast<int>(d.first);
  const int end = static_cast<int>(d.end);
  DiffPane* lead = panes_.front();
  // Sideways, the first changed character of the difference in any pane
  // (a whole changed row starts at its left edge).
  int x = -1;
  for (DiffPane* pane : panes_) {
    for (const CharMark& mark : pane->char_marks()) {
      if (mark.row < first || mark.row >= end) continue;
      const int at = pane->column_x(mark.row, mark.start);
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
  if (!session_->current() || panes_.front()->horizontalScrollBar()->value() != placed_left_) {
    return;
  }
  sync_->set_left(0);
  place_sideways();
}

void CompareWindow::show_status() {
  const int current = current_difference();
  if (difference_count() == 0) {
    // Line ends alone are named; anything else ignored is "what is ignored".
    IgnoreOptions beside_line_ends = session_->options();
    beside_line_ends.ignore_line_ends = false;
    status_->setText(session_->texts_identical() ? tr("The texts are identical")
                     : beside_line_ends != IgnoreOptions{}
                         ? tr("The texts differ only in what is ignored")
                         : tr("The texts differ only in their line ends"));
  } else if (current < 0) {
    status_->setText(difference_count() == 1 ? tr("1 difference")
                                             : tr("%1 differences").arg(difference_count()));
  } else {
    status_->setText(tr("Difference %1 of %2").arg(current + 1).arg(difference_count()));
  }
  if (map_ != nullptr)
    static_cast<OverviewStrip*>(map_)->set_current(current, QColor(50, 110, 210));
  update_actions();
}

void CompareWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Place the first difference again now that the panes have their size.
  // The sideways position worked out at the panes' first, smaller size is
  // dropped: kept, it would stay wherever it still shows the change.
  if (!shown_ && session_->current()) {
    sync_->set_left(0);
    show_current();
  }
  shown_ = true;
}

void CompareWindow::closeEvent(QCloseEvent* event) {
  take_typing();
  if (has_unsaved_edits()) {
    UnsavedAnswer answer = unsaved_answer_;
    if (answer == UnsavedAnswer::ask) {
      const QMessageBox::StandardButton chosen = QMessageBox::question(
          this, tr("Unsaved changes"), tr("Save the changes to the edited files?"),
          QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
      answer = chosen == QMessageBox::Save      ? UnsavedAnswer::save
               : chosen == QMessageBox::Discard ? UnsavedAnswer::discard
                                                : UnsavedAnswer::cancel;
    }
    // A save that fails keeps the window open with the edits.
    if (answer == UnsavedAnswer::cancel || (answer == UnsavedAnswer::save && !save())) {
      event->ignore();
      return;
    }
  }
  answer();
  event->accept();
}

}  // namespace marlow

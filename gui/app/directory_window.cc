#include "app/directory_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTime>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <algorithm>

#include "app/commands.h"
#include "app/compare_window.h"
#include "app/error_window.h"
#include "app/keys.h"
#include "app/panes.h"
#include "app/settings.h"
#include "app/shortcuts_help.h"
#include "app/window_fit.h"
#include "engine/directory_compare.h"
#include "serve/directory_entry.h"
#include "serve/files.h"
#include "serve/serve.h"

namespace marlow {
namespace {

using State = DirectoryEntry::State;

// The states in the order the window names them, of two and of three
// directories.
constexpr State kStateOrder[] = {State::different, State::only_left, State::only_right,
                                 State::identical};
constexpr State kThreeStateOrder[] = {State::second_differs, State::third_differs,
                                      State::all_differ, State::first_differs, State::identical};

// A folder's state, or a file's without what its sides hold.
QString state_text(State state) {
  switch (state) {
    case State::only_left:
      return DirectoryWindow::tr("only left");
    case State::only_right:
      return DirectoryWindow::tr("only right");
    case State::identical:
      return DirectoryWindow::tr("identical");
    case State::different:
      return DirectoryWindow::tr("different");
    case State::first_differs:
    case State::second_differs:
    case State::third_differs:
    case State::all_differ:
      break;
  }
  return q(folder_state_name(state));
}

// A file's state: of three, with what its sides hold ("added in A").
QString state_text(const DirectoryEntry& entry) {
  return is_three_way(entry.state) ? q(state_name(entry)) : state_text(entry.state);
}

// The state's name among the preferences.
QString state_key(State state) {
  switch (state) {
    case State::only_left:
      return QStringLiteral("only_left");
    case State::only_right:
      return QStringLiteral("only_right");
    case State::identical:
      return QStringLiteral("identical");
    case State::different:
      return QStringLiteral("different");
    case State::first_differs:
      return QStringLiteral("same_change");
    case State::second_differs:
      return QStringLiteral("changed_a");
    case State::third_differs:
      return QStringLiteral("changed_b");
    case State::all_differ:
      return QStringLiteral("changed_both");
  }
  return QString();
}

QColor state_colour(State state) {
  switch (state) {
    case State::only_left:
      return kRemoved;
    case State::only_right:
    case State::third_differs:
      return kAdded;
    case State::different:
    case State::first_differs:
      return kChanged;
    case State::second_differs:
      return QColor(205, 225, 255);
    case State::all_differ:
      return kRemoved;
    case State::identical:
      break;
  }
  return QColor();
}

QString size_text(const FileFacts& facts) {
  return facts.present ? QLocale().toString(static_cast<qulonglong>(facts.size)) : QString();
}

// Local time, to the second: two saves within a minute still differ.
QString time_text(const FileFacts& facts) {
  if (!facts.present) return QString();
  return QDateTime::fromMSecsSinceEpoch(facts.modified_ns / 1000000)
      .toLocalTime()
      .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString counts_text(const DirectoryNode& node, std::size_t sides) {
  QStringList parts;
  const auto order =
      sides == 3 ? std::vector<State>(std::begin(kThreeStateOrder), std::end(kThreeStateOrder))
                 : std::vector<State>(std::begin(kStateOrder), std::end(kStateOrder));
  for (const State state : order) {
    parts << QStringLiteral("%1 %2").arg(node.count(state)).arg(state_text(state));
  }
  return parts.join(QStringLiteral(", "));
}

QString files_text(std::size_t count) {
  return count == 1 ? DirectoryWindow::tr("1 file") : DirectoryWindow::tr("%1 files").arg(count);
}

bool is_folder(const QTreeWidgetItem* item) { return !item->data(0, Qt::UserRole).isValid(); }

}  // namespace

bool is_directory_call(const CompareRequest& request) {
  const std::size_t sides = request.contributors.size();
  if (request.method != Method::compare || sides < 2 || sides > 3) return false;
  return std::all_of(request.contributors.begin(), request.contributors.end(),
                     [](const std::string& path) { return is_directory(path); });
}

DirectoryWindow::DirectoryWindow(CompareRequest request, Finish finish)
    : request_(std::move(request)), answer_(std::move(finish)) {
  setAttribute(Qt::WA_DeleteOnClose);
  const bool three = sides() == 3;
  QStringList names;
  for (const std::string& name : request_.display_names) names << q(name);
  setWindowTitle(tr("Compare directories - %1").arg(names.join(QStringLiteral(" / "))));
  auto* layout = new QVBoxLayout(this);

  // The commands: one action each, shared by its button, its keys and the
  // tree's menu.
  make_action(Command::open, tr("&Compare file"),
              tr("Open the comparison of the selected file (Enter, double click)"), {},
              [this] { open_current(); });
  make_action(Command::copy_to_right, tr("Copy to right \u2192"),
              tr("Copy the selected files to the right"), {keys::copy_to_right()},
              [this] { copy_selected(CopyDirection::left_to_right); });
  make_action(Command::copy_to_left, tr("\u2190 Copy to left"),
              tr("Copy the selected files to the left"), {keys::copy_to_left()},
              [this] { copy_selected(CopyDirection::right_to_left); });
  make_action(Command::expand_all, tr("Expand all"), tr("Open every folder"), {keys::expand_all()},
              [this] { list_->expandAll(); });
  make_action(Command::collapse_all, tr("Collapse all"), tr("Close every folder"),
              {keys::collapse_all()}, [this] { list_->collapseAll(); });
  make_action(Command::refresh, tr("Refresh"),
              three ? tr("Read the three directories again") : tr("Read both directories again"),
              {keys::refresh()}, [this] { refresh(); });
  make_action(Command::close, tr("C&lose"), tr("Close the window"),
              {keys::close(), keys::dismiss()}, [this] { close(); });
  if (three) {
    // Of a base and two trees, a copy has no one other side: it is left to
    // a comparison of the two directories concerned.
    for (const Command copy : {Command::copy_to_right, Command::copy_to_left}) {
      action(copy)->setEnabled(false);
      action(copy)->setToolTip(
          tr("Copying works between two directories: compare the two you want to copy between"));
    }
  }
  auto* bar = new QHBoxLayout();
  const auto button = [this, bar](Command command) {
    auto* made = new QToolButton(this);
    made->setDefaultAction(action(command));
    made->setToolButtonStyle(Qt::ToolButtonTextOnly);
    made->setObjectName(action(command)->objectName());
    bar->addWidget(made);
    return made;
  };
  QToolButton* open_button = button(Command::open);
  bar->addSpacing(12);
  button(Command::copy_to_right);
  button(Command::copy_to_left);
  bar->addSpacing(12);
  button(Command::expand_all);
  button(Command::collapse_all);
  button(Command::refresh);
  bar->addStretch(1);
  bar->addWidget(add_shortcuts_help(this));
  button(Command::close);
  layout->addLayout(bar);

  // The filters, as the user left them last.
  auto* filters = new QHBoxLayout();
  filters->addWidget(new QLabel(tr("Show:"), this));
  struct Box {
    State state;
    QString text;
    QString tip;
  };
  std::vector<Box> boxes;
  const auto add_box = [&boxes](State state, const QString& text, const QString& tip) {
    boxes.push_back(Box{state, text, tip});
  };
  if (three) {
    add_box(State::second_differs, tr("Changed in &A"),
            tr("Files only A changed (added or deleted in A among them)"));
    add_box(State::third_differs, tr("Changed in &B"),
            tr("Files only B changed (added or deleted in B among them)"));
    add_box(State::all_differ, tr("Changed in b&oth, differently"),
            tr("Files A and B changed each in its own way"));
    add_box(State::first_differs, tr("&Same change in both"),
            tr("Files A and B changed alike (added or deleted in both)"));
    add_box(State::identical, tr("&Identical"), tr("Files the same in all three"));
  } else {
    add_box(State::different, tr("&Different"), QString());
    add_box(State::only_left, tr("Only l&eft"), QString());
    add_box(State::only_right, tr("Only ri&ght"), QString());
    add_box(State::identical, tr("&Identical"), QString());
  }
  for (const Box& one : boxes) {
    const State state = one.state;
    auto* box = new QCheckBox(one.text, this);
    box->setObjectName(QStringLiteral("show_") + state_key(state));
    box->setToolTip(one.tip);
    const bool shown = directory_shows_preference(state_key(state));
    box->setChecked(shown);
    shown_.set(state, shown);
    connect(box, &QCheckBox::toggled, this, [this, state](bool on) { set_shown(state, on); });
    state_boxes_[static_cast<std::size_t>(state)] = box;
    filters->addWidget(box);
  }
  filters->addSpacing(12);
  auto* exclude_label = new QLabel(tr("E&xclude:"), this);
  exclude_field_ = new QLineEdit(this);
  exclude_field_->setObjectName(QStringLiteral("exclude"));
  exclude_field_->setPlaceholderText(tr("*.o; build/"));
  exclude_field_->setToolTip(
      tr("Names to leave out, separated by ';': * and ? within a name, ** across folders, "
         "a trailing / for folders only"));
  exclude_ = directory_exclude_preference();
  exclude_field_->setText(exclude_);
  exclude_label->setBuddy(exclude_field_);
  connect(exclude_field_, &QLineEdit::editingFinished, this,
          [this] { set_exclude(exclude_field_->text()); });
  filters->addWidget(exclude_label);
  filters->addWidget(exclude_field_, 1);
  layout->addLayout(filters);

  const QString side_names =
      three ? tr("Base: %1    A: %2    B: %3").arg(names[0], names[1], names[2])
            : tr("Left: %1    Right: %2").arg(names[0], names[1]);
  auto* names_label = new ElidedLabel(side_names, this);
  names_label->setObjectName(QStringLiteral("sides"));
  layout->addWidget(names_label);

  list_ = new QTreeWidget(this);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Enter and a double click toggle a folder here (below), not twice.
  list_->setExpandsOnDoubleClick(false);
  QStringList headers{tr("Name"), tr("State")};
  const QStringList side_titles =
      three ? QStringList{tr("Base"), tr("A"), tr("B")} : QStringList{tr("Left"), tr("Right")};
  for (const QString& side : side_titles) {
    headers << tr("%1 size").arg(side) << tr("%1 modified").arg(side);
  }
  list_->setColumnCount(static_cast<int>(headers.size()));
  list_->setHeaderLabels(headers);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(kName, QHeaderView::Stretch);
  for (int column = kState; column < list_->columnCount(); ++column) {
    list_->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  }
  // The tree's menu holds the same actions as the bar.
  list_->setContextMenuPolicy(Qt::ActionsContextMenu);
  for (const Command command : {Command::open, Command::copy_to_right, Command::copy_to_left,
                                Command::expand_all, Command::collapse_all, Command::refresh}) {
    list_->addAction(action(command));
  }
  layout->addWidget(list_, 1);

  auto* bottom = new QHBoxLayout();
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("note"));
  note_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  note_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  bottom->addWidget(status_);
  bottom->addWidget(note_, 1);
  layout->addLayout(bottom);

  entries_ = compare_directories(request_.contributors, NameFilter(exclude_.toStdString()));
  fill();

  connect(list_, &QTreeWidget::itemActivated, this, [this] { open_current(); });
  fit_to_screen(this, QStringLiteral("directories"), QSize(three ? 1200 : 1000, 700));
  // The tree has the keys from the start: Up and Down move in it, Enter
  // opens the file.
  setTabOrder(list_, open_button);
  list_->setFocus();
}

QAction* DirectoryWindow::make_action(Command command, const QString& text, const QString& tip,
                                      const QList<QKeySequence>& keys,
                                      std::function<void()> handler) {
  QAction* made =
      add_command(this, text, keys, std::move(handler), QString(text).remove(QLatin1Char('&')));
  static const char* const kNames[] = {
      "open", "copy_to_right", "copy_to_left", "expand_all", "collapse_all", "refresh", "close"};
  made->setObjectName(QString::fromLatin1(kNames[static_cast<int>(command)]));
  // The tool buttons show the action's own tool tip: what it does, and its keys.
  const QString named = key_text(keys);
  made->setToolTip(named.isEmpty() ? tip : QStringLiteral("%1 (%2)").arg(tip, named));
  actions_[command] = made;
  return made;
}

void DirectoryWindow::open_current() {
  QTreeWidgetItem* item = list_->currentItem();
  if (item == nullptr) return;
  if (is_folder(item)) {
    item->setExpanded(!item->isExpanded());
  } else {
    open_entry(item->data(0, Qt::UserRole).toULongLong());
  }
}

DirectoryWindow::~DirectoryWindow() { answer_.give(boolean_reply(true)); }

QTreeWidgetItem* DirectoryWindow::add_node(const DirectoryNode& node, QTreeWidgetItem* parent) {
  auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(list_);
  item->setText(kName, q(node.name));
  item->setText(kState, node.folder ? state_text(node.state) : state_text(entries_[node.entry]));
  item->setData(0, kPathRole, q(node.path));
  item->setData(0, kStateRole, static_cast<int>(node.state));
  QColor colour = state_colour(node.state);
  // A folder with A's and B's changes but no file both changed: a mixture,
  // not a conflict.
  if (node.folder && node.state == State::all_differ && node.count(State::all_differ) == 0) {
    colour = kChanged;
  }
  if (node.folder) {
    item->setIcon(kName, style()->standardIcon(QStyle::SP_DirIcon));
    item->setToolTip(kState, counts_text(node, sides()));
    if (colour.isValid()) item->setBackground(kState, colour);
    for (const DirectoryNode& child : node.children) add_node(child, item);
    return item;
  }
  const DirectoryEntry& entry = entries_[node.entry];
  item->setIcon(kName, style()->standardIcon(QStyle::SP_FileIcon));
  item->setData(0, Qt::UserRole, static_cast<qulonglong>(node.entry));
  for (std::size_t side = 0; side < sides(); ++side) {
    item->setText(size_column(side), size_text(entry.side(side)));
    item->setText(time_column(side), time_text(entry.side(side)));
    item->setTextAlignment(size_column(side), Qt::AlignRight | Qt::AlignVCenter);
    if (entry.side(side).content == Content::binary) {
      item->setToolTip(size_column(side), tr("binary"));
    }
  }
  if (colour.isValid()) {
    for (int column = 0; column < list_->columnCount(); ++column) {
      item->setBackground(column, colour);
    }
  }
  return item;
}

void DirectoryWindow::fill() {
  // What the user had open and chosen, by path: it stays across a refresh,
  // a copy or a change of filter.
  QSet<QString> expanded;
  QSet<QString> selected;
  QString current;
  if (filled_) {
    for (QTreeWidgetItemIterator it(list_); *it != nullptr; ++it) {
      const QString path = (*it)->data(0, kPathRole).toString();
      if ((*it)->isExpanded()) expanded.insert(path);
      if ((*it)->isSelected()) selected.insert(path);
    }
    if (list_->currentItem() != nullptr)
      current = list_->currentItem()->data(0, kPathRole).toString();
  }
  list_->clear();
  const DirectoryNode root = directory_tree(entries_, shown_);
  for (const DirectoryNode& node : root.children) add_node(node, nullptr);

  std::size_t shown_files = 0;
  QTreeWidgetItem* first_change = nullptr;
  QTreeWidgetItem* keep = nullptr;
  for (QTreeWidgetItemIterator it(list_); *it != nullptr; ++it) {
    QTreeWidgetItem* item = *it;
    const QString path = item->data(0, kPathRole).toString();
    if (filled_ && path == current) keep = item;
    if (is_folder(item)) {
      // At first the folders that hold a difference are open.
      item->setExpanded(filled_ ? expanded.contains(path)
                                : item->data(0, kStateRole).toInt() !=
                                      static_cast<int>(State::identical));
      continue;
    }
    ++shown_files;
    const auto index = item->data(0, Qt::UserRole).toULongLong();
    if (first_change == nullptr && entries_[index].state != State::identical) first_change = item;
  }
  // The first file that is not identical is current at first, so that
  // Enter opens it; later the current file stays where it is.
  QTreeWidgetItem* start = keep != nullptr           ? keep
                           : first_change != nullptr ? first_change
                                                     : list_->topLevelItem(0);
  if (start != nullptr) {
    for (QTreeWidgetItem* up = start->parent(); up != nullptr; up = up->parent()) {
      up->setExpanded(true);
    }
    list_->setCurrentItem(start);
  }
  for (QTreeWidgetItemIterator it(list_); *it != nullptr; ++it) {
    if (selected.contains((*it)->data(0, kPathRole).toString())) (*it)->setSelected(true);
  }
  filled_ = true;

  std::size_t total = 0;
  for (const std::size_t count : root.counts) total += count;
  QString status = counts_text(root, sides());
  if (shown_files < total) status += tr("; %1 not shown").arg(total - shown_files);
  status_->setText(status);
}

QTreeWidgetItem* DirectoryWindow::item_of(const QString& path) const {
  for (QTreeWidgetItemIterator it(list_); *it != nullptr; ++it) {
    if ((*it)->data(0, kPathRole).toString() == path) return *it;
  }
  return nullptr;
}

void DirectoryWindow::set_shown(State state, bool show) {
  QCheckBox* box = state_boxes_[static_cast<std::size_t>(state)];
  if (box == nullptr) return;  // not a state of this many sides
  if (box->isChecked() != show) {
    box->setChecked(show);  // comes back here through the signal
    return;
  }
  if (shown_.shows(state) == show) return;
  shown_.set(state, show);
  set_directory_shows_preference(state_key(state), show);
  fill();
}

void DirectoryWindow::set_exclude(const QString& patterns) {
  if (exclude_field_->text() != patterns) exclude_field_->setText(patterns);
  if (patterns == exclude_) return;
  exclude_ = patterns;
  set_directory_exclude_preference(patterns);
  // Excluded folders are not even read: the directories are read again.
  refresh();
}

void DirectoryWindow::refresh() {
  entries_ = compare_directories(request_.contributors, NameFilter(exclude_.toStdString()));
  fill();
  note_->setText(
      tr("Read again at %1").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
}

std::vector<std::size_t> DirectoryWindow::selected_entries() const {
  std::vector<std::size_t> chosen;
  for (QTreeWidgetItem* item : list_->selectedItems()) {
    // A folder stands for the files shown under it.
    for (QTreeWidgetItemIterator it(item); *it != nullptr; ++it) {
      if (*it != item && !(*it)
                              ->data(0, kPathRole)
                              .toString()
                              .startsWith(item->data(0, kPathRole).toString() + QLatin1Char('/'))) {
        break;
      }
      if (!is_folder(*it)) chosen.push_back((*it)->data(0, Qt::UserRole).toULongLong());
    }
  }
  return chosen;
}

void DirectoryWindow::copy_selected(CopyDirection direction) {
  const bool to_right = direction == CopyDirection::left_to_right;
  const QString from_side = to_right ? tr("left") : tr("right");
  const QString to_side = to_right ? tr("right") : tr("left");
  if (sides() != 2) {
    note_->setText(tr("Copying works between two directories"));
    return;
  }
  const std::vector<std::size_t> chosen = selected_entries();
  const CopyPlan plan = plan_copy(entries_, chosen, direction);
  if (plan.empty()) {
    note_->setText(chosen.empty()
                       ? tr("Nothing to copy: select files or folders first")
                       : tr("Nothing to copy to the %1: the selected files are identical, or "
                            "not on the %2")
                             .arg(to_side, from_side));
    return;
  }
  if (plan.replace.empty()) {
    run_copy(plan, direction);
    return;
  }
  // The question names every file it replaces, with what it holds now and
  // what it will hold.
  QStringList lines;
  constexpr std::size_t kNamed = 20;
  for (std::size_t i = 0; i < plan.replace.size() && i < kNamed; ++i) {
    const DirectoryEntry& entry = entries_[plan.replace[i]];
    const FileFacts& from = to_right ? entry.left : entry.right;
    const FileFacts& to = to_right ? entry.right : entry.left;
    lines << tr("%1\n    now %2 bytes of %3,\n    then %4 bytes of %5 from the %6")
                 .arg(q(entry.path), size_text(to), time_text(to), size_text(from), time_text(from),
                      from_side);
  }
  if (plan.replace.size() > kNamed) lines << tr("and %1 more").arg(plan.replace.size() - kNamed);
  QString text = tr("Replace %1 on the %2 with the %3's?")
                     .arg(files_text(plan.replace.size()), to_side, from_side);
  if (!plan.create.empty()) {
    text += QLatin1Char('\n') +
            tr("%1 only on the %2 copied as well.").arg(files_text(plan.create.size()), from_side);
  }
  auto* question = new QMessageBox(QMessageBox::Question, tr("Replace files"), text,
                                   QMessageBox::Yes | QMessageBox::Cancel, this);
  question->setObjectName(QStringLiteral("copy_question"));
  question->setAttribute(Qt::WA_DeleteOnClose);
  question->setInformativeText(lines.join(QLatin1Char('\n')));
  question->button(QMessageBox::Yes)->setText(tr("Replace"));
  question->setDefaultButton(QMessageBox::Cancel);
  connect(question, &QMessageBox::finished, this, [this, question, plan, direction] {
    if (question->clickedButton() == question->button(QMessageBox::Yes)) run_copy(plan, direction);
  });
  question->open();
}

void DirectoryWindow::run_copy(const CopyPlan& plan, CopyDirection direction) {
  const ReplaceFile replace = [](const std::string& path, const std::string& bytes) {
    return real_files().replace_whole(path, bytes, kStalledWriteMs);
  };
  QStringList errors;
  std::size_t copied = 0;
  for (const std::vector<std::size_t>* part : {&plan.create, &plan.replace}) {
    for (const std::size_t index : *part) {
      if (index >= entries_.size()) continue;
      const support::Status outcome = copy_entry(request_.contributors[0], request_.contributors[1],
                                                 &entries_[index], direction, replace);
      if (outcome.ok()) {
        ++copied;
      } else {
        errors << q(outcome.text());
      }
    }
  }
  fill();
  const QString to_side = direction == CopyDirection::left_to_right ? tr("right") : tr("left");
  QString note = tr("Copied %1 to the %2").arg(files_text(copied), to_side);
  if (!errors.isEmpty()) note += tr("; %1 failed").arg(errors.size());
  note_->setText(note);
  if (errors.isEmpty()) return;
  // Every failure, in a message that stays until it is closed.
  auto* failed =
      new QMessageBox(QMessageBox::Warning, tr("Copy failed"),
                      tr("%1 could not be copied to the %2:")
                          .arg(files_text(static_cast<std::size_t>(errors.size())), to_side),
                      QMessageBox::Ok, this);
  failed->setObjectName(QStringLiteral("copy_errors"));
  failed->setAttribute(Qt::WA_DeleteOnClose);
  failed->setInformativeText(errors.join(QLatin1Char('\n')));
  failed->open();
}

QWidget* DirectoryWindow::open_entry(std::size_t index) {
  if (index >= entries_.size()) return nullptr;
  EntryOpening opening = open_directory_entry(request_, entries_[index], real_files());
  QWidget* window = nullptr;
  if (opening.job) {
    window = new CompareWindow(std::move(*opening.job), nullptr);
  } else {
    window = new ErrorWindow(q(opening.title), q(opening.message), std::string(), nullptr);
    if (opening.title == "Binary files") window->setObjectName(QStringLiteral("binary"));
  }
  window->show();
  opened_.push_back(window);
  return window;
}

void DirectoryWindow::closeEvent(QCloseEvent* event) {
  // The file comparisons opened from here go with it.
  for (const QPointer<QWidget>& window : opened_) {
    if (window) window->close();
  }
  answer_.give(boolean_reply(true));
  event->accept();
}

}  // namespace marlow

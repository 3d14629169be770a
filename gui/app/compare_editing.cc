// The compare window as an editor, where a contributor's file can be
// written: copying a difference to another pane, typing in the panes, undo
// and redo, saving, and reading files again that changed on disk. The rules
// are the session's; here are the controls, the questions and the files.
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <cerrno>

#include "app/commands.h"
#include "app/compare_window.h"
#include "app/keys.h"
#include "serve/xmlrpc.h"

namespace marlow {

void CompareWindow::answer() { answer_.give(boolean_reply(true)); }

QWidget* CompareWindow::make_edit_bar() {
  edit_bar_ = new QWidget(this);
  edit_bar_->setObjectName(QStringLiteral("edit_bar"));
  auto* row = new QHBoxLayout(edit_bar_);
  row->setContentsMargins(0, 0, 0, 0);
  const Commands& c = commands_;
  QPushButton* copy_left = command_button(c.copy_left, edit_bar_);
  QPushButton* copy_right = command_button(c.copy_right, edit_bar_);
  QPushButton* undo = command_button(c.undo, edit_bar_);
  QPushButton* edit = command_button(c.edit, edit_bar_);
  QPushButton* save = command_button(c.save, edit_bar_);
  edit_note_ = new QLabel(edit_bar_);
  edit_note_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  row->addWidget(edit);
  row->addWidget(copy_left);
  row->addWidget(copy_right);
  row->addWidget(undo);
  row->addWidget(save);
  row->addWidget(edit_note_, 1);
  bool any = false;
  for (std::size_t i = 0; i < session_->text_count(); ++i) any = any || session_->writable(i);
  edit_bar_->setVisible(any);
  return edit_bar_;
}

void CompareWindow::show_edit_state() {
  if (edit_note_ == nullptr) return;
  QStringList changed;
  for (std::size_t i = 0; i < session_->text_count(); ++i) {
    if (session_->modified(i) && i < job_.request.display_names.size()) {
      changed << q(job_.request.display_names[i]);
    }
  }
  update_actions();
  edit_note_->setText(
      changed.isEmpty() ? QString() : tr("Not saved: %1").arg(changed.join(QStringLiteral(", "))));
}

QString CompareWindow::edit_message() const { return edit_note_->text(); }

bool CompareWindow::has_unsaved_edits() const {
  for (std::size_t i = 0; i < session_->text_count(); ++i) {
    if (session_->modified(i)) return true;
  }
  return false;
}

QWidget* CompareWindow::make_reload_bar() {
  reload_bar_ = new QWidget(this);
  reload_bar_->setObjectName(QStringLiteral("reload_bar"));
  auto* row = new QHBoxLayout(reload_bar_);
  row->setContentsMargins(0, 0, 0, 0);
  reload_note_ = new QLabel(reload_bar_);
  reload_note_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  auto* again = new QPushButton(tr("&Reload"), reload_bar_);
  again->setToolTip(tr("Read the changed files again, keeping the place and the options"));
  auto* keep = new QPushButton(tr("Keep as shown"), reload_bar_);
  keep->setToolTip(tr("Go on with the texts as they were read"));
  connect(again, &QPushButton::clicked, this, [this] { reload(); });
  connect(keep, &QPushButton::clicked, this, [this] {
    for (std::size_t i = 0; i < stamps_.size(); ++i) stamps_[i] = disk_stamp(i);
    std::fill(changed_on_disk_.begin(), changed_on_disk_.end(), false);
    reload_bar_->setVisible(false);
  });
  row->addWidget(reload_note_, 1);
  row->addWidget(again);
  row->addWidget(keep);
  reload_bar_->setVisible(false);
  for (std::size_t i = 0; i < session_->text_count(); ++i) stamps_.push_back(disk_stamp(i));
  changed_on_disk_.assign(stamps_.size(), false);
  // A look at the files every few seconds; nothing is read unless they changed.
  auto* poll = new QTimer(this);
  poll->setInterval(3000);
  connect(poll, &QTimer::timeout, this, [this] {
    if (isActiveWindow()) check_files_on_disk();
  });
  poll->start();
  return reload_bar_;
}

std::pair<qint64, qint64> CompareWindow::disk_stamp(std::size_t i) const {
  if (i >= job_.request.contributors.size() || is_absent(job_.request.contributors[i])) {
    return {-1, 0};
  }
  const QFileInfo file(q(job_.request.contributors[i]));
  if (!file.exists()) return {-1, 0};
  return {file.size(), file.lastModified().toMSecsSinceEpoch()};
}

bool CompareWindow::check_files_on_disk() {
  QStringList names;
  for (std::size_t i = 0; i < stamps_.size(); ++i) {
    if (stamps_[i].first < 0) continue;  // never a file: nothing to read again
    if (disk_stamp(i) != stamps_[i]) changed_on_disk_[i] = true;
    if (changed_on_disk_[i] && i < job_.request.display_names.size()) {
      names << q(job_.request.display_names[i]);
    }
  }
  if (names.isEmpty()) return false;
  reload_note_->setText(tr("Changed on disk: %1").arg(names.join(QStringLiteral(", "))));
  reload_bar_->setVisible(true);
  return true;
}

bool CompareWindow::reload() {
  take_typing();
  bool all = true;
  const Encoding encoding = encoding_for_type(job_.request.type_name);
  for (std::size_t i = 0; i < changed_on_disk_.size(); ++i) {
    if (!changed_on_disk_[i]) continue;
    if (session_->modified(i)) {
      UnsavedAnswer answer = unsaved_answer_;
      if (answer == UnsavedAnswer::ask) {
        answer =
            QMessageBox::question(this, tr("Reload"),
                                  tr("%1 has unsaved edits. Drop them and read the file again?")
                                      .arg(q(job_.request.display_names[i])),
                                  QMessageBox::Discard | QMessageBox::Cancel,
                                  QMessageBox::Cancel) == QMessageBox::Discard
                ? UnsavedAnswer::discard
                : UnsavedAnswer::cancel;
      }
      if (answer != UnsavedAnswer::discard) {
        all = false;
        continue;
      }
    }
    const std::pair<qint64, qint64> stamp = disk_stamp(i);
    support::Result<std::string> bytes = files_->read_whole(job_.request.contributors[i]);
    if (!bytes) {
      reload_note_->setText(tr("Cannot read %1: %2")
                                .arg(q(job_.request.display_names[i]), q(bytes.status().reason())));
      all = false;
      continue;
    }
    support::Result<TextDocument> decoded = decode_text(std::move(bytes).value(), encoding);
    if (!decoded) {
      reload_note_->setText(tr("Cannot read %1: %2")
                                .arg(q(job_.request.display_names[i]), q(decoded.status().text())));
      all = false;
      continue;
    }
    if (!session_->reload(i, std::move(decoded).value(), static_cast<std::size_t>(top_row()))
             .ok()) {
      all = false;
      continue;
    }
    stamps_[i] = stamp;
    changed_on_disk_[i] = false;
  }
  if (all) reload_bar_->setVisible(false);
  show_edit_state();
  return all;
}

void CompareWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Back to the window: the files may have changed meanwhile.
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) check_files_on_disk();
}

void CompareWindow::set_editing(bool on) {
  take_typing();
  commands_.edit->setChecked(on);
  for (std::size_t i = 0; i < panes_.size(); ++i) {
    panes_[i]->setReadOnly(!(on && session_->writable(i)));
  }
}

bool CompareWindow::editing() const { return commands_.edit->isChecked(); }

bool CompareWindow::copy_difference(int step) {
  take_typing();
  const int n = pane_count();
  int from = focused_pane();
  if (from < 0) from = step < 0 ? n - 1 : 0;
  const int to = from + step;
  if (to < 0 || to >= n) return false;
  // The difference at the cursor of the focused pane, else the current one.
  std::optional<std::size_t> index = session_->current();
  if (focused_pane() >= 0) {
    const int row = panes_[static_cast<std::size_t>(from)]->textCursor().blockNumber();
    if (const auto at = session_->difference_at(static_cast<std::size_t>(row))) index = at;
  }
  if (!index) return false;
  const support::Status copied = session_->copy_difference(*index, static_cast<std::size_t>(from),
                                                           static_cast<std::size_t>(to));
  // The session tells of the new rows before its history has the step.
  update_actions();
  if (!copied.ok()) {
    edit_note_->setText(copied.code() == EROFS ? tr("That file cannot be written")
                                               : tr("Nothing to copy there"));
    edit_bar_->setVisible(true);
    return false;
  }
  return true;
}

void CompareWindow::undo() {
  take_typing();
  static_cast<void>(session_->undo());  // nothing to undo: nothing happens
  update_actions();
}

void CompareWindow::redo() {
  take_typing();
  static_cast<void>(session_->redo());  // nothing to redo: nothing happens
  update_actions();
}

void CompareWindow::take_typing() {
  typing_timer_->stop();
  // Every pane typed in is read before any of it goes to the session: the
  // first one's new lines fill the panes again, which would drop what the
  // others hold.
  struct Where {
    std::size_t pane;
    int row;
    int column;
    int line;
  };
  std::vector<std::pair<std::size_t, std::vector<std::string>>> typed;
  std::vector<Where> cursors;
  for (std::size_t s = 0; s < typed_.size(); ++s) {
    if (!typed_[s]) continue;
    typed_[s] = false;
    DiffPane* pane = panes_[s];
    const std::vector<Line>& lines = session_->text(s).lines;
    const bool returns = has_returns_inside_lines(lines);
    std::vector<std::string> rows;
    rows.reserve(static_cast<std::size_t>(pane->blockCount()));
    for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next()) {
      const QString row = block.text();
      // The mark stands for a carriage return, or is a character of the
      // line itself: a row still as it was shown keeps its line's bytes, so
      // only rows typed in read the marks as carriage returns.
      if (returns && row.contains(kCarriageReturnMark)) {
        const int number = pane->line_number(block.blockNumber());
        if (number > 0 && static_cast<std::size_t>(number) <= lines.size() &&
            row == shown_text(lines[static_cast<std::size_t>(number) - 1].text)) {
          rows.push_back(lines[static_cast<std::size_t>(number) - 1].text.str());
          continue;
        }
      }
      rows.push_back(typed_line(row, returns));
    }
    typed.emplace_back(s, std::move(rows));
    const QTextCursor cursor = pane->textCursor();
    cursors.push_back({s, cursor.blockNumber(), cursor.positionInBlock(),
                       pane->line_number(cursor.blockNumber())});
  }
  if (typed.empty()) return;
  // The cursors and the rows in view stay where they were.
  const int top = top_row();
  keep_view_ = true;
  const support::Status taken = session_->replace_typed_rows(typed);
  keep_view_ = false;
  update_actions();
  if (!taken.ok()) return;
  for (const Where& where : cursors) {
    DiffPane* pane = panes_[where.pane];
    std::optional<std::size_t> back =
        where.line > 0 ? session_->row_of_line(where.pane, static_cast<std::size_t>(where.line - 1))
                       : std::nullopt;
    const int at = back ? static_cast<int>(*back) : std::min(where.row, pane->blockCount() - 1);
    QTextCursor place(pane->document()->findBlockByNumber(at));
    place.setPosition(place.block().position() +
                      std::min(where.column, place.block().length() - 1));
    pane->setTextCursor(place);
  }
  sync_->set_top_row(top);
}

bool CompareWindow::save() {
  take_typing();
  QStringList failed;
  for (std::size_t i = 0; i < session_->text_count(); ++i) {
    if (!session_->modified(i) || i >= job_.request.contributors.size()) continue;
    const support::Result<std::string> encoded = encode_text(session_->text(i));
    if (!encoded) {
      failed << q("cannot encode the text: " + encoded.status().text());
      continue;
    }
    const support::Status saved =
        files_->replace_whole(job_.request.contributors[i], encoded.value(), kStalledWriteMs);
    if (!saved) {
      failed << q(saved.text());
      continue;
    }
    session_->mark_saved(i);
    // Our own write is no change on disk to offer to reload.
    if (i < stamps_.size()) stamps_[i] = disk_stamp(i);
  }
  edit_note_->clear();
  show_edit_state();
  if (!failed.isEmpty()) {
    edit_note_->setText(tr("Cannot save: %1").arg(failed.join(QStringLiteral("; "))));
  }
  return failed.isEmpty();
}

bool CompareWindow::eventFilter(QObject* watched, QEvent* event) {
  // Undo and redo in a pane are the window's (copies and typing alike),
  // never the text view's own.
  if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool undoing = key->matches(QKeySequence::Undo);
    const bool redoing = key->matches(QKeySequence::Redo) ||
                         QKeySequence(key->keyCombination()) == keys::redo() ||
                         QKeySequence(key->keyCombination()) == keys::redo_too();
    if (undoing || redoing) {
      if (event->type() == QEvent::KeyPress) undoing ? undo() : redo();
      event->accept();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace marlow

#include "app/find_bar.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "app/commands.h"
#include "app/keys.h"

namespace marlow {

namespace {

// Matches past this many are not counted.
constexpr int kMostCounted = 9999;

}  // namespace

FindBar::FindBar(QWidget* window, std::vector<QPlainTextEdit*> views)
    : QWidget(window), views_(std::move(views)) {
  if (!views_.empty()) view_ = views_.front();
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  field_ = new QLineEdit(this);
  field_->setPlaceholderText(tr("Find in the pane last used"));
  field_->setClearButtonEnabled(true);
  // The window's commands: their keys work wherever the focus is in it.
  find_ = add_command(
      window, tr("Find..."), QKeySequence::keyBindings(QKeySequence::Find), [this] { open(); },
      tr("Search in the pane last used"));
  const auto step = [this](bool backwards) {
    if (field_->text().isEmpty()) {
      open();
    } else {
      find(backwards);
    }
  };
  find_next_ = add_command(
      window, tr("Find next"), {keys::find_next()}, [step] { step(false); },
      tr("Find the next match"));
  find_next_->setIconText(tr("Next"));
  find_previous_ = add_command(
      window, tr("Find previous"), {keys::find_previous()}, [step] { step(true); },
      tr("Find the previous match"));
  find_previous_->setIconText(tr("Previous"));
  auto* previous = command_button(find_previous_, this);
  auto* next = command_button(find_next_, this);
  match_case_ = new QCheckBox(tr("Match case"), this);
  whole_words_ = new QCheckBox(tr("Whole words"), this);
  auto* hide_button = new QPushButton(tr("Close search"), this);
  hide_button->setToolTip(tr("Hide the search bar (Escape in the field)"));
  note_ = new QLabel(this);
  note_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  layout->addWidget(new QLabel(tr("Find:"), this));
  layout->addWidget(field_, 2);
  layout->addWidget(previous);
  layout->addWidget(next);
  layout->addWidget(match_case_);
  layout->addWidget(whole_words_);
  layout->addWidget(note_, 1);
  layout->addWidget(hide_button);
  connect(hide_button, &QPushButton::clicked, this, [this] {
    hide();
    if (view_) view_->setFocus();
  });
  connect(field_, &QLineEdit::textEdited, this, [this] { note_->clear(); });
  for (QCheckBox* box : {match_case_, whole_words_}) {
    connect(box, &QCheckBox::toggled, this, [this] { note_->clear(); });
  }
  field_->installEventFilter(this);
  for (QPlainTextEdit* view : views_) view->installEventFilter(this);

  hide();
}

void FindBar::open() {
  show();
  field_->setFocus();
  field_->selectAll();
}

bool FindBar::find(bool backwards) {
  if (!view_ || field_->text().isEmpty()) return false;
  QTextDocument::FindFlags flags;
  if (backwards) flags |= QTextDocument::FindBackward;
  if (match_case_->isChecked()) flags |= QTextDocument::FindCaseSensitively;
  if (whole_words_->isChecked()) flags |= QTextDocument::FindWholeWords;
  QTextDocument* doc = view_->document();
  QTextCursor found = doc->find(field_->text(), view_->textCursor(), flags);
  bool wrapped = false;
  if (found.isNull()) {
    // Round from the other end.
    QTextCursor from(doc);
    if (backwards) from.movePosition(QTextCursor::End);
    found = doc->find(field_->text(), from, flags);
    wrapped = true;
  }
  if (found.isNull()) {
    note_->setText(tr("Not found"));
    return false;
  }
  // The match in the middle of the view (when the text reaches that far);
  // the window's other views follow it.
  view_->setTextCursor(found);
  view_->centerCursor();
  // Which match of how many.
  const std::vector<int>& starts =
      matches_in(doc, field_->text(), flags & ~QTextDocument::FindBackward).starts;
  const auto at = std::lower_bound(starts.begin(), starts.end(), found.selectionStart());
  // A match past the bound, or one that overlaps another (found going
  // backwards), has no number: the count alone is said.
  const int index = at != starts.end() && *at == found.selectionStart()
                        ? static_cast<int>(at - starts.begin()) + 1
                        : 0;
  const int count = static_cast<int>(starts.size());
  const bool over = count > kMostCounted;
  QString where = index > 0 ? (over ? tr("%1 of more than %2").arg(index).arg(kMostCounted)
                                    : tr("%1 of %2").arg(index).arg(count))
                            : (over ? tr("more than %1 matches").arg(kMostCounted)
                                    : tr("%1 matches").arg(count));
  if (wrapped)
    where += (where.isEmpty() ? QString() : QStringLiteral(", ")) +
             (backwards ? tr("from the end") : tr("from the start"));
  note_->setText(where);
  return true;
}

QString FindBar::note() const { return note_->text(); }

const FindBar::Matches& FindBar::matches_in(QTextDocument* doc, const QString& text,
                                            QTextDocument::FindFlags flags) {
  if (matches_.doc == doc && matches_.text == text && matches_.flags == flags) return matches_;
  disconnect(matches_.edits);
  matches_.doc = doc;
  matches_.text = text;
  matches_.flags = flags;
  matches_.starts.clear();
  // Stopped past a bound, so that a search for a blank in a large file
  // stays quick.
  for (QTextCursor at = doc->find(text, QTextCursor(doc), flags);
       !at.isNull() && matches_.starts.size() <= static_cast<std::size_t>(kMostCounted);
       at = doc->find(text, at, flags)) {
    matches_.starts.push_back(at.selectionStart());
  }
  matches_.edits =
      connect(doc, &QTextDocument::contentsChanged, this, [this] { matches_.doc = nullptr; });
  return matches_;
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    for (QPlainTextEdit* view : views_) {
      if (watched == view) view_ = view;
    }
  }
  if (watched == field_ && event->type() == QEvent::ShortcutOverride &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    event->accept();  // the bar's, not the window's Escape
    return true;
  }
  if (watched == field_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      find(key->modifiers() & Qt::ShiftModifier);
      return true;
    }
    if (key->key() == Qt::Key_Escape) {
      hide();
      if (view_) view_->setFocus();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace marlow

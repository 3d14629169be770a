// A window's commands as QActions: each command is one action owned by the
// window, with its text, its keys, its enabled (and checked) state and what
// it does. Its keys work wherever the focus is in the window; its buttons
// and menu entries show that same action, so that a button, a key and a
// menu entry can never disagree on whether the command can be carried out.
#pragma once

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QString>
#include <utility>

class QAbstractButton;
class QPushButton;
class QWidget;

namespace marlow {

// A new action of `window` (added to it, so that its keys are the window's):
// `text` as menus show it, `keys` first the one menus show, `what` the
// description the key list and the buttons' tool tips give (the text when
// empty). Not connected to anything yet.
QAction* make_command(QWidget* window, const QString& text, const QList<QKeySequence>& keys,
                      const QString& what = {});

// The same, carrying out `slot` when triggered (by its keys, a button or a
// menu entry). A checkable action passes its new state to a slot taking one.
template <typename Slot>
QAction* add_command(QWidget* window, const QString& text, const QList<QKeySequence>& keys,
                     Slot&& slot, const QString& what = {}) {
  QAction* action = make_command(window, text, keys, what);
  QObject::connect(action, &QAction::triggered, window, std::forward<Slot>(slot));
  return action;
}

// `button` shows `action` from now on: its text is the action's icon text
// (the text, or a shorter one set for buttons), its tool tip the action's
// description with its keys; it is enabled and checked as the action is;
// clicking (or toggling) it triggers the action.
void show_command(QAbstractButton* button, QAction* action);
// A push button that shows `action`.
QPushButton* command_button(QAction* action, QWidget* parent);

// The keys of `keys` as the user reads them: "F8, Alt+Down".
QString key_text(const QList<QKeySequence>& keys);

}  // namespace marlow

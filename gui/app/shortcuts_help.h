// The list of a window's keyboard shortcuts, shown on F1 or from a button.
#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

class QPushButton;
class QWidget;

namespace marlow {

// Every key of `window` with what it does: its commands' keys (the
// action's description, else its text), then keys it carries out through
// shortcuts of its own, then the keys every text pane knows. In the order
// made.
std::vector<std::pair<QString, QString>> shortcut_list(QWidget* window);

// The window's command that shows the list (F1), and a "Keys" button for
// the window's bar that shows it.
QPushButton* add_shortcuts_help(QWidget* window);

}  // namespace marlow

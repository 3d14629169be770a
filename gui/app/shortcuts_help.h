// The list of a window's keyboard shortcuts, shown on F1 or from a button.
#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

class QPushButton;
class QWidget;

namespace marlow {

// Every shortcut of `window` with what it does: the shortcut's own
// description (its whatsThis), else the text of the button whose tool tip
// names the keys; then the window's actions with keys (their whatsThis, else
// their text); then the keys every text pane knows. In the order made.
std::vector<std::pair<QString, QString>> shortcut_list(QWidget* window);

// A "Keys" button for the window's bar that shows the list, as F1 does.
QPushButton* add_shortcuts_help(QWidget* window);

}  // namespace marlow

// The panes' syntax colouring: the colour of each token class, and the
// switch that turns it on and off in every pane at once (remembered).
#pragma once

#include <QColor>

#include "engine/highlight.h"

class QAction;
class QCheckBox;
class QMenu;
class QWidget;

namespace marlow {

// The text colour of a token of class `kind` (engine/highlight_palette.h).
QColor token_colour(TokenClass kind);

// Whether the panes colour their text now, and turning it on or off in
// every pane (and in the preference).
bool syntax_highlighting_on();
void set_syntax_highlighting(bool on);

// A check box "Syntax highlighting", or a checkable action in `menu`, that
// shows and sets the switch.
QCheckBox* syntax_highlighting_box(QWidget* parent);
QAction* add_syntax_highlighting_action(QMenu* menu);

}  // namespace marlow

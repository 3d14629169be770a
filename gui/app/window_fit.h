// Window sizes that fit the screen a window opens on.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>

class QWidget;

namespace marlow {

// Gives `window` the size the user last gave this kind of window, else
// `wanted`, either shrunk to fit the available area of the screen it opens
// on (with room for the frame), and keeps the sizes the user gives it from
// then on. Call before the window is shown.
void fit_to_screen(QWidget* window, const QString& kind, QSize wanted);

}  // namespace marlow

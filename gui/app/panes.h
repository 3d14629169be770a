// Pieces shared by the windows: read-only text panes, row highlighting, and
// turning lines into the text an editor shows.
#pragma once

#include <QColor>
#include <QPlainTextEdit>
#include <QString>
#include <string>
#include <vector>

#include "engine/text_codec.h"

namespace marlow {

QString q(const std::string& utf8);

// The lines as an editor shows them: the texts joined by line feeds.
QString shown(const std::vector<Line>& lines);

// A read-only, non-wrapping pane in a fixed-width font.
QPlainTextEdit* make_viewer(QWidget* parent);

// Gives row i the background rows[i]; an invalid colour leaves it plain.
void highlight_rows(QPlainTextEdit* edit, const std::vector<QColor>& rows);

// Puts the cursor on `row` and scrolls it to the middle.
void show_row(QPlainTextEdit* edit, int row);

inline const QColor kChanged(255, 240, 170);
inline const QColor kRemoved(255, 205, 205);
inline const QColor kAdded(205, 245, 205);
inline const QColor kFiller(230, 230, 230);

}  // namespace marlow

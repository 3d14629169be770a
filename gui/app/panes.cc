#include "app/panes.h"

#include <QTextBlock>

namespace marlow {

QString q(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

QString shown(const std::vector<Line>& lines) {
  QString text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i != 0) text += QLatin1Char('\n');
    text += q(lines[i].text);
  }
  return text;
}

QPlainTextEdit* make_viewer(QWidget* parent) {
  auto* edit = new QPlainTextEdit(parent);
  edit->setReadOnly(true);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont font(QStringLiteral("monospace"));
  font.setStyleHint(QFont::TypeWriter);
  edit->setFont(font);
  return edit;
}

void highlight_rows(QPlainTextEdit* edit, const std::vector<QColor>& rows) {
  QList<QTextEdit::ExtraSelection> selections;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    if (!rows[row].isValid()) continue;
    QTextEdit::ExtraSelection s;
    s.cursor = QTextCursor(edit->document()->findBlockByNumber(static_cast<int>(row)));
    s.format.setBackground(rows[row]);
    s.format.setProperty(QTextFormat::FullWidthSelection, true);
    selections.append(s);
  }
  edit->setExtraSelections(selections);
}

void show_row(QPlainTextEdit* edit, int row) {
  QTextCursor cursor(edit->document()->findBlockByNumber(row));
  edit->setTextCursor(cursor);
  edit->centerCursor();
}

}  // namespace marlow

#include "app/shortcuts_help.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/commands.h"
#include "app/keys.h"

namespace marlow {

std::vector<std::pair<QString, QString>> shortcut_list(QWidget* window) {
  std::vector<std::pair<QString, QString>> list;
  // The window's commands, each with its keys and what it does.
  for (const QAction* action : window->actions()) {
    const QString keys = key_text(action->shortcuts());
    if (keys.isEmpty()) continue;
    QString what = action->whatsThis();
    if (what.isEmpty()) what = QString(action->text()).remove(QLatin1Char('&'));
    list.emplace_back(keys, what);
  }
  // Keys a window still carries out through shortcuts of its own: the
  // shortcut's description, else the text of the button whose tool tip
  // names the keys.
  const QList<QAbstractButton*> buttons = window->findChildren<QAbstractButton*>();
  for (const QShortcut* shortcut : window->findChildren<QShortcut*>()) {
    const QString keys = key_text(shortcut->keys());
    if (keys.isEmpty()) continue;
    QString what = shortcut->whatsThis();
    for (qsizetype i = 0; what.isEmpty() && i < buttons.size(); ++i) {
      const QString tip = buttons[i]->toolTip();
      const qsizetype open = tip.lastIndexOf(QLatin1Char('('));
      if (open < 0) continue;
      for (const QString& named : tip.mid(open + 1).chopped(1).split(QStringLiteral(", "))) {
        if (shortcut->keys().contains(QKeySequence(named, QKeySequence::PortableText))) {
          what = QString(buttons[i]->text()).remove(QLatin1Char('&'));
        }
      }
    }
    list.emplace_back(keys, what);
  }
  // The keys of the text panes, where the window has any.
  if (window->findChild<QPlainTextEdit*>() == nullptr) return list;
  const auto pane = [&list](const char* keys, const char* what) {
    list.emplace_back(QKeySequence(QString::fromLatin1(keys)).toString(QKeySequence::NativeText),
                      QWidget::tr(what));
  };
  pane("Return", "The default button (Close, or Save and close)");
  pane("PgUp", "Scroll every pane up a page");
  pane("PgDown", "Scroll every pane down a page");
  pane("Ctrl+Home", "Every pane to the start");
  pane("Ctrl+End", "Every pane to the end");
  pane("Ctrl++", "Larger text in every pane (also Ctrl+wheel)");
  pane("Ctrl+-", "Smaller text in every pane");
  pane("Ctrl+0", "Text back to its first size");
  list.emplace_back(
      QWidget::tr("Right click, Menu key"),
      QWidget::tr("The pane's menu: copy, go to a change, and in a merge take a side "
                  "or a block or the selected lines, accept or reject a clean change"));
  return list;
}

namespace {

void show_list(QWidget* window) {
  QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"3\">");
  for (const auto& [keys, what] : shortcut_list(window)) {
    html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>")
                .arg(keys.toHtmlEscaped(), what.toHtmlEscaped());
  }
  html += QStringLiteral("</table>");
  QDialog dialog(window);
  dialog.setObjectName(QStringLiteral("shortcuts_help"));
  dialog.setWindowTitle(QWidget::tr("Keyboard shortcuts"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* scroll = new QScrollArea(&dialog);
  auto* label = new QLabel(html, scroll);
  label->setTextFormat(Qt::RichText);
  scroll->setWidget(label);
  scroll->setWidgetResizable(true);
  layout->addWidget(scroll);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(close, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(close);
  // As wide as the longest line where the screen has the room, so that
  // nothing needs sideways scrolling; on a narrower screen the descriptions
  // wrap. As tall as the list, within the screen.
  label->setWordWrap(true);
  const QRect screen = window->screen()->availableGeometry();
  const int frame = 2 * scroll->frameWidth() + scroll->verticalScrollBar()->sizeHint().width();
  const QMargins margins = layout->contentsMargins();
  const int around = frame + margins.left() + margins.right();
  QTextDocument text;
  text.setDefaultFont(label->font());
  text.setHtml(html);
  const int width =
      std::min(static_cast<int>(std::ceil(text.idealWidth())) + around, screen.width() - 24);
  text.setTextWidth(width - around);
  const int height = static_cast<int>(std::ceil(text.size().height())) + frame +
                     close->sizeHint().height() + layout->spacing() + margins.top() +
                     margins.bottom();
  dialog.resize(width, std::min(height, std::min(640, screen.height() - 48)));
  dialog.exec();
}

}  // namespace

QPushButton* add_shortcuts_help(QWidget* window) {
  QAction* help = add_command(
      window, QWidget::tr("Keys"), {keys::help()}, [window] { show_list(window); },
      QWidget::tr("List the keyboard shortcuts"));
  return command_button(help, window);
}

}  // namespace marlow

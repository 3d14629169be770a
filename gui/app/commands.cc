#include "app/commands.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

namespace marlow {

QAction* make_command(QWidget* window, const QString& text, const QList<QKeySequence>& keys,
                      const QString& what) {
  auto* action = new QAction(text, window);
  // A key that is not there (a side past the ninth has none) is left out.
  QList<QKeySequence> given;
  for (const QKeySequence& key : keys) {
    if (!key.isEmpty()) given << key;
  }
  action->setShortcuts(given);
  action->setShortcutContext(Qt::WindowShortcut);
  if (!what.isEmpty()) action->setWhatsThis(what);
  window->addAction(action);
  return action;
}

QString key_text(const QList<QKeySequence>& keys) {
  QStringList all;
  for (const QKeySequence& key : keys) {
    if (!key.isEmpty()) all << key.toString(QKeySequence::NativeText);
  }
  return all.join(QStringLiteral(", "));
}

void show_command(QAbstractButton* button, QAction* action) {
  const auto follow = [button, action] {
    button->setText(action->iconText());
    QString tip = action->whatsThis();
    if (tip.isEmpty()) tip = QString(action->text()).remove(QLatin1Char('&'));
    const QString keys = key_text(action->shortcuts());
    button->setToolTip(keys.isEmpty() ? tip : QStringLiteral("%1 (%2)").arg(tip, keys));
    button->setEnabled(action->isEnabled());
    button->setCheckable(action->isCheckable());
    if (action->isCheckable() && button->isChecked() != action->isChecked()) {
      const QSignalBlocker quiet(button);
      button->setChecked(action->isChecked());
    }
  };
  follow();
  QObject::connect(action, &QAction::changed, button, follow);
  QObject::connect(action, &QAction::toggled, button, follow);
  if (action->isCheckable()) {
    // Toggled by a click, a key of its own or setChecked: the action takes
    // the new state as if triggered.
    QObject::connect(button, &QAbstractButton::toggled, action, [action](bool on) {
      if (action->isChecked() != on) action->trigger();
    });
  } else {
    QObject::connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
  }
}

QPushButton* command_button(QAction* action, QWidget* parent) {
  auto* button = new QPushButton(parent);
  show_command(button, action);
  return button;
}

}  // namespace marlow

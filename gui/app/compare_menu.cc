#include "app/compare_menu.h"

#include <QAction>
#include <QMenu>

#include "app/compare_window.h"
#include "app/panes.h"
#include "app/syntax_colours.h"

namespace marlow {

namespace {

// Adds the checkable options beyond whitespace and line ends to `menu`,
// checked as the window has them now.
void add_more_ignoring(QMenu* menu, CompareWindow* window) {
  const auto option = [menu, window](const QString& text, bool IgnoreOptions::*member) {
    QAction* action = menu->addAction(text);
    action->setCheckable(true);
    action->setChecked(window->ignore_options().*member);
    QObject::connect(action, &QAction::triggered, menu, [window, member](bool on) {
      IgnoreOptions options = window->ignore_options();
      options.*member = on;
      static_cast<void>(window->set_ignore_options(options));  // no filter changes: cannot fail
    });
  };
  option(QObject::tr("Ignore case"), &IgnoreOptions::ignore_case);
  option(QObject::tr("Ignore changes in the amount of whitespace"),
         &IgnoreOptions::ignore_whitespace_amount);
  option(QObject::tr("Ignore blank lines"), &IgnoreOptions::ignore_blank_lines);
  const std::string& filter = window->ignore_options().line_filter;
  QAction* lines =
      menu->addAction(filter.empty() ? QObject::tr("Filter lines...")
                                     : QObject::tr("Filter lines (%1)...").arg(q(filter)));
  QObject::connect(lines, &QAction::triggered, window, [window] { window->ask_line_filter(); });
}

}  // namespace

QMenu* ignore_menu(CompareWindow* window, QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->setObjectName(QStringLiteral("ignore_menu"));
  // Filled as it opens, with the options as they are then.
  QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, window] {
    menu->clear();
    add_more_ignoring(menu, window);
    menu->addSeparator();
    menu->addAction(window->wrap_action());
  });
  return menu;
}

QMenu* compare_pane_menu(CompareWindow* window, DiffPane* pane) {
  // The menu's pane is the focused one, as after a right click: the copies
  // go from it, and their state says whether they can.
  pane->setFocus();
  window->update_actions();
  auto* menu = new QMenu(window);
  menu->setObjectName(QStringLiteral("compare_menu"));
  // The pane's own: its selection.
  QAction* copy = menu->addAction(QObject::tr("Copy"), pane, &DiffPane::copy);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(pane->textCursor().hasSelection());
  QAction* all = menu->addAction(QObject::tr("Select all"), pane, &DiffPane::selectAll);
  all->setShortcut(QKeySequence::SelectAll);
  // The window's commands, as its buttons and keys have them.
  const CompareWindow::Commands& c = window->commands();
  menu->addSeparator();
  menu->addActions({c.next, c.previous});
  menu->addSeparator();
  menu->addActions({c.copy_left, c.copy_right, c.undo, c.save});
  menu->addSeparator();
  menu->addActions({c.ignore_whitespace, c.ignore_line_ends});
  add_more_ignoring(menu, window);
  menu->addAction(window->wrap_action());
  menu->addSeparator();
  menu->addAction(c.go_to_line);
  add_syntax_highlighting_action(menu);
  return menu;
}

void add_compare_pane_menus(CompareWindow* window) {
  for (int i = 0; i < window->pane_count(); ++i) {
    DiffPane* pane = window->pane(i);
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(pane, &QWidget::customContextMenuRequested, window,
                     [window, pane](const QPoint& at) {
                       QMenu* menu = compare_pane_menu(window, pane);
                       menu->setAttribute(Qt::WA_DeleteOnClose);
                       menu->popup(pane->viewport()->mapToGlobal(at));
                     });
  }
}

}  // namespace marlow

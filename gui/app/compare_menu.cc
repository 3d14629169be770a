#include "app/compare_menu.h"

#include <QAction>
#include <QMenu>

#include "app/compare_window.h"
#include "app/keys.h"
#include "app/panes.h"
#include "app/syntax_colours.h"

namespace marlow {

QMenu* compare_pane_menu(CompareWindow* window, DiffPane* pane) {
  auto* menu = new QMenu(window);
  menu->setObjectName(QStringLiteral("compare_menu"));
  const auto add = [menu](const QString& text, const QKeySequence& keys, bool enabled,
                          auto&& action) {
    return keys::add_to_menu(menu, text, keys, enabled, action);
  };
  add(QObject::tr("Copy"), QKeySequence::Copy, pane->textCursor().hasSelection(),
      [pane] { pane->copy(); });
  add(QObject::tr("Select all"), QKeySequence::SelectAll, true, [pane] { pane->selectAll(); });
  menu->addSeparator();
  const int current = window->current_difference();
  add(QObject::tr("Next difference"), keys::next(), current + 1 < window->difference_count(),
      [window] { window->go_to_difference(window->current_difference() + 1); });
  add(QObject::tr("Previous difference"), keys::previous(), current > 0,
      [window] { window->go_to_difference(window->current_difference() - 1); });
  menu->addSeparator();
  QAction* blanks = add(QObject::tr("Ignore whitespace"), QKeySequence(), true,
                        [window](bool on) { window->set_ignore_whitespace(on); });
  blanks->setCheckable(true);
  blanks->setChecked(window->ignore_whitespace());
  QAction* ends = add(QObject::tr("Ignore line ends"), QKeySequence(), true,
                      [window](bool on) { window->set_ignore_line_ends(on); });
  ends->setCheckable(true);
  ends->setChecked(window->ignore_line_ends());
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

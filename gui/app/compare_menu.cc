#include "app/compare_menu.h"

#include <QAction>
#include <QMenu>

#include "app/compare_window.h"
#include "app/keys.h"
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
  int index = 0;
  while (index < window->pane_count() && window->pane(index) != pane) ++index;
  // Copying from this pane, to either side, where that file can be written.
  add(QObject::tr("Copy the difference to the left"), keys::copy_to_left(),
      index > 0 && window->session().writable(static_cast<std::size_t>(index - 1)), [window, pane] {
        pane->setFocus();
        window->copy_difference(-1);
      });
  add(QObject::tr("Copy the difference to the right"), keys::copy_to_right(),
      index + 1 < window->pane_count() &&
          window->session().writable(static_cast<std::size_t>(index + 1)),
      [window, pane] {
        pane->setFocus();
        window->copy_difference(1);
      });
  add(QObject::tr("Undo"), QKeySequence::Undo, window->session().can_undo(),
      [window] { window->undo(); });
  add(QObject::tr("Save"), QKeySequence::Save, window->has_unsaved_edits(),
      [window] { window->save(); });
  menu->addSeparator();
  QAction* blanks = add(QObject::tr("Ignore whitespace"), QKeySequence(), true,
                        [window](bool on) { window->set_ignore_whitespace(on); });
  blanks->setCheckable(true);
  blanks->setChecked(window->ignore_whitespace());
  QAction* ends = add(QObject::tr("Ignore line ends"), QKeySequence(), true,
                      [window](bool on) { window->set_ignore_line_ends(on); });
  ends->setCheckable(true);
  ends->setChecked(window->ignore_line_ends());
  add_more_ignoring(menu, window);
  menu->addAction(window->wrap_action());
  menu->addSeparator();
  add(QObject::tr("Go to line..."), keys::go_to_line(), true,
      [window] { window->ask_go_to_line(); });
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

// The menu of a compare window's panes (a right click): copy, the
// differences in turn, and the options that lay the rows out again.
#pragma once

class QMenu;
class QWidget;

namespace marlow {

class CompareWindow;
class DiffPane;

// The menu of the options beyond whitespace and line ends (case, the
// amount of whitespace, blank lines, the line filter), owned by `parent`.
QMenu* ignore_menu(CompareWindow* window, QWidget* parent);
// The menu for `pane`; the caller owns it.
QMenu* compare_pane_menu(CompareWindow* window, DiffPane* pane);
// Every pane of the window shows that menu on a right click.
void add_compare_pane_menus(CompareWindow* window);

}  // namespace marlow

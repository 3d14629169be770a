// The menu of a compare window's panes (a right click): copy, the
// differences in turn, and the options that lay the rows out again.
#pragma once

class QMenu;

namespace marlow {

class CompareWindow;
class DiffPane;

// The menu for `pane`; the caller owns it.
QMenu* compare_pane_menu(CompareWindow* window, DiffPane* pane);
// Every pane of the window shows that menu on a right click.
void add_compare_pane_menus(CompareWindow* window);

}  // namespace marlow

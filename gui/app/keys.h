// The keys of the windows' commands, in one place: each window gives its
// commands (QActions, see commands.h) their keys from here. Standard keys
// (copy, undo, save, ...) are Qt's own.
#pragma once

#include <QKeySequence>
#include <cstddef>

namespace marlow::keys {

// The next and previous difference or conflict, each with a second key.
inline QKeySequence next() { return QKeySequence(Qt::Key_F8); }
inline QKeySequence next_too() { return QKeySequence(Qt::ALT | Qt::Key_Down); }
inline QKeySequence previous() { return QKeySequence(Qt::SHIFT | Qt::Key_F8); }
inline QKeySequence previous_too() { return QKeySequence(Qt::ALT | Qt::Key_Up); }
// The merge window's other ways through the merge.
inline QKeySequence next_unresolved() { return QKeySequence(Qt::CTRL | Qt::Key_F8); }
inline QKeySequence previous_unresolved() {
  return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F8);
}
inline QKeySequence next_clean_change() { return QKeySequence(Qt::ALT | Qt::Key_F8); }
inline QKeySequence previous_clean_change() {
  return QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_F8);
}
// Ctrl+W on every platform (the standard Close keys are only Ctrl+F4 on some).
inline QKeySequence close() { return QKeySequence(Qt::CTRL | Qt::Key_W); }
inline QKeySequence take_all() { return QKeySequence(Qt::CTRL | Qt::Key_B); }
// Every changed side's lines, the other side's first.
inline QKeySequence take_all_other_first() {
  return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B);
}
// The lines selected in a side's pane, added to (or taken out of) the
// lines the conflict holds.
inline QKeySequence take_lines() { return QKeySequence(Qt::CTRL | Qt::Key_T); }
// A copy of the merged result in a file of the user's choice.
inline QKeySequence save_as() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S); }
// The merge window's suggestions for the current conflict: accept the one
// shown, or show the next or previous one.
inline QKeySequence accept_suggestion() { return QKeySequence(Qt::ALT | Qt::Key_Return); }
inline QKeySequence next_suggestion() { return QKeySequence(Qt::ALT | Qt::Key_Right); }
inline QKeySequence previous_suggestion() { return QKeySequence(Qt::ALT | Qt::Key_Left); }
inline QKeySequence toggle_clean_change() { return QKeySequence(Qt::CTRL | Qt::Key_R); }
// Escape also closes a window that only shows something.
inline QKeySequence dismiss() { return QKeySequence(Qt::Key_Escape); }
// The next and previous match of a search.
inline QKeySequence find_next() { return QKeySequence(Qt::Key_F3); }
inline QKeySequence find_previous() { return QKeySequence(Qt::SHIFT | Qt::Key_F3); }
// The list of a window's keys.
inline QKeySequence help() { return QKeySequence(Qt::Key_F1); }
// Redo as Ctrl+Shift+Z and Ctrl+Y on every platform.
inline QKeySequence redo() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z); }
inline QKeySequence redo_too() { return QKeySequence(Qt::CTRL | Qt::Key_Y); }
// In a comparison: go to a line, move between the panes, copy the current
// difference to the pane on the left or on the right.
inline QKeySequence go_to_line() { return QKeySequence(Qt::CTRL | Qt::Key_L); }
inline QKeySequence next_pane() { return QKeySequence(Qt::Key_F6); }
inline QKeySequence previous_pane() { return QKeySequence(Qt::SHIFT | Qt::Key_F6); }
inline QKeySequence copy_to_left() { return QKeySequence(Qt::ALT | Qt::Key_Left); }
inline QKeySequence copy_to_right() { return QKeySequence(Qt::ALT | Qt::Key_Right); }
inline QKeySequence edit() { return QKeySequence(Qt::CTRL | Qt::Key_E); }

// The directory comparison: read both directories again, open or close
// every folder; copy_to_left/right copy the chosen files to the other side.
inline QKeySequence refresh() { return QKeySequence(Qt::Key_F5); }
inline QKeySequence expand_all() { return QKeySequence(Qt::CTRL | Qt::Key_E); }
inline QKeySequence collapse_all() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E); }

// Side `side` (counted from 0) with `modifiers` and its digit; the first
// nine sides have keys, the others none.
inline QKeySequence side_key(Qt::KeyboardModifiers modifiers, std::size_t side) {
  if (side >= 9) return QKeySequence();
  return QKeySequence(modifiers | static_cast<Qt::Key>(Qt::Key_1 + static_cast<int>(side)));
}
// Take a side for this conflict, for every conflict still unresolved, or
// for the block of the conflict only.
inline QKeySequence take(std::size_t side) { return side_key(Qt::ControlModifier, side); }
inline QKeySequence take_remaining(std::size_t side) {
  return side_key(Qt::ControlModifier | Qt::AltModifier, side);
}
inline QKeySequence take_block(std::size_t side) {
  return side_key(Qt::ControlModifier | Qt::ShiftModifier, side);
}

}  // namespace marlow::keys

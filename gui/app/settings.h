// The program's preferences, kept with QSettings (organisation "Brightdesk",
// application "marlow"; on Linux ~/.config/Brightdesk/marlow.conf).
#pragma once

#include <QSize>
#include <QString>

#include "engine/ignore_options.h"

namespace marlow {

// The saved preference: write a merge without conflicts at once, without a
// window. Off unless the user turned it on.
bool automatic_merge_preference();
void set_automatic_merge_preference(bool on);

// Whether automatic merging is in force for the next request: MARLOW_AUTOMATIC
// when it is set and not empty ("0" turns it off, anything else on), else
// the saved preference.
bool automatic_merge_enabled();

// The size the user last gave a kind of window ("compare", "merge");
// invalid when none was kept.
QSize window_size_preference(const QString& window);
void set_window_size_preference(const QString& window, QSize size);

// Whether lines that differ only in their line ends, or only in blanks,
// count as equal in the windows.
bool ignore_line_ends_preference();
void set_ignore_line_ends_preference(bool on);
bool ignore_whitespace_preference();
// How many columns a tab takes in the panes (1 to 16; 8 unless set).
int tab_width_preference();
void set_tab_width_preference(int columns);
void set_ignore_whitespace_preference(bool on);
// Whether the merge window goes on to the next unresolved conflict after a
// side is taken (off unless set).
bool advance_after_take_preference();
void set_advance_after_take_preference(bool on);

// Whether the directory comparison shows the files in a state ("identical",
// "different", "only_left", "only_right"; shown unless set), and the name
// patterns it leaves out (none unless set).
bool directory_shows_preference(const QString& state);
void set_directory_shows_preference(const QString& state, bool shown);
QString directory_exclude_preference();
void set_directory_exclude_preference(const QString& patterns);

// Everything the compare window ignores, the two above included.
IgnoreOptions ignore_options_preference();
void set_ignore_options_preference(const IgnoreOptions& options);

// Whether the panes colour the text by its syntax (on unless turned off).
bool syntax_highlighting_preference();
void set_syntax_highlighting_preference(bool on);

// Whether the compare and merge windows wrap long lines (off unless turned on).
bool wrap_lines_preference();
void set_wrap_lines_preference(bool on);

}  // namespace marlow

// The program's preferences, kept in the registry under
// HKEY_CURRENT_USER\Software\Brightdesk\marlow.
#pragma once

#include <string>

namespace marlow::win32 {

// Whether a merge without conflicts (or a comparison of equal texts) is
// answered at once without a window: MARLOW_AUTOMATIC when set and not empty
// ("0" turns it off), else the saved preference (off unless turned on).
bool automatic_merge_enabled();

bool ignore_line_ends_preference();
void set_ignore_line_ends_preference(bool on);
bool ignore_whitespace_preference();
void set_ignore_whitespace_preference(bool on);
// Whether the panes colour their text by its syntax (on unless turned off).
bool syntax_highlighting_preference();
void set_syntax_highlighting_preference(bool on);
// How many columns a tab takes in the panes (1 to 16; 8 unless set).
int tab_width_preference();

// The size, in pixels at 96 dots per inch, the user last gave a kind of
// window ("compare", "merge", "directory"); false when none was kept.
bool window_size_preference(const std::string& kind, int* width, int* height);
void set_window_size_preference(const std::string& kind, int width, int height);

}  // namespace marlow::win32

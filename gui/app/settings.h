// The program's preferences, kept with QSettings (organisation "Brightdesk",
// application "marlow"; on Linux ~/.config/Brightdesk/marlow.conf).
#pragma once

namespace marlow {

// The saved preference: write a merge without conflicts at once, without a
// window. Off unless the user turned it on.
bool automatic_merge_preference();
void set_automatic_merge_preference(bool on);

// Whether automatic merging is in force for the next request: MARLOW_AUTOMATIC
// when it is set and not empty ("0" turns it off, anything else on), else
// the saved preference.
bool automatic_merge_enabled();

}  // namespace marlow

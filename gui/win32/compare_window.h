// The comparison window: every contributor side by side in panes painted
// with GDI, scrolled together by every means, changed lines and changed
// characters coloured, next and previous difference, whitespace and line
// ends ignored on demand, search. Closing it answers 1.
#pragma once

#include "serve/serve.h"
#include "win32/window.h"

namespace marlow::win32 {

// Opens the window for `job`; it deletes itself when it closes.
void open_compare_window(Job job, Finish finish);

}  // namespace marlow::win32
